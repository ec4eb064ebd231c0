// tarnelpro-cli against a simulator that goes away and comes back, falls
// silent or never ends its run dialogue: scripts connect again, say what
// failed and exit 1 then, and Stop never waits on a silent instrument.
#include "cli/CliFixture.h"
#include "link/SimProcess.h"

#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <memory>

namespace {
QString Start(int n, const QString &ini) { return QStringLiteral("%1 : Start configuration %2 -<X: 2 @ %2 >-").arg(n).arg(ini); }
// A latency of about two seconds.
const QString ShortLatency = QStringLiteral("2 : latency -<X: 1 @ 0.00002 >-");

struct TScriptRun : TCliFixture {
    QProcess Cli;
    QByteArray Out, Err;

    QString WriteScript(const QStringList &lines)
    {
        const QString path = Tmp.path() + "/s.scp";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        for (const QString &l : lines)
            f.write(l.toUtf8() + "\r\n");
        return path;
    }
    void Launch(const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARNELPRO_DATA_DIR"), Tmp.path() + "/data");
        Cli.setProcessEnvironment(env);
        Cli.start(QStringLiteral(TARNELPRO_CLI_PATH), args);
        ASSERT_TRUE(Cli.waitForStarted());
    }
    // Reads both outputs until text shows in one of them.
    bool WaitFor(const QByteArray &text, int timeoutMs = 60000)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            Out += Cli.readAllStandardOutput();
            Err += Cli.readAllStandardError();
            if (Out.contains(text) || Err.contains(text))
                return true;
            if (t.elapsed() > timeoutMs || Cli.state() == QProcess::NotRunning)
                return false;
            Cli.waitForReadyRead(200);
        }
    }
    int Finish(int timeoutMs = 120000)
    {
        Cli.waitForFinished(timeoutMs);
        Out += Cli.readAllStandardOutput();
        Err += Cli.readAllStandardError();
        return Cli.exitStatus() == QProcess::NormalExit ? Cli.exitCode() : -1;
    }
    QString Text() const { return QString::fromUtf8(Out + "\n" + Err); }
};
} // namespace

TEST_F(TScriptRun, aSimulatorRestartedBetweenTwoAcquisitionsIsConnectedAgain)
{
    auto sim = std::make_unique<TSimProcess>(QStringList{"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString address = sim->TcpAddress();
    const QString a = Survey(address);
    Launch({"script", WriteScript({Start(1, a), ShortLatency, Start(3, a)}), "--yes", "--reconnect-pause", "3"});
    ASSERT_TRUE(WaitFor("Standard acquisition Ended")) << Text().toStdString();
    sim.reset();
    // The first attempt finds nobody; the instrument is back for the second.
    ASSERT_TRUE(WaitFor("(attempt 1 of 3)")) << Text().toStdString();
    sim = std::make_unique<TSimProcess>(QStringList{"--tcp", address, "--time-scale", "0"});
    ASSERT_FALSE(sim->Where().isEmpty());
    EXPECT_EQ(Finish(), 0) << Text().toStdString();
    const QString text = Text();
    EXPECT_TRUE(text.contains("Link lost"));
    EXPECT_TRUE(text.contains("Connection attempt 1 failed: Unable to connect to 127.0.0.1")) << text.toStdString();
    EXPECT_EQ(text.count("Connect to SN 0042"), 2) << "connected again for the second acquisition";
    EXPECT_EQ(text.count("Standard acquisition Ended"), 2);
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 30 * 304);
    EXPECT_EQ(Size(Tmp.path() + "/out1.bin"), 1029 + 30 * 304);
}

TEST_F(TScriptRun, aSimulatorKilledMidAcquisitionFailsThatEventOnly)
{
    auto sim = std::make_unique<TSimProcess>(QStringList{"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "slow-ms=200"});
    const QString address = sim->TcpAddress();
    const QString a = Survey(address);
    Launch({"script", WriteScript({Start(1, a), ShortLatency, Start(3, a)}), "--yes", "--reconnect-pause", "3"});
    ASSERT_TRUE(WaitFor("1 .. 10 / 30")) << Text().toStdString();
    sim.reset();
    ASSERT_TRUE(WaitFor("Start configuration Error")) << Text().toStdString();
    sim = std::make_unique<TSimProcess>(QStringList{"--tcp", address, "--time-scale", "0"});
    EXPECT_EQ(Finish(), 1) << Text().toStdString();
    EXPECT_TRUE(Err.contains("1 script event(s) failed")) << Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 10 * 304) << "the whole group measured before";
    EXPECT_EQ(Size(Tmp.path() + "/out1.bin"), 1029 + 30 * 304);

    // Each data file's log tells its own event, in order: the first how it
    // ended, the second how the link came back.
    const auto logOf = [&](const char *name) {
        QFile log(Tmp.path() + "/" + name + "_Log.txt");
        EXPECT_TRUE(log.open(QIODevice::ReadOnly)) << name;
        return QString::fromUtf8(log.readAll());
    };
    const QString first = logOf("out");
    const qsizetype reason = first.indexOf("(acquisition ended at quadripoles 11 .. 20 / 30; the data file ends at quadripole 10)");
    const qsizetype lost = first.indexOf("Link lost");
    const qsizetype error = first.indexOf("Start configuration Error");
    EXPECT_GT(reason, 0) << first.toStdString();
    EXPECT_GT(lost, reason);
    EXPECT_GT(error, lost);
    EXPECT_EQ(first.count("Start Standard acquisition"), 1);
    const QString next = logOf("out1");
    const qsizetype event = next.indexOf("> 3 : Start configuration");
    const qsizetype released = next.indexOf("Electrodes released");
    const qsizetype second = next.indexOf("Start Standard acquisition");
    EXPECT_GT(event, 0) << next.toStdString();
    EXPECT_GT(released, event);
    EXPECT_GT(second, released);
    EXPECT_FALSE(next.contains("Link lost"));
}

TEST_F(TScriptRun, aRunDialogueNeverEndedWithStEndsTheRun)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "bad-token-every=1"});
    const QString ini = Survey(sim.TcpAddress());
    QElapsedTimer t;
    t.start();
    const TResult r = Run({"acquire", "--config", ini, "--yes", "--timeout", "10"}, 120000);
    EXPECT_EQ(r.Status, 1) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("Quadripoles 1 .. 10 / 30: the instrument ended 5 measurements in a row without records"))
        << r.Err.toStdString();
    EXPECT_LT(t.elapsed(), 60000);
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029);
}

