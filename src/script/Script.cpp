#include "script/Script.h"

#include "base/DateText.h"
#include "base/TextCodec.h"
#include "base/UserInterface.h"

#include "base/SafeFile.h"

#include <climits>
#include <cmath>
#include <vector>

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

qint64 BackwardGotoTarget(const TScriptLine &line, qsizetype index, bool *counted)
{
    if (!line.IsEvent || line.Code != GotoCode || line.Argument.isEmpty())
        return 0;
    const qsizetype colon = line.Argument.indexOf(QLatin1Char(':'));
    bool ok = false;
    const qint64 target =
        ParseFileInteger(colon < 0 ? QStringView(line.Argument) : QStringView(line.Argument).left(colon), &ok);
    if (!ok || target < 1 || target - 1 > index)
        return 0;
    if (counted) {
        *counted = false;
        if (colon >= 0)
            ParseFileInteger(QStringView(line.Argument).mid(colon + 1, 3), counted);
    }
    return target;
}

QString ScheduleRangeError(const QStringList &lines, double today)
{
    constexpr double Century = 36525.0;  // days
    // Lines a backward goto runs again.
    std::vector<bool> inLoop(std::size_t(lines.size()), false);
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (const qint64 target = BackwardGotoTarget(ParseScriptLine(lines[i]), i))
            for (qsizetype j = target - 1; j < i; ++j)
                inLoop[std::size_t(j)] = true;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const TScriptLine e = ParseScriptLine(lines[i]);
        if (!e.IsEvent || (e.Code != WakeUpCode && e.Code != LatencyCode) || e.Argument.isEmpty())
            continue;
        bool ok = false;
        const double value = ParseFileReal(e.Argument, &ok);
        if (!ok)
            continue;  // the run says it is not a number
        if (e.Code == WakeUpCode && std::fabs(value - today) > Century)
            return QStringLiteral("Line %1: the wake-up time (day %2) is more than 100 years from today")
                .arg(i + 1)
                .arg(e.Argument);
        if (e.Code == LatencyCode && std::fabs(value) > Century)
            return QStringLiteral("Line %1: a latency of %2 hour(s) is beyond 100 years")
                .arg(i + 1)
                .arg(QString::number(value * 24.0, 'g', 6));
        if (e.Code == LatencyCode && inLoop[std::size_t(i)] && value > 0 && value < OneSecondInDays)
            return QStringLiteral("Line %1: a latency of %2 s in a loop is under one second: the loop would run "
                                  "without pause")
                .arg(i + 1)
                .arg(QString::number(value * 86400.0, 'g', 6));
    }
    return {};
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

QStringList TScript::ReadLines(const QString &path, QString &error, bool *ok, TTextEncoding *encoding)
{
    // A script of a thousand events is a few hundred kilobytes.
    constexpr qint64 MaxScriptBytes = 16 * 1024 * 1024;
    *ok = false;
    QByteArray bytes;
    if (!ReadInputFile(path, MaxScriptBytes, bytes, error))
        return {};
    if (encoding)
        *encoding = DetectEncoding(bytes);
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
    TTextEncoding encoding = TTextEncoding::Cp1252;
    QStringList lines = ReadLines(path, error, &ok, &encoding);
    if (ok) {
        Lines = std::move(lines);
        Encoding = encoding;
    }
    return ok;
}

bool TScript::Save(const QString &path, QString &error) const
{
    QString text;
    for (const QString &line : Lines)
        text += line + QStringLiteral("\r\n");
    error = TSafeFile::Write(path, EncodeText(text, Encoding));
    return error.isEmpty();
}
