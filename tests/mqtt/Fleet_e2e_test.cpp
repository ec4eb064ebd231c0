// Stations reporting to a real mosquitto broker: tarnelpro-cli acquire --mqtt
// against voltix-sim, watched with mosquitto_sub and tarnelpro-cli fleet.
#include "cli/CliFixture.h"
#include "instrument/DataRecord.h"
#include "link/SimProcess.h"
#include "mqtt/Broker.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QJsonArray>

#include <cstring>
#include <set>

namespace {
QByteArray FileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString Sha256(const QString &path)
{
    return QString::fromLatin1(QCryptographicHash::hash(FileBytes(path), QCryptographicHash::Sha256).toHex());
}

// The records of a data file with what differs from run to run cleared: the
// date, the batteries, the temperature and the measurement number.
std::vector<TDataRecord> Measured(const QString &path)
{
    const QByteArray data = FileBytes(path);
    std::vector<TDataRecord> out;
    for (qsizetype at = 1029; at + qsizetype(sizeof(TDataRecord)) <= data.size(); at += sizeof(TDataRecord)) {
        TDataRecord r;
        std::memcpy(&r, data.constData() + at, sizeof r);
        r.Date = 0;
        r.TxBattery = r.RxBattery = r.Temperature = 0;
        r.Counter = 0;
        out.push_back(r);
    }
    return out;
}

bool SameRecords(const std::vector<TDataRecord> &a, const std::vector<TDataRecord> &b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(TDataRecord)) == 0);
}

struct TFleetFixture : TCliFixture {
    std::unique_ptr<TBroker> Broker;

    void SetUp() override
    {
        REQUIRE_MOSQUITTO();
        Broker = std::make_unique<TBroker>(Tmp.path(), FreePort());
        ASSERT_TRUE(Broker->Start()) << "mosquitto did not start on port " << Broker->Port;
    }
    // An acquisition started in the background.
    std::unique_ptr<QProcess> StartAcquire(const QStringList &args)
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARNELPRO_DATA_DIR"), Tmp.path() + "/data");
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral(TARNELPRO_CLI_PATH), QStringList{"acquire"} + args);
        p->waitForStarted(5000);
        return p;
    }
};

bool IsGroup(const TMessage &m, const QString &prefix) { return m.Topic == prefix + "/group"; }
} // namespace

