#pragma once
// The station's report to an MQTT broker: its state (retained), health
// readings, stored groups, finished data files and event-log lines, as JSON
// under the topic prefix; and, when allowed, the commands pause, restart,
// stop and run PATH.scp. Everything is handed to TMqttPublisher's queue, so
// the acquisition never waits for the broker.
#include "app/RunObserver.h"
#include "mqtt/MqttSettings.h"

#include <QByteArray>
#include <QJsonObject>

#include <memory>
#include <optional>
#include <vector>

class QTimer;
class TQualityControl;
class TMqttPublisher;
class TShell;

class TMqttReporter final : public TRunObserver {
public:
    TMqttReporter(TShell &shell, const TMqttSettings &settings, const QString &password);
    ~TMqttReporter() override;
    TMqttReporter(const TMqttReporter &) = delete;
    TMqttReporter &operator=(const TMqttReporter &) = delete;

    // Why the client could not be set up; empty when it was.
    QString Error() const;

    void Connecting() override;
    void ConnectionDone(bool open) override;
    void LinkLost() override;
    void ActionStarted() override;
    void ActionEnded(bool failed) override;
    void Waiting(const QDateTime &until) override;
    void RunStarted(int groupLimit) override;
    void GroupStarted(int first, int size) override;
    void GroupStored(int first, int count, const TDataRecord *records) override;
    void RunEnded(TRunExit exit, int done) override;
    void PauseChanged(bool paused) override;
    void Failed(const QString &reason) override;
    void HealthRead(const std::array<float, 3> &values) override;
    void LogLine(const TLogLine &line) override;

    // The payloads, for the tests of their fields.
    QJsonObject StatusObject() const;
    static QJsonObject GroupObject(const QString &file, int first, int count, const TDataRecord *records);
    // The quality flags of a group's records, counted by name; quality judges
    // the whole run (a reciprocal pairs with a record of an earlier group).
    static QJsonObject FlagCounts(TQualityControl &quality, int count, const TDataRecord *records);
    // path, bytes, records, sha256 of the data file at path.
    static QJsonObject FileObject(const QString &path);
    // Runs one command as received on <Topic>/command; the answer goes to
    // <Topic>/command/reply. A retained command is old news and is not run.
    void Command(const QByteArray &payload, bool retained = false);

private:
    void SetState(const QString &state, const QJsonObject &details = {});
    void PublishStatus();
    void Publish(int kind, const QString &subtopic, const QJsonObject &object, bool retain = false);
    void Reply(const QString &command, bool ok, const QString &text);
    QString Now() const;
    QString DataFile() const;
    int PeriodSeconds() const;
    void RestartHeartbeat();

    TShell &Shell;
    std::unique_ptr<TMqttPublisher> Publisher;
    std::unique_ptr<QTimer> Heartbeat;
    QString State = QStringLiteral("idle");
    QJsonObject Details;
    // What Pause interrupted, shown again when the run goes on.
    QString PausedState;
    QJsonObject PausedDetails;
    std::optional<QJsonObject> LastHealth;
    // First quadripole (0-based) of each group of the run, for the group number.
    std::vector<int> GroupStarts;
    // The run's quality judgement, with the limits of the configuration's [Quality].
    std::unique_ptr<TQualityControl> Quality;
    bool HighSpeed = false;
    std::uint64_t Dropped = 0;
};
