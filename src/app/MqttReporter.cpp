#include "app/MqttReporter.h"

#include "app/Shell.h"
#include "base/EventLog.h"
#include "base/TarnelError.h"
#include "instrument/DataFile.h"
#include "instrument/DataRecord.h"
#include "instrument/QualityControl.h"
#include "instrument/VoltixPro.h"
#include "survey/Sequence.h"
#include "mqtt/MqttPublisher.h"
#include "script/Script.h"
#include "script/ScriptRunner.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {
using TKind = TMqttPublisher::TKind;

// Seven significant digits: what a float holds, without the binary tail.
double Tidy(double v) { return QByteArray::number(v, 'g', 7).toDouble(); }

QString ColourName(TColor c)
{
    switch (c) {
    case LogColor::Black:
        return QStringLiteral("black");
    case LogColor::Red:
        return QStringLiteral("red");
    case LogColor::Green:
        return QStringLiteral("green");
    case LogColor::Maroon:
        return QStringLiteral("maroon");
    case LogColor::Orange:
        return QStringLiteral("orange");
    case LogColor::Teal:
        return QStringLiteral("teal");
    default:
        return QStringLiteral("#%1%2%3")
            .arg(c & 0xff, 2, 16, QLatin1Char('0'))
            .arg((c >> 8) & 0xff, 2, 16, QLatin1Char('0'))
            .arg((c >> 16) & 0xff, 2, 16, QLatin1Char('0'));
    }
}

QString ExitName(TRunObserver::TRunExit exit)
{
    switch (exit) {
    case TRunObserver::TRunExit::Completed:
        return QStringLiteral("completed");
    case TRunObserver::TRunExit::Stopped:
        return QStringLiteral("stopped");
    case TRunObserver::TRunExit::Alarm:
        return QStringLiteral("alarm");
    case TRunObserver::TRunExit::Error:
        break;
    }
    return QStringLiteral("error");
}
} // namespace

TMqttReporter::TMqttReporter(TShell &shell, const TMqttSettings &settings, const QString &password)
    : Shell(shell), Publisher(std::make_unique<TMqttPublisher>(settings, password)),
      Heartbeat(std::make_unique<QTimer>())
{
    if (!Publisher->Error().isEmpty())
        return;
    Publisher->OnConnection = [this](bool up, const QString &text) {
        TEventLog &log = Shell.EventLog;
        log.AddStampedAside(up ? QStringLiteral("MQTT: ") + text
                               : QStringLiteral("MQTT broker %1: %2; publishing goes on when it answers again")
                                     .arg(Publisher->Settings().BrokerText(), text),
                            up ? LogColor::Black : LogColor::Orange);
    };
    if (settings.Commands)
        Publisher->OnCommand = [this](const QByteArray &payload, bool retained) { Command(payload, retained); };
    Heartbeat->setSingleShot(true);
    QObject::connect(Heartbeat.get(), &QTimer::timeout, [this] { PublishStatus(); });
    Shell.EventLog.OnLineReport = [this](const TLogLine &line) { LogLine(line); };
    Publisher->Start();
    if (Shell.ActionRunning)
        SetState(QStringLiteral("measuring"));
    else
        PublishStatus();
}

TMqttReporter::~TMqttReporter()
{
    Shell.EventLog.OnLineReport = nullptr;
    Heartbeat.reset();
    // The publisher sends what is queued while the broker is there, then says goodbye.
    Publisher.reset();
}

QString TMqttReporter::Error() const { return Publisher->Error(); }

QString TMqttReporter::Now() const { return IsoTime(Shell.EventLog.Now()); }