// The stacks of a group may take longer than the limit: each one the
// instrument reports keeps the measurement alive.
TEST_F(TScriptRun, aGroupLongerThanTheTimeoutIsNoSilence)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0.02"});
    const QString ini = Survey(sim.TcpAddress());
    const TResult r = Run({"acquire", "--config", ini, "--yes", "--timeout", "1"}, 120000);
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 30 * 304);
}

TEST_F(TScriptRun, stopDuringASilentWaitEndsAtOnce)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "silent-after-groups=1"});
    const QString ini = Survey(sim.TcpAddress());
    Launch({"acquire", "--config", ini, "--yes"});
    ASSERT_TRUE(WaitFor("1 .. 10 / 30")) << Text().toStdString();
    // Let the silence last a moment: the instrument is waited on.
    QThread::msleep(1500);
    QElapsedTimer t;
    t.start();
    ::kill(static_cast<pid_t>(Cli.processId()), SIGTERM);
    EXPECT_EQ(Finish(30000), 0) << Text().toStdString();
    const qint64 took = t.elapsed();
    std::printf("stop during a silent wait: ended %lld ms after SIGTERM\n", static_cast<long long>(took));
    EXPECT_LT(took, 5000) << "generous for a loaded machine; it takes well under a second";
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 10 * 304);
    QFile log(Tmp.path() + "/out_Log.txt");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(log.readAll());
    EXPECT_TRUE(text.contains("Stopped by user"));
    EXPECT_TRUE(text.contains("Quadripoles 11 .. 20 / 30 given up"));
    EXPECT_TRUE(text.contains("Electrodes not released: the instrument does not answer")) << text.toStdString();
    EXPECT_TRUE(text.contains("Standard acquisition Ended"));
}

TEST_F(TScriptRun, aLoopWithoutAPauseIsRefusedByPlanAndRun)
{
    const QString script = WriteScript({"memo", "2 : back -<X: 3 @ 1 >-"});
    for (const QStringList &extra : {QStringList{"--plan"}, QStringList{"--link", "tcp:127.0.0.1:1", "--yes"}}) {
        const TResult r = Run(QStringList{"script", script} + extra);
        EXPECT_EQ(r.Status, 1) << extra.join(' ').toStdString();
        EXPECT_TRUE(r.Err.contains("tarnelpro-cli: Line 2 jumps back to line 1 for ever with no latency and no acquisition"))
            << r.Err.toStdString();
        EXPECT_TRUE(r.Out.isEmpty());
    }
}
