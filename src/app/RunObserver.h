#pragma once
// What the controller tells whoever reports the station's work elsewhere (the
// MQTT report): state changes, health readings, stored groups, finished data
// files and event-log lines. Every call is made on the controller's thread and
// must return at once: the acquisition does not wait for a report.
#include <QDateTime>
#include <QString>

#include <array>

struct TDataRecord;
struct TLogLine;

class TRunObserver {
public:
    virtual ~TRunObserver() = default;

    // How an acquisition ended, for its data file.
    enum class TRunExit { Completed, Stopped, Alarm, Error };

    // Opening the link and identifying the instrument.
    virtual void Connecting() {}
    // The link is open (or failed to open): idle unless an action runs.
    virtual void ConnectionDone(bool) {}
    virtual void LinkLost() {}
    virtual void ActionStarted() {}
    // failed: the action ended with an error (already reported by Failed).
    virtual void ActionEnded(bool) {}
    // A script waits for a wake-up time or a latency.
    virtual void Waiting(const QDateTime &) {}
    // An acquisition starts with at most groupLimit quadripoles per group.
    virtual void RunStarted(int) {}
    // The group of quadripoles first .. first + size - 1 (0-based) is measured.
    virtual void GroupStarted(int, int) {}
    // count records of the group starting at quadripole first were stored.
    virtual void GroupStored(int, int, const TDataRecord *) {}
    // The acquisition ended after done quadripoles.
    virtual void RunEnded(TRunExit, int) {}
    virtual void PauseChanged(bool) {}
    virtual void Failed(const QString &) {}
    // Transmitter battery, receiver battery, temperature.
    virtual void HealthRead(const std::array<float, 3> &) {}
    virtual void LogLine(const TLogLine &) {}
};