TEST_F(TFleetFixture, acquisitionPublishesEachGroupAndTheFileAndEndsIdle)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--battery", "12.6,12.4", "--temperature", "31"});
    const QString ini = Survey(sim.TcpAddress());
    TSubscriber sub(Broker->Port, "tarnelpro/#");
    ASSERT_TRUE(sub.Ready());

    const TResult r = Run({"acquire", "--config", ini, "--yes", "--mqtt", Broker->Url("tarnelpro/st1")});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    const QString data = Tmp.path() + "/out.bin";
    ASSERT_TRUE(sub.WaitFor([](const TMessage &m) { return m.Topic == "tarnelpro/st1/file"; }, 10000));
    sub.WaitFor([](const TMessage &m) { return m.Topic == "tarnelpro/st1/status" && m.Json()["state"] == "idle"; }, 5000);

    const auto groups = sub.On("tarnelpro/st1/group");
    ASSERT_EQ(groups.size(), 3u) << "three groups of ten";
    for (int g = 0; g < 3; ++g) {
        const QJsonObject o = groups[g].Json();
        EXPECT_EQ(o["file"].toString(), data);
        EXPECT_EQ(o["first"].toInt(), 10 * g + 1);
        EXPECT_EQ(o["last"].toInt(), 10 * g + 10);
        EXPECT_EQ(o["records"].toInt(), 10);
        EXPECT_GT(o["rho_min"].toDouble(), 0);
        EXPECT_GE(o["rho_max"].toDouble(), o["rho_min"].toDouble());
        EXPECT_TRUE(o["flags"].toObject().contains("high_q")) << groups[g].Payload.data();
        EXPECT_TRUE(QDateTime::fromString(o["time"].toString(), Qt::ISODate).isValid()) << groups[g].Payload.data();
    }
    const auto files = sub.On("tarnelpro/st1/file");
    ASSERT_EQ(files.size(), 1u);
    const QJsonObject f = files[0].Json();
    EXPECT_EQ(f["path"].toString(), data);
    EXPECT_EQ(f["sha256"].toString(), Sha256(data));
    EXPECT_EQ(f["bytes"].toInteger(), Size(data));
    EXPECT_EQ(f["records"].toInt(), 30);
    EXPECT_TRUE(f["complete"].toBool());
    EXPECT_EQ(f["exit"].toString(), "completed");

    const auto health = sub.On("tarnelpro/st1/health");
    ASSERT_FALSE(health.empty());
    EXPECT_DOUBLE_EQ(health[0].Json()["tx_battery"].toDouble(), 12.6);
    EXPECT_DOUBLE_EQ(health[0].Json()["temperature"].toDouble(), 31);

    // Each event-log line, with its colour.
    const auto logs = sub.On("tarnelpro/st1/log");
    const auto line = [&logs](const QString &text) {
        for (const TMessage &m : logs)
            if (m.Json()["text"].toString().contains(text))
                return m.Json();
        return QJsonObject();
    };
    EXPECT_EQ(line("Standard acquisition Ended")["colour"].toString(), "teal");
    EXPECT_EQ(line("Aquisition filename ")["colour"].toString(), "teal");

    // The states the office saw, in order, and what the broker keeps.
    QStringList states;
    for (const TMessage &m : sub.On("tarnelpro/st1/status"))
        if (states.isEmpty() || states.last() != m.Json()["state"].toString())
            states << m.Json()["state"].toString();
    EXPECT_TRUE(states.contains("connecting")) << states.join(' ').toStdString();
    EXPECT_TRUE(states.contains("measuring")) << states.join(' ').toStdString();
    EXPECT_EQ(states.last(), "idle") << states.join(' ').toStdString();
    bool progress = false;
    for (const TMessage &m : sub.On("tarnelpro/st1/status")) {
        const QJsonObject o = m.Json();
        if (o["state"] == "measuring" && o["group"].toInt() == 3)
            progress = o["groups"].toInt() == 3 && o["quadripole"].toInt() == 21 && o["quadripoles"].toInt() == 30;
    }
    EXPECT_TRUE(progress) << "the third group's status names its place";
    const QJsonObject retained = QJsonDocument::fromJson(Retained(Broker->Port, "tarnelpro/st1/status")).object();
    EXPECT_EQ(retained["state"].toString(), "idle");
    EXPECT_EQ(retained["file"].toString(), data);
}

TEST_F(TFleetFixture, aKilledStationIsLeftOfflineAndFleetShowsEveryStation)
{
    TSimProcess fast({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(fast.TcpAddress());
    TResult r = Run({"acquire", "--config", ini, "--yes", "--mqtt", Broker->Url("tarnelpro/st1")});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();

    // The second station measures slowly and dies in the middle of its run.
    TSimProcess slow({"--tcp", "127.0.0.1:0", "--time-scale", "0.05"});
    TSubscriber sub(Broker->Port, "tarnelpro/st2/#");
    ASSERT_TRUE(sub.Ready());
    auto station = StartAcquire({"--config", ini, "--yes", "--link", "tcp:" + slow.TcpAddress(), "--output",
                                 Tmp.path() + "/st2.bin", "--mqtt", Broker->Url("tarnelpro/st2")});
    ASSERT_TRUE(sub.WaitFor([](const TMessage &m) { return m.Topic == "tarnelpro/st2/group"; }, 60000));
    ::kill(pid_t(station->processId()), SIGKILL);
    station->waitForFinished(5000);
    EXPECT_TRUE(sub.WaitFor(
        [](const TMessage &m) { return m.Topic == "tarnelpro/st2/status" && m.Json()["state"] == "offline"; }, 10000))
        << "the broker publishes the last will";
    EXPECT_EQ(Retained(Broker->Port, "tarnelpro/st2/status"), R"({"state":"offline"})");

    r = Run({"fleet", "--mqtt", Broker->Url("tarnelpro"), "--once"}, 30000);
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    const QStringList lines = r.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.Out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("STATION")) << r.Out.toStdString();
    EXPECT_TRUE(lines[1].startsWith("st1 ") && lines[1].contains(" idle ")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("12.")) << "batteries from the last health reading: " << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("st2 ") && lines[2].contains(" offline ")) << lines[2].toStdString();

    // Nobody under another prefix: said, and no failure.
    r = Run({"fleet", "--mqtt", Broker->Url("elsewhere"), "--once"}, 30000);
    EXPECT_EQ(r.Status, 0);
    EXPECT_TRUE(r.Err.contains("no station under elsewhere/")) << r.Err.toStdString();
}

