#include "cli/Console.h"

#include "base/EventWait.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <string>

#include <unistd.h>

void PrintError(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void PrintOut(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void TConsoleUi::Yield() { WaitForEvents(0); }

void TConsoleUi::WaitEvents(int maxWaitMs) { WaitForEvents(maxWaitMs); }

bool TConsoleUi::Confirm(const QString &text, const QString &title)
{
    if (AssumeYes)
        return true;
    if (!isatty(STDIN_FILENO)) {
        PrintError(QStringLiteral("%1: %2 (no terminal to answer; use --yes)").arg(title, text));
        return false;
    }
    std::fprintf(stderr, "%s\n%s\n[OK/cancel] ", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    const QString a = QString::fromLocal8Bit(answer.c_str()).trimmed().toLower();
    return a.isEmpty() || a == QLatin1String("ok") || a == QLatin1String("y") || a == QLatin1String("yes");
}

void TConsoleUi::Message(const QString &text)
{
    Messages << text;
    PrintError(text);
}

void TConsoleUi::ErrorBox(const QString &title, const QString &text)
{
    Messages << text;
    PrintError(title + QStringLiteral(": ") + text);
}

bool TConsoleUi::InputPrompt(const QString &caption, const QString &prompt, QString &value)
{
    if (!isatty(STDIN_FILENO))
        return false;
    std::fprintf(stderr, "%s\n%s [%s] ", caption.toLocal8Bit().constData(), prompt.toLocal8Bit().constData(),
                 value.toLocal8Bit().constData());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    if (!answer.empty())
        value = QString::fromLocal8Bit(answer.c_str());
    return true;
}

void TConsoleUi::SetProgressRange(int minimum, int maximum)
{
    Minimum = minimum;
    Maximum = maximum;
}

void TConsoleUi::ShowErrorIndicator(bool visible)
{
    if (visible && !ErrorShown)
        PrintError(QStringLiteral("Crc error"));
    ErrorShown = visible;
}

void TConsoleView::SetStatusText(const QString &text)
{
    Status = text;
    if (Verbose && !text.isEmpty())
        PrintError(text);
}