QString TMqttReporter::DataFile() const
{
    const QString path = Shell.Measuring && !Shell.WrittenDataFile.isEmpty() ? Shell.WrittenDataFile
                                                                             : Shell.State.AcquisitionFile;
    return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

int TMqttReporter::PeriodSeconds() const
{
    // The health check's pace: every 20 s while idle, between groups every
    // 120 s (60 s in High speed mode) during an acquisition.
    if (Shell.Measuring)
        return HighSpeed ? 60 : 120;
    return 20;
}

void TMqttReporter::RestartHeartbeat()
{
    // A station that has nothing new to say still says it is there, so that
    // the office can tell a quiet station from a vanished one.
    if (Heartbeat)
        Heartbeat->start(PeriodSeconds() * 1000);
}

void TMqttReporter::Publish(int kind, const QString &subtopic, const QJsonObject &object, bool retain)
{
    Publisher->Publish(static_cast<TKind>(kind), subtopic, QJsonDocument(object).toJson(QJsonDocument::Compact),
                       retain);
}

QJsonObject TMqttReporter::StatusObject() const
{
    QJsonObject o = Details;
    o.insert(QStringLiteral("state"), State);
    o.insert(QStringLiteral("file"), DataFile());
    o.insert(QStringLiteral("time"), Now());
    o.insert(QStringLiteral("period"), PeriodSeconds());
    if (LastHealth)
        o.insert(QStringLiteral("health"), *LastHealth);
    return o;
}

void TMqttReporter::PublishStatus()
{
    QJsonObject o = StatusObject();
    Dropped += Publisher->TakeDropped();
    if (Dropped > 0)
        o.insert(QStringLiteral("dropped"), double(Dropped));
    Dropped = 0;
    Publish(int(TKind::Status), QStringLiteral("status"), o, true);
    RestartHeartbeat();
}

void TMqttReporter::SetState(const QString &state, const QJsonObject &details)
{
    State = state;
    Details = details;
    PublishStatus();
}

void TMqttReporter::Connecting() { SetState(QStringLiteral("connecting")); }

void TMqttReporter::ConnectionDone(bool open)
{
    if (Shell.ActionRunning)
        return; // the script's next event says what comes next
    if (open)
        SetState(QStringLiteral("idle"));
    else
        SetState(QStringLiteral("error"), {{QStringLiteral("reason"), QStringLiteral("the link did not open")}});
}

void TMqttReporter::LinkLost()
{
    if (!Shell.ActionRunning)
        SetState(QStringLiteral("error"), {{QStringLiteral("reason"), QStringLiteral("Link lost")}});
}

void TMqttReporter::ActionStarted()
{
    SetState(QStringLiteral("measuring"));
}

void TMqttReporter::ActionEnded(bool failed)
{
    if (failed && State == QLatin1String("error"))
        return;
    if (failed)
        return SetState(QStringLiteral("error"), {{QStringLiteral("reason"), QStringLiteral("the action ended with an error")}});
    SetState(QStringLiteral("idle"));
}

void TMqttReporter::Waiting(const QDateTime &until)
{
    SetState(QStringLiteral("waiting"), {{QStringLiteral("until"), IsoTime(until)}});
}

void TMqttReporter::RunStarted(int groupLimit)
{
    // The run's own judgement as it starts (its limits, the bad electrodes,
    // the records of a resumed file): the counts agree with the window's.
    Quality = std::make_unique<TQualityControl>(Shell.Quality);
    HighSpeed = Shell.State.MeasMode == 1;
    GroupStarts.clear();
    const TVoltixPro &m = *Shell.Model;
    for (int first = 0; first < m.QuadCount;) {
        int n = groupLimit;
        TSequence::ElectrodeList electrodes{};
        m.GroupChannels(first, n, electrodes);
        if (n <= 0)
            break;
        GroupStarts.push_back(first);
        first += n;
    }
}

void TMqttReporter::GroupStarted(int first, int)
{
    const auto at = std::upper_bound(GroupStarts.begin(), GroupStarts.end(), first);
    const int group = int(at - GroupStarts.begin());
    SetState(QStringLiteral("measuring"), {{QStringLiteral("group"), std::max(1, group)},
                                           {QStringLiteral("groups"), int(GroupStarts.size())},
                                           {QStringLiteral("quadripole"), first + 1},
                                           {QStringLiteral("quadripoles"), Shell.Model->QuadCount}});
}

QJsonObject TMqttReporter::GroupObject(const QString &file, int first, int count, const TDataRecord *records)
{
    QJsonObject o{{QStringLiteral("file"), file},
                  {QStringLiteral("first"), first + 1},
                  {QStringLiteral("last"), first + count},
                  {QStringLiteral("records"), count}};
    std::optional<float> lo, hi;
    for (int i = 0; i < count; ++i) {
        const float rho = records[i].Rho;
        if (!std::isfinite(rho))
            continue;
        lo = lo ? std::min(*lo, rho) : rho;
        hi = hi ? std::max(*hi, rho) : rho;
    }
    o.insert(QStringLiteral("rho_min"), lo ? QJsonValue(Tidy(*lo)) : QJsonValue());
    o.insert(QStringLiteral("rho_max"), hi ? QJsonValue(Tidy(*hi)) : QJsonValue());
    return o;
}

QJsonObject TMqttReporter::FlagCounts(TQualityControl &quality, int count, const TDataRecord *records)
{
    std::array<int, TQualityControl::FlagCount> counts{};
    for (int i = 0; i < count; ++i) {
        const unsigned flags = quality.Add(records[i]);
        for (int b = 0; b < TQualityControl::FlagCount; ++b)
            counts[b] += (flags >> b) & 1u;
    }
    QJsonObject o;
    for (int b = 0; b < TQualityControl::FlagCount; ++b)
        o.insert(QLatin1String(TQualityControl::FlagName(b)), counts[b]);
    return o;
}

void TMqttReporter::GroupStored(int first, int count, const TDataRecord *records)
{
    QJsonObject o = GroupObject(DataFile(), first, count, records);
    if (!Quality)
        Quality = std::make_unique<TQualityControl>();
    o.insert(QStringLiteral("flags"), FlagCounts(*Quality, count, records));
    o.insert(QStringLiteral("time"), Now());
    Publish(int(TKind::Group), QStringLiteral("group"), o);
}

QJsonObject TMqttReporter::FileObject(const QString &path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 bytes = 0;
    if (f.open(QIODevice::ReadOnly)) {
        hash.addData(&f);
        bytes = f.size();
    }
    const qint64 records = bytes > DataHeaderSize ? (bytes - DataHeaderSize) / qint64(sizeof(TDataRecord)) : 0;
    return {{QStringLiteral("path"), QFileInfo(path).absoluteFilePath()},
            {QStringLiteral("bytes"), double(bytes)},
            {QStringLiteral("records"), double(records)},
            {QStringLiteral("sha256"), QString::fromLatin1(hash.result().toHex())}};
}

void TMqttReporter::RunEnded(TRunExit exit, int done)
{
    const QString path = Shell.WrittenDataFile.isEmpty() ? Shell.State.AcquisitionFile : Shell.WrittenDataFile;
    QJsonObject o = FileObject(path);
    o.insert(QStringLiteral("complete"), done >= Shell.Model->QuadCount);
    o.insert(QStringLiteral("exit"), ExitName(exit));
    o.insert(QStringLiteral("time"), Now());
    Publish(int(TKind::File), QStringLiteral("file"), o);
}

void TMqttReporter::PauseChanged(bool paused)
{
    if (paused) {
        if (State != QLatin1String("paused")) {
            PausedState = State;
            PausedDetails = Details;
        }
        SetState(QStringLiteral("paused"));
    } else {
        SetState(PausedState.isEmpty() ? QStringLiteral("measuring") : PausedState, PausedDetails);
    }
}

void TMqttReporter::Failed(const QString &reason)
{
    SetState(QStringLiteral("error"), {{QStringLiteral("reason"), reason}});
}

void TMqttReporter::HealthRead(const std::array<float, 3> &values)
{
    QJsonObject o{{QStringLiteral("tx_battery"), Tidy(values[0])},
                  {QStringLiteral("rx_battery"), Tidy(values[1])},
                  {QStringLiteral("temperature"), Tidy(values[2])},
                  {QStringLiteral("time"), Now()}};
    LastHealth = o;
    o.insert(QStringLiteral("period"), PeriodSeconds());
    Publish(int(TKind::Health), QStringLiteral("health"), o);
}

void TMqttReporter::LogLine(const TLogLine &line)
{
    Publish(int(TKind::Log), QStringLiteral("log"),
            {{QStringLiteral("time"), Now()}, {QStringLiteral("text"), line.Text}, {QStringLiteral("colour"), ColourName(line.Color)}});
}

void TMqttReporter::Reply(const QString &command, bool ok, const QString &text)
{
    Publish(int(TKind::Reply), QStringLiteral("command/reply"),
            {{QStringLiteral("command"), command}, {QStringLiteral("ok"), ok}, {QStringLiteral("text"), text},
             {QStringLiteral("time"), Now()}});
}

void TMqttReporter::Command(const QByteArray &payload, bool retained)
{
    const QString command = QString::fromUtf8(payload).trimmed();
    // An empty message clears a retained one; there is nothing to answer.
    if (command.isEmpty())
        return;
    // A stop kept by the broker would stop every run after each reconnection.
    if (retained)
        return Reply(command, false, QStringLiteral("a retained command is not run: send commands without the retain flag"));
    TShell &shell = Shell;
    shell.EventLog.AddStampedAside(QStringLiteral("MQTT command: ") + command, LogColor::Black);
    const TRunState state = shell.State.RunState;
    if (command == QLatin1String("pause")) {
        if (!shell.ActionRunning || state != TRunState::Running)
            return Reply(command, false, QStringLiteral("nothing runs that could be paused"));
        shell.TogglePause();
        return Reply(command, true, QStringLiteral("Paused by user"));
    }
    if (command == QLatin1String("restart")) {
        if (!shell.ActionRunning || state != TRunState::Paused)
            return Reply(command, false, QStringLiteral("nothing is paused"));
        shell.TogglePause();
        return Reply(command, true, QStringLiteral("Restarted by user"));
    }
    if (command == QLatin1String("stop")) {
        if (!shell.ActionRunning)
            return Reply(command, false, QStringLiteral("nothing runs that could be stopped"));
        shell.RequestStop();
        return Reply(command, true, QStringLiteral("Stopped by user"));
    }
    if (command.startsWith(QLatin1String("run "))) {
        const QString path = command.mid(4).trimmed();
        if (!path.endsWith(QLatin1String(".scp"), Qt::CaseInsensitive))
            return Reply(command, false, QStringLiteral("run takes a script file PATH.scp"));
        if (shell.ActionRunning)
            return Reply(command, false, QStringLiteral("busy: an action is running"));
        if (!shell.LinkOpen())
            return Reply(command, false, QStringLiteral("no instrument connected"));
        QString error;
        bool ok = false;
        const QStringList lines = TScript::ReadLines(path, error, &ok);
        if (!ok)
            return Reply(command, false, QStringLiteral("cannot read \"%1\": %2").arg(path, error));
        if (const QString loop = TScriptRunner::EndlessLoop(lines); !loop.isEmpty())
            return Reply(command, false, loop);
        Reply(command, true, QStringLiteral("script started"));
        // Run from the event loop, not from here: a configuration the script
        // loads may name another broker and replace this reporter.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [&shell, lines] {
                if (shell.ActionRunning)
                    return;
                const QStringList kept = shell.Script.Lines;
                shell.Script.Lines = lines;
                try {
                    shell.RunStartAction(TShell::ActionScript);
                } catch (const std::exception &) {
                    // Already in the event log in red, and in the status.
                }
                shell.Script.Lines = kept;
            },
            Qt::QueuedConnection);
        return;
    }
    Reply(command, false, QStringLiteral("unknown command: pause, restart, stop or run PATH.scp"));
}

