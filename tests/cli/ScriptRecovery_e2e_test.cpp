// A monitoring script through a bad night: the instrument drops the link and
// comes back, a survey file is missing, the exit status tells the truth.
#include "cli/CliFixture.h"
#include "link/SimProcess.h"

#include <QThread>

namespace {
struct TScriptRecovery : TCliFixture {
    QString WriteScript(const QStringList &lines)
    {
        const QString path = Tmp.path() + "/night.scp";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        for (const QString &l : lines)
            f.write((l + "\r\n").toUtf8());
        return path;
    }
    static QString Start(int n, const QString &ini)
    {
        return QStringLiteral("%1 : Start configuration %2 -<X: 2 @ %2 >-").arg(n).arg(ini);
    }
};
} // namespace

TEST_F(TScriptRecovery, aDroppedLinkFailsOneEventAndTheNextReconnects)
{
    auto first = std::make_unique<TSimProcess>(
        QStringList{"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "drop-after-groups=2"});
    const QString address = first->TcpAddress();
    ASSERT_FALSE(address.isEmpty());
    const QString ini = Survey(address);
    // Latency of 4 s between the two acquisitions.
    const QString script = WriteScript({Start(1, ini), "2 : Latency -<X: 1 @ 0.0000462963 >-", Start(3, ini)});

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARNELPRO_DATA_DIR"), Tmp.path() + "/data");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TARNELPRO_CLI_PATH), {"script", script, "--yes", "--timeout", "20"});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray out;
    while (!out.contains("> 2 : Latency") && p.waitForReadyRead(60000))
        out += p.readAllStandardOutput();
    // The instrument reboots: another process on the same port.
    first.reset();
    TSimProcess second({"--tcp", address, "--time-scale", "0"});
    ASSERT_FALSE(second.TcpAddress().isEmpty());
    ASSERT_TRUE(p.waitForFinished(180000));
    out += p.readAllStandardOutput();
    const QByteArray err = p.readAllStandardError();

    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("1 script event(s) failed")) << err.toStdString();
    // The first acquisition kept its two whole groups and said why it ended.
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 20 * 304);
    EXPECT_TRUE(out.contains("Start configuration Error")) << out.toStdString();
    EXPECT_TRUE(out.contains("acquisition ended at quadripoles")) << out.toStdString();
    // The second one connected again and measured everything.
    EXPECT_TRUE(out.contains("Connecting to TCP " + address.toUtf8() + " (attempt 1 of 3)")) << out.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out1.bin"), 1029 + 30 * 304);
    const QString log = QString::fromLatin1([&] {
        QFile f(Tmp.path() + "/out1_Log.txt");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }());
    EXPECT_TRUE(log.contains("Connecting to TCP " + address)) << log.toStdString();
}

TEST_F(TScriptRecovery, aMissingSurveyFileIsALogLineNotABox)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    const QString broken = Tmp.path() + "/broken.ini";
    {
        QFile in(ini), o(broken);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly) && o.open(QIODevice::WriteOnly));
        o.write(in.readAll().replace("quads.txt", "gone.txt").replace("out.bin", "broken.bin"));
    }
    const QString script = WriteScript({Start(1, broken), Start(2, ini)});
    const TResult r = Run({"script", script, "--yes"});
    EXPECT_EQ(r.Status, 1) << r.Err.toStdString();
    EXPECT_TRUE(r.Out.contains("Quadripole file not found: " + Tmp.path() + "/gone.txt")) << r.Out.toStdString();
    EXPECT_TRUE(r.Out.contains("No quadripole to measure")) << r.Out.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 30 * 304) << "the next event ran";
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/broken.bin"));
}