TEST_F(TFleetFixture, aBrokerRestartedMidRunLosesNoDataAndPublishingResumes)
{
    // The same run without a broker, for comparison.
    TSimProcess reference({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--seed", "7"});
    const QString ini = Survey(reference.TcpAddress());
    TResult r = Run({"acquire", "--config", ini, "--yes", "--output", Tmp.path() + "/plain.bin"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();

    // Slow enough that the run outlasts the outage and the reconnection after it.
    TSimProcess slow({"--tcp", "127.0.0.1:0", "--time-scale", "0.2", "--seed", "7"});
    const QString data = Tmp.path() + "/mqtt.bin";
    std::set<int> firsts;
    const auto collect = [&firsts](TSubscriber &s) {
        for (const TMessage &m : s.On("tarnelpro/st1/group"))
            firsts.insert(m.Json()["first"].toInt());
    };
    auto before = std::make_unique<TSubscriber>(Broker->Port, "tarnelpro/st1/#");
    ASSERT_TRUE(before->Ready());
    auto station = StartAcquire({"--config", ini, "--yes", "--link", "tcp:" + slow.TcpAddress(), "--output", data,
                                 "--mqtt", Broker->Url("tarnelpro/st1")});
    ASSERT_TRUE(before->WaitFor([](const TMessage &m) { return IsGroup(m, "tarnelpro/st1"); }, 60000));
    collect(*before);
    before.reset();
    Broker->Kill();
    // Back while the station pauses between its attempts (after 1 s, then 2 s
    // more, then 4 s), so that the watcher is there before it reconnects.
    QThread::msleep(3500);
    ASSERT_EQ(station->state(), QProcess::Running) << "the run goes on without its broker";
    ASSERT_TRUE(Broker->Start());
    TSubscriber after(Broker->Port, "tarnelpro/st1/#");
    ASSERT_TRUE(after.Ready());

    ASSERT_TRUE(station->waitForFinished(120000));
    EXPECT_EQ(station->exitCode(), 0);
    ASSERT_TRUE(after.WaitFor([](const TMessage &m) { return m.Topic == "tarnelpro/st1/file"; }, 30000))
        << "publishing resumed after the restart";
    collect(after);
    EXPECT_EQ(firsts, (std::set<int>{1, 11, 21})) << "every group reported, before or after the outage";
    EXPECT_EQ(after.On("tarnelpro/st1/file")[0].Json()["sha256"].toString(), Sha256(data));
    ASSERT_EQ(Measured(data).size(), 30u);
    EXPECT_TRUE(SameRecords(Measured(data), Measured(Tmp.path() + "/plain.bin")))
        << "the measured values are those of a run without MQTT";
    EXPECT_EQ(Size(data), Size(Tmp.path() + "/plain.bin"));
    const QByteArray log = FileBytes(Tmp.path() + "/mqtt_Log.txt");
    EXPECT_EQ(log.count("MQTT broker mqtt://127.0.0.1:"), 1) << "the outage is logged once:\n" << log.data();
}

TEST_F(TFleetFixture, commandsAreAnsweredOnlyWhenTheConfigurationAllowsThem)
{
    TSimProcess slow({"--tcp", "127.0.0.1:0", "--time-scale", "0.05"});
    const QString ini = Survey(slow.TcpAddress());
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(QStringLiteral("[Mqtt]\r\nPublish=1\r\nBroker=%1\r\nCommands=1\r\n").arg(Broker->Url("tarnelpro/st1")).toLatin1());
    }
    TSubscriber sub(Broker->Port, "tarnelpro/#");
    ASSERT_TRUE(sub.Ready());
    const auto send = [this](const QString &topic, const QString &command, const QStringList &more = {}) {
        QProcess::execute(ClientBinary("mosquitto_pub"), QStringList{"-h", "127.0.0.1", "-p", QString::number(Broker->Port),
                                                                     "-q", "1", "-t", topic, "-m", command} + more);
    };
    // The next answer, which names the command it answers.
    std::size_t answered = 0;
    const auto reply = [&sub, &answered](const QString &command) {
        sub.WaitFor([&](const TMessage &) { return sub.On("tarnelpro/st1/command/reply").size() > answered; }, 10000);
        const auto replies = sub.On("tarnelpro/st1/command/reply");
        if (replies.size() <= answered)
            return QJsonObject();
        const QJsonObject o = replies[answered++].Json();
        EXPECT_EQ(o["command"].toString(), command);
        return o;
    };
    const auto state = [&sub](const QString &name) {
        return sub.WaitFor([&](const TMessage &m) { return m.Topic == "tarnelpro/st1/status" && m.Json()["state"] == name; },
                           20000);
    };

    // The configuration names the broker and allows commands.
    // A stop the broker kept from earlier is old news.
    send("tarnelpro/st1/command", "stop", {"-r"});
    auto station = StartAcquire({"--config", ini, "--yes"});
    ASSERT_TRUE(state("measuring"));
    EXPECT_TRUE(reply("stop")["text"].toString().startsWith("a retained command is not run"));
    send("tarnelpro/st1/command", "", {"-r"}); // clears it, and is no command
    send("tarnelpro/st1/command", "pause");
    EXPECT_TRUE(reply("pause")["ok"].toBool());
    EXPECT_TRUE(state("paused"));
    send("tarnelpro/st1/command", "pause");
    EXPECT_FALSE(reply("pause")["ok"].toBool()) << "paused already";
    send("tarnelpro/st1/command", "frobnicate");
    EXPECT_TRUE(reply("frobnicate")["text"].toString().startsWith("unknown command")) << "said, not ignored";
    send("tarnelpro/st1/command", "restart");
    EXPECT_TRUE(reply("restart")["ok"].toBool());
    send("tarnelpro/st1/command", "stop");
    EXPECT_TRUE(reply("stop")["ok"].toBool());
    ASSERT_TRUE(station->waitForFinished(60000));
    ASSERT_TRUE(sub.WaitFor([](const TMessage &m) { return m.Topic == "tarnelpro/st1/file"; }, 10000));
    const QJsonObject file = sub.On("tarnelpro/st1/file")[0].Json();
    EXPECT_FALSE(file["complete"].toBool());
    EXPECT_EQ(file["exit"].toString(), "stopped");
    EXPECT_EQ(file["sha256"].toString(), Sha256(Tmp.path() + "/out.bin"));

    // Without Commands=1 the station does not listen.
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray text = f.readAll().replace("Commands=1", "Commands=0");
    f.close();
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    f.close();
    station = StartAcquire({"--config", ini, "--yes", "--output", Tmp.path() + "/second.bin"});
    ASSERT_TRUE(sub.WaitFor([](const TMessage &m) { return m.Topic == "tarnelpro/st1/group" && m.Json()["file"].toString().endsWith("second.bin"); }, 60000));
    send("tarnelpro/st1/command", "stop");
    sub.WaitFor([](const TMessage &) { return false; }, 2000);
    EXPECT_EQ(sub.On("tarnelpro/st1/command/reply").size(), 6u) << "no answer to the last stop";
    ASSERT_TRUE(station->waitForFinished(60000));
    EXPECT_EQ(station->exitCode(), 0);
    EXPECT_EQ(Size(Tmp.path() + "/second.bin"), 1029 + 30 * 304) << "the run was not stopped";
}
