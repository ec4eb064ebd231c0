#include "script/ScriptRunner.h"

#include "base/Clock.h"
#include "base/DateText.h"
#include "base/EventLog.h"
#include "base/TarnelError.h"
#include "base/TextCodec.h"
#include "base/UserInterface.h"
#include "script/Script.h"

#include <algorithm>
#include <cmath>
#include <exception>

using namespace ScriptText;

TScriptRunner::TScriptRunner(TUserInterface &ui, TEventLog &log, TScriptHost &host) : Ui(ui), Log(log), Host(host) {}

std::function<QDateTime()> TScriptRunner::ClockTime(TClock &clock, const QDateTime &origin)
{
    return [&clock, origin, start = clock.Ms()] { return origin.addMSecs(clock.Ms() - start); };
}

double TScriptRunner::NowDay() const { return DayNumber(Now()); }

bool TScriptRunner::WaitUntil(double day)
{
    if (OnWait && NowDay() < day)
        OnWait(FromDayNumber(day));
    while (NowDay() < day) {
        if (Host.StopRequested())
            return false;
        while (Host.Paused())
            Ui.WaitEvents(50);
        if (Host.StopRequested())
            return false;
        // Sleep until the target or the next event (Stop, Pause, the window),
        // never longer than a slice so the clock is read again.
        const double ms = std::ceil((day - NowDay()) * 86400000.0);
        if (ms > 0)
            Ui.WaitEvents(static_cast<int>(std::clamp(ms, 1.0, double(std::max(1, MaxWaitMs)))));
    }
    return true;
}

QString TScriptRunner::EndlessLoop(const QStringList &lines)
{
    if (const QString range = ScheduleRangeError(lines, DayNumber(QDateTime::currentDateTime())); !range.isEmpty())
        return range;
    // A latency waits only from a second on; a shorter one is refused above.
    for (qsizetype i = 0; i < lines.size(); ++i) {
        bool counted = false;
        const qint64 target = BackwardGotoTarget(ParseScriptLine(lines[i]), i, &counted);
        if (target == 0 || counted)
            continue;
        bool waits = false;
        for (qsizetype j = target - 1; j < i && !waits; ++j) {
            const TScriptLine e = ParseScriptLine(lines[j]);
            if (!e.IsEvent || e.Argument.isEmpty())
                continue;
            bool valid = false;
            waits = e.Code == StartCode || (e.Code == LatencyCode && ParseFileReal(e.Argument, &valid) >= OneSecondInDays && valid);
        }
        if (!waits)
            return QStringLiteral("Line %1 jumps back to line %2 for ever with no latency and no acquisition in "
                                  "between: the script would turn in a circle without pause")
                .arg(i + 1)
                .arg(target);
    }
    return {};
}

void TScriptRunner::LogError(const TScriptEvent &event, const QString &line, const QString &reason)
{
    ++FailedEvents;
    if (!reason.isEmpty())
        Log.AddStamped(reason, LogColor::Red);
    Log.Add(line, LogColor::Red);
    if (OnError)
        OnError(event, line);
}

