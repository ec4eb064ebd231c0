#pragma once
// Runs a script line by line: waits for wake-up and latency targets, runs a
// start-configuration event through its host, follows gotos, and echoes every
// line to the event log. The same runner drives the window, tarnelpro-cli and
// the schedule preview on a virtual clock, so they all follow one set of rules.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

class TClock;
class TEventLog;
class TUserInterface;

// What a run needs from the program around it.
class TScriptHost {
public:
    virtual ~TScriptHost() = default;
    virtual bool StopRequested() = 0;
    virtual bool Paused() = 0;
    // Writes the event log beside the current data file.
    virtual void SaveLog() = 0;
    // Loads the configuration and runs its acquisition. False when the
    // configuration could not be loaded; a failure inside the acquisition
    // throws.
    virtual bool StartConfiguration(const QString &path) = 0;
    // "Stop acquisition and script" after a stopped acquisition; true ends the script.
    virtual bool AskStopScript() = 0;
    // Back to running after a start-configuration event.
    virtual void ConfigurationDone() = 0;
};

struct TScriptEvent {
    int Position = 0; // 1-based line
    int Code = -1;
    QString Argument;
};

class TScriptRunner {
public:
    enum class TEnd { Completed, Stopped, GotoError, Limit };

    TScriptRunner(TUserInterface &ui, TEventLog &log, TScriptHost &host);

    TEnd Run(const QStringList &lines);

    // Where a run continues after a restart: the line to run first and the
    // gotos' repeat counter there. The schedule goes on from the current time.
    qsizetype StartLine = 0;
    int StartRepeat = 0;
    // Called before each line is run, with its index and the repeat counter.
    std::function<void(qsizetype line, int repeat)> OnLine;

    // Local time; the event log's stamps should come from the same source.
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };
    // Longest single wait: the clock is looked at again at least this often,
    // so a wall clock set forward (or a laptop resumed) is noticed.
    int MaxWaitMs = 1000;

    // Observers, for the schedule preview. MayExecute is asked before each
    // executed event (an event line with a code and an argument); false ends
    // the run with Limit. OnExecute reports it when it takes effect (after
    // its wait for a wake-up or latency); OnError reports an error line.
    std::function<bool(const TScriptEvent &)> MayExecute;
    std::function<void(const TScriptEvent &)> OnExecute;
    std::function<void(const TScriptEvent &, const QString &line)> OnError;
    // The reason behind a "Start configuration Error", when there is one.
    std::function<void(const QString &reason)> OnFailure;
    // A wait for a wake-up time or a latency begins (only when there is time to wait).
    std::function<void(const QDateTime &until)> OnWait;

    // A local time driven by a tick counter from origin: tests and the
    // schedule preview move time by moving the clock.
    static std::function<QDateTime()> ClockTime(TClock &clock, const QDateTime &origin);

    // Why lines would run in a circle without ever waiting: a goto without a
    // count that jumps back over neither a latency nor an acquisition (a
    // wake-up time passes once and then waits no more), or wake-ups and
    // latencies out of range (ScheduleRangeError). Empty when none does.
    static QString EndlessLoop(const QStringList &lines);

    // Events of the last run that ended in an error line.
    int FailedEvents = 0;

private:
    // False when the run must end (Stop).
    bool WaitUntil(double day);
    // The reason (stamped, when there is one) and the error line, in red.
    void LogError(const TScriptEvent &event, const QString &line, const QString &reason = {});
    double NowDay() const;

    TUserInterface &Ui;
    TEventLog &Log;
    TScriptHost &Host;
};