void TShell::ApplyMqtt()
{
    const TMqttKeys &keys = MqttKeys;
    const bool wanted = !MqttOverride.isEmpty() || keys.Publish;
    // What the report was made from: the same keys again change nothing (and
    // a setting that cannot work is said once, not at every load).
    const QString signature =
        wanted ? QStringList{MqttOverride, keys.Broker, keys.Topic, keys.Username, keys.PasswordFile, keys.CaFile,
                             QString::number(keys.Qos), QString::number(keys.Commands)}
                     .join(QLatin1Char('\n'))
               : QString();
    if (signature == MqttInUse)
        return;
    Observer.reset();
    MqttInUse = signature;
    if (!wanted)
        return;
    TMqttSettings settings;
    QString problem, password;
    const QString broker = MqttOverride.isEmpty() ? keys.Broker : MqttOverride;
    if (broker.isEmpty())
        problem = QStringLiteral("no broker address (Broker=mqtt://HOST[:PORT])");
    else
        problem = TMqttSettings::ParseUrl(broker, settings);
    if (MqttOverride.isEmpty() && !keys.Topic.isEmpty())
        settings.Topic = keys.Topic;
    if (settings.Topic.isEmpty())
        settings.Topic = TMqttSettings::DefaultTopic();
    if (!keys.Username.isEmpty())
        settings.Username = keys.Username;
    settings.PasswordFile = keys.PasswordFile;
    settings.CaFile = keys.CaFile;
    settings.Qos = keys.Qos;
    settings.Commands = keys.Commands;
    if (problem.isEmpty())
        problem = settings.Problem();
    if (problem.isEmpty() && settings.Tls && !settings.CaFile.isEmpty() && !QFileInfo(settings.CaFile).isReadable())
        problem = QStringLiteral("CA file \"%1\" cannot be read").arg(settings.CaFile);
    if (problem.isEmpty())
        settings.ReadPassword(password, problem);
    auto reporter = problem.isEmpty() ? std::make_unique<TMqttReporter>(*this, settings, password) : nullptr;
    if (reporter && !reporter->Error().isEmpty())
        problem = reporter->Error();
    if (!problem.isEmpty()) {
        EventLog.AddStampedAside(QStringLiteral("MQTT: %1: nothing is published").arg(problem), LogColor::Red);
        return;
    }
    Observer = std::move(reporter);
}
