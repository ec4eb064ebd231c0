// The station unit's command line, killed with SIGKILL in the middle of an
// acquisition and started again as systemd would: the script goes on where it
// was, into the same data file, which ends up as an uninterrupted run's.
#include "cli/CliFixture.h"
#include "link/SimProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <csignal>

namespace {
constexpr int Header = 1029, Record = 304;

// ExecStart of the unit template, for the program of this build and a script.
QStringList ExecStart(const QString &script)
{
    QFile unit(QStringLiteral(TARNELPRO_SOURCE_DIR "/resources/systemd/tarnelpro-station@.service.in"));
    if (!unit.open(QIODevice::ReadOnly))
        return {};
    for (const QString &line : QString::fromUtf8(unit.readAll()).split('\n')) {
        if (!line.startsWith("ExecStart="))
            continue;
        // systemd splits the line into words first, then expands %f in each.
        QStringList words = line.mid(10).trimmed().split(QRegularExpression("\\s+"));
        for (QString &w : words)
            w.replace("@CMAKE_INSTALL_PREFIX@/bin/tarnelpro-cli", TARNELPRO_CLI_PATH).replace("%f", script);
        return words;
    }
    return {};
}

struct TStation : TCliFixture {
    QString Folder; // with a blank in its name, as "TarnelPro Data" has

    void SetUp() override
    {
        Folder = Tmp.path() + "/station data";
        QDir().mkpath(Folder);
    }
    // A configuration measuring the fixture's survey into NAME.bin.
    QString Config(const QString &ini, const QString &name)
    {
        QFile in(ini);
        EXPECT_TRUE(in.open(QIODevice::ReadOnly));
        const QString path = Folder + "/" + name + ".ini";
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(in.readAll().replace(QByteArray(Tmp.path().toUtf8() + "/out.bin"), QString(Folder + "/" + name + ".bin").toUtf8()));
        return path;
    }
    QString Script(const QString &name, const QString &ini)
    {
        const QString path = Folder + "/" + name + ".scp";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("1 : Start configuration %1 -<X: 2 @ %1 >-\r\n"
                               "2 : latency -<X: 1 @ 0.00001 >-\r\n"
                               "3 : Start configuration %1 -<X: 2 @ %1 >-\r\n")
                    .arg(ini)
                    .toUtf8());
        return path;
    }
    void Start(QProcess &p, const QStringList &command)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARNELPRO_DATA_DIR"), Tmp.path() + "/data");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(command.first(), command.mid(1));
        ASSERT_TRUE(p.waitForStarted());
    }
    // The records with what differs between two runs blanked: measurement
    // number, batteries, temperature and date.
    static QByteArray Comparable(const QString &path)
    {
        QFile f(path);
        QByteArray data = f.open(QIODevice::ReadOnly) ? f.readAll().mid(Header) : QByteArray();
        for (qsizetype r = 0; r + Record <= data.size(); r += Record) {
            data.replace(r + 250, 2, QByteArray(2, '\0'));
            data.replace(r + 284, 20, QByteArray(20, '\0'));
        }
        return data;
    }
};
} // namespace

TEST_F(TStation, theUnitsCommandKilledAndStartedAgainGoesOnWhereItWas)
{
    // A slow instrument, to be killed in the middle of an acquisition, and a
    // quick one for an uninterrupted run of the same script to compare with.
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "slow-ms=40"});
    TSimProcess quick({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    const QString reference = Script("reference", Config(ini, "reference"));
    {
        QFile f(Folder + "/reference.ini");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll().replace(sim.TcpAddress().toUtf8(), quick.TcpAddress().toUtf8());
        f.close();
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QProcess whole;
    Start(whole, ExecStart(reference));
    ASSERT_TRUE(whole.waitForFinished(180000));
    ASSERT_EQ(whole.exitCode(), 0) << whole.readAll().toStdString();
    ASSERT_EQ(Size(Folder + "/reference.bin"), Header + 30 * Record);

    const QString script = Script("line1", Config(ini, "line1"));
    const QStringList command = ExecStart(script);
    ASSERT_EQ(command.size(), 5) << command.join(' ').toStdString();
    EXPECT_EQ(command[3], "--yes");
    EXPECT_EQ(command[4], "--resume");

    QProcess first;
    Start(first, command);
    QByteArray said;
    while (!said.contains("11 .. 20 / 30") && first.waitForReadyRead(60000))
        said += first.readAll();
    ASSERT_TRUE(said.contains("11 .. 20 / 30")) << said.toStdString();
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    first.waitForFinished(10000);
    const qint64 cut = Size(Folder + "/line1.bin");
    EXPECT_GE(cut, Header + 20 * Record);
    EXPECT_LT(cut, Header + 30 * Record);

    QProcess again;
    Start(again, command);
    ASSERT_TRUE(again.waitForFinished(180000));
    const QString text = QString::fromUtf8(again.readAll());
    EXPECT_EQ(again.exitCode(), 0) << text.toStdString();
    EXPECT_TRUE(text.contains("Script resumed after restart at line 1")) << text.toStdString();
    EXPECT_TRUE(text.contains("Acquisition resumed after restart: " + Folder + "/line1.bin"));
    EXPECT_EQ(Size(Folder + "/line1.bin"), Header + 30 * Record);
    EXPECT_EQ(Comparable(Folder + "/line1.bin"), Comparable(Folder + "/reference.bin"))
        << "the same records as an uninterrupted run";
    // The schedule went on: the second acquisition into the next name.
    EXPECT_EQ(Comparable(Folder + "/line11.bin"), Comparable(Folder + "/reference1.bin"));
    EXPECT_FALSE(QFileInfo::exists(Folder + "/line12.bin"));

    // Started once more after its end (a reboot), the station stays ended.
    QProcess after;
    Start(after, command);
    ASSERT_TRUE(after.waitForFinished(30000));
    EXPECT_EQ(after.exitCode(), 0);
    EXPECT_TRUE(after.readAll().contains("has already run to its end"));
    EXPECT_FALSE(QFileInfo::exists(Folder + "/line12.bin"));
}
