#include "script/Script.h"

#include "base/DateText.h"
#include "base/TextCodec.h"
#include "base/UserInterface.h"

#include <QFile>
#include "base/SafeFile.h"

#include <climits>

using namespace ScriptText;

TScriptLine ParseScriptLine(const QString &line)
{
    TScriptLine parsed;
    const qsizetype marker = line.indexOf(CodeMarker);
    if (marker < 0)
        return parsed;
    parsed.IsEvent = true;
    parsed.Head = line.left(marker);
    const qsizetype codeAt = marker + CodeMarker.size();
    bool ok = false;
    const qint64 code = ParseFileInteger(QStringView(line).mid(codeAt, 2), &ok);
    parsed.Code = ok ? static_cast<int>(code) : -1;
    // The markers are looked for after the code marker: a path in the
    // description may hold " @ " itself.
    const qsizetype at = line.indexOf(ArgumentMarker, codeAt);
    if (at >= 0) {
        const qsizetype from = at + ArgumentMarker.size();
        const qsizetype end = line.lastIndexOf(EndMarker);
        if (end >= from)
            parsed.Argument = line.mid(from, end - from).trimmed();
    }
    return parsed;
}

QString EventDescription(const QString &caption, const QString &text)
{
    return caption.leftJustified(20) + QLatin1Char(' ') + text.leftJustified(60);
}

QString GotoEventDescription(int target, int count)
{
    return GotoDescription.leftJustified(20) + QLatin1Char(' ') + QString::number(target).leftJustified(30) +
           QStringLiteral(" x ") + QString::number(count).leftJustified(27);
}

QString EventLine(int number, const QString &description, int code, const QString &argument)
{
    return QString::number(number) + QStringLiteral(" : ") + description + CodeMarker + QString::number(code) +
           ArgumentMarker + argument + EndMarker;
}

void TScript::SetWakeUp(const QDateTime &when, const QLocale &locale)
{
    const QString line = EventLine(1, EventDescription(WakeUpCaption, LocalDateTimeText(when, locale)), WakeUpCode,
                                   FormatFileReal(DayNumber(when)));
    if (Lines.isEmpty()) {
        Lines << line;
        return;
    }
    // Only a wake-up event is replaced: a memo that happens to mention
    // "Wake up" at the top is the operator's text and stays.
    const TScriptLine first = ParseScriptLine(Lines.first());
    if (first.IsEvent && first.Code == WakeUpCode && Lines.first().contains(WakeUpCaption)) {
        Lines.first() = line;
        return;
    }
    for (qsizetype i = 0; i < Lines.size(); ++i) {
        QString &l = Lines[i];
        const qsizetype colon = l.indexOf(QLatin1Char(':'));
        // A memo keeps its whole text, also when it holds a colon.
        const bool memo = !l.contains(CodeMarker);
        l = QString::number(i + 2) + QLatin1Char(' ') + (colon < 0 || memo ? l : l.mid(colon));
    }
    Lines.prepend(line);
}

void TScript::AddStartConfiguration(const QString &path)
{
    Lines << EventLine(int(Lines.size()) + 1, EventDescription(StartCaption, path), StartCode, path);
}

void TScript::AddLatency(const QString &hoursText, double hours)
{
    Lines << EventLine(int(Lines.size()) + 1, EventDescription(LatencyCaption, hoursText + QStringLiteral(" hour(s)")),
                       LatencyCode, FormatFileReal(hours * 0.041666666666666666668));
}

void TScript::AddGoto(const QString &description, int target, int count)
{
    Lines << EventLine(int(Lines.size()) + 1, description, GotoCode,
                       QString::number(target) + QLatin1Char(':') + QString::number(count));
}

void TScript::CutLastLine()
{
    if (!Lines.isEmpty())
        Lines.removeLast();
}

bool TScript::LatencyBtnCommand(TUserInterface &ui)
{
    QString answer = QStringLiteral("0.0");
    for (;;) {
        if (!ui.InputPrompt(LatencyCaption, QStringLiteral("Enter latency after the starting of the last event (value in hour)"),
                            answer))
            return false;
        bool ok = false;
        const double hours = ParseFileReal(answer, &ok);
        if (ok) {
            AddLatency(answer, hours);
            return true;
        }
        ui.Message(QStringLiteral("Input ERROR"));
    }
}

bool TScript::GotoBtnCommand(TUserInterface &ui)
{
    QString target = QStringLiteral("2");
    if (!ui.InputPrompt(GotoDescription, QStringLiteral("Enter event number to restart"), target))
        return false;
    QString count = QStringLiteral("999");
    QString description;
    if (ui.InputPrompt(GotoDescription, QStringLiteral("enter the number of times that the sequence should be started again"),
                       count)) {
        bool ok = false;
        const qint64 t = ParseFileInteger(target, &ok);
        const int targetNumber = ok && t >= INT_MIN && t <= INT_MAX ? int(t) : 0;
        const qint64 c = ParseFileInteger(count, &ok);
        const int countNumber = ok && c >= INT_MIN && c <= INT_MAX ? int(c) : 999;
        description = GotoEventDescription(targetNumber, countNumber);
        target = QString::number(targetNumber);
        count = QString::number(countNumber);
    } else {
        count = QStringLiteral("999");
    }
    Lines << EventLine(int(Lines.size()) + 1, description, GotoCode, target + QLatin1Char(':') + count);
    return true;
}

bool TScript::MemoBtnCommand(TUserInterface &ui)
{
    QString text;
    if (!ui.InputPrompt(QStringLiteral("Insert text"), QStringLiteral("Enter text"), text))
        return false;
    AddMemo(text);
    return true;
}

QStringList TScript::ReadLines(const QString &path, QString &error, bool *ok, bool *utf8)
{
    *ok = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return {};
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return {};
    }
    if (utf8)
        *utf8 = IsUtf8Text(bytes);
    QString text = DecodeText(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    // The line end after the last line does not start another one.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    *ok = true;
    return lines;
}

bool TScript::Load(const QString &path, QString &error)
{
    bool ok = false;
    bool utf8 = false;
    QStringList lines = ReadLines(path, error, &ok, &utf8);
    if (ok) {
        Lines = std::move(lines);
        Utf8 = utf8;
    }
    return ok;
}

bool TScript::Save(const QString &path, QString &error) const
{
    QString text;
    for (const QString &line : Lines)
        text += line + QStringLiteral("\r\n");
    error = TSafeFile::Write(path, Utf8 ? text.toUtf8() : EncodeText(text));
    return error.isEmpty();
}