TScriptRunner::TEnd TScriptRunner::Run(const QStringList &lines)
{
    qsizetype next = std::max<qsizetype>(0, StartLine);
    FailedEvents = 0;
    double reference = NowDay();
    int repeat = StartRepeat;
    const auto executed = [this](const TScriptEvent &e) {
        if (OnExecute)
            OnExecute(e);
    };
    const auto errorLine = [](const QString &caption) { return caption + QStringLiteral(" Error"); };

    while (next < lines.size()) {
        Host.SaveLog();
        if (OnLine)
            OnLine(next, repeat);
        const int position = static_cast<int>(next) + 1;
        const QString line = lines[next];
        ++next;
        Ui.Yield();
        // A goto loop without any wait would otherwise never see Stop.
        if (Host.StopRequested())
            return TEnd::Stopped;

        const TScriptLine parsed = ParseScriptLine(line);
        if (parsed.IsEvent) {
            Log.Add(Log.Stamp() + parsed.Head);
        } else {
            Log.Add(line, LogColor::Green);
        }
        if (!parsed.IsEvent || parsed.Code == -1 || parsed.Argument.isEmpty())
            continue;

        const TScriptEvent event{position, parsed.Code, parsed.Argument};
        if (MayExecute && !MayExecute(event))
            return TEnd::Limit;
        bool ok = false;
        switch (parsed.Code) {
        case WakeUpCode:
        case LatencyCode: {
            const double value = ParseFileReal(event.Argument, &ok);
            if (!ok) {
                executed(event);
                LogError(event, errorLine(parsed.Code == WakeUpCode ? WakeUpCaption : LatencyCaption),
                         QStringLiteral("Event %1: \"%2\" is not a number").arg(position).arg(event.Argument));
                break;
            }
            // The reference moves only with wake-ups and latencies: a latency
            // counts from the previous target, not from the end of an
            // acquisition, so the schedule keeps its planned times.
            reference = parsed.Code == WakeUpCode ? value : reference + value;
            if (!WaitUntil(reference))
                return TEnd::Stopped;
            executed(event);
            break;
        }
        case StartCode: {
            while (Host.Paused())
                Ui.WaitEvents(250);
            if (Host.StopRequested())
                return TEnd::Stopped;
            executed(event);
            QString reason;
            bool reported = false;
            try {
                ok = Host.StartConfiguration(event.Argument);
            } catch (const EReported &e) {
                ok = false;
                reported = true;
                reason = e.Message();
            } catch (const ETarnelError &e) {
                ok = false;
                reason = e.Message();
            } catch (const std::exception &e) {
                ok = false;
                reason = QString::fromLocal8Bit(e.what());
            }
            if (!ok) {
                // Why, in red with its time, unless the acquisition said it already.
                LogError(event, errorLine(StartCaption), reported ? QString() : reason);
                if (OnFailure && !reason.isEmpty())
                    OnFailure(reason);
            }
            if (Host.StopRequested() && Host.AskStopScript())
                return TEnd::Stopped;
            Host.ConfigurationDone();
            break;
        }
        case GotoCode: {
            executed(event);
            const qsizetype resume = next;
            const qsizetype colon = event.Argument.indexOf(QLatin1Char(':'));
            const qint64 target = ParseFileInteger(colon < 0 ? QStringView(event.Argument) : QStringView(event.Argument).left(colon), &ok);
            if (!ok) {
                LogError(event, errorLine(GotoCaption),
                         QStringLiteral("Event %1: \"%2\" is not an event number").arg(position).arg(event.Argument));
                break;
            }
            next = static_cast<qsizetype>(std::clamp<qint64>(target, -1, lines.size() + 1)) - 1;
            bool counted = true;
            if (colon >= 0) {
                // Only the first three characters of the count are read.
                const qint64 count = ParseFileInteger(QStringView(event.Argument).mid(colon + 1, 3), &ok);
                if (!ok) {
                    counted = false; // the jump stands, without counting
                } else if (count - 1 > repeat) {
                    ++repeat;
                } else {
                    repeat = 0;
                    next = resume;
                }
            } else {
                repeat = 0;
            }
            if (next < 0)
                LogError(event, errorLine(GotoCaption),
                         QStringLiteral("Event %1: event %2 is outside the script").arg(position).arg(target));
            else if (!counted)
                LogError(event, errorLine(GotoCaption),
                         QStringLiteral("Event %1: the repeat count of \"%2\" is not a number").arg(position).arg(event.Argument));
            // Event 0 or below is outside the script: nothing sensible to run.
            if (next < 0)
                return TEnd::GotoError;
            break;
        }
        default:
            executed(event);
            LogError(event, QStringLiteral("previous command not recognized"),
                     QStringLiteral("Event %1: unknown event code %2").arg(position).arg(parsed.Code));
            break;
        }
    }
    return TEnd::Completed;
}
