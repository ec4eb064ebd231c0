// tarnelpro-cli against the simulated instrument over loopback TCP: what a
// field crew runs from a terminal, end to end.
#include "cli/CliFixture.h"
#include "link/SimProcess.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>


TEST_F(TCliFixture, identifyPrintsTheInstrumentAndItsHealth)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--battery", "12.6,12.4", "--temperature", "31"});
    ASSERT_FALSE(sim.Where().isEmpty());
    const TResult r = Run({"identify", "--link", "tcp:" + sim.TcpAddress(), "--yes"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    const QStringList lines = r.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 7) << r.Out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("Identification: "));
    EXPECT_EQ(lines[1], "TypeCode: 0x10000002");
    EXPECT_EQ(lines[2], "Generation: 2");
    EXPECT_EQ(lines[3], "Channels: 10");
    EXPECT_EQ(lines[4], "TxBattery: 12.6");
    EXPECT_EQ(lines[5], "RxBattery: 12.4");
    EXPECT_EQ(lines[6], "Temperature: 31");
}

TEST_F(TCliFixture, usageAndConnectionErrors)
{
    EXPECT_EQ(Run({"identify"}).Status, 2);
    EXPECT_EQ(Run({"identify", "--link", "bogus"}).Status, 2);
    // Nobody listens on this port.
    const TResult r = Run({"identify", "--link", "tcp:127.0.0.1:1", "--yes"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("Unable to connect to ")) << r.Err.toStdString();
}

TEST_F(TCliFixture, acquireMeasuresTheSurveyAndRefusesToOverwrite)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    TResult r = Run({"acquire", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 30 * 304);
    EXPECT_TRUE(r.Err.contains("21 .. 30 / 30")) << r.Err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(Tmp.path() + "/out_Log.txt"));

    QFile::resize(Tmp.path() + "/out.bin", 1029);
    r = Run({"acquire", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 3);
    EXPECT_TRUE(r.Err.contains("exists")) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029) << "nothing touched";

    r = Run({"acquire", "--config", ini, "--yes", "--output", Tmp.path() + "/second.bin"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/second.bin"), 1029 + 30 * 304);
}

TEST_F(TCliFixture, highSpeedRunUsesTheFastMeasurement)
{
    Survey(QString()); // the simulator measures on the survey's own electrode positions
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--coordinates", Tmp.path() + "/coords.txt"});
    const QString ini = Survey(sim.TcpAddress());
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("[SpeedStartParameters]\r\nSpeedStartChannel=5\r\n[Parameters]\r\nMeasModeFlag=1\r\n");
    }
    const TResult r = Run({"acquire", "--config", ini, "--yes"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("26 .. 30 / 30")) << "groups of at most five channels";
    QFile f(Tmp.path() + "/out.bin");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    ASSERT_EQ(data.size(), 1029 + 30 * 304);
    const char *record = data.constData() + 1029;
    EXPECT_EQ(std::uint8_t(record[248]), 0x50) << "channel 1 of a group of five";
    EXPECT_EQ(std::uint8_t(record[249]), 2) << "fast-measurement records carry flag 2";
    float in = 0, rho = 0;
    std::memcpy(&in, record + 72, 4);
    std::memcpy(&rho, record + 76, 4);
    EXPECT_NEAR(in, 120.0f, 30.0f) << "the current the simulator injects, both pulses averaged";
    EXPECT_NEAR(rho, 100.0f, 2.0f) << "the simulator's homogeneous ground";
}

TEST_F(TCliFixture, firstGenerationInstrumentsWriteVersionTwoRecords)
{
    Survey(QString()); // the simulator measures on the survey's own electrode positions
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--generation", "1", "--coordinates",
                     Tmp.path() + "/coords.txt"});
    TResult r = Run({"identify", "--link", "tcp:" + sim.TcpAddress(), "--yes"});
    EXPECT_TRUE(r.Out.contains("TypeCode: 0x10000001\nGeneration: 1\n")) << r.Out.toStdString();
    const QString ini = Survey(sim.TcpAddress());
    r = Run({"acquire", "--config", ini, "--yes"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    QFile f(Tmp.path() + "/out.bin");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    ASSERT_EQ(data.size(), 1029 + 30 * 304);
    const char *record = data.constData() + 1029;
    EXPECT_EQ(record[2], 2) << "record version of the first generation";
    EXPECT_EQ(QByteArray(record + 280, 24), QByteArray(24, '\0')) << "no voltage, batteries, temperature or date";
    float rho = 0;
    std::memcpy(&rho, record + 76, 4);
    EXPECT_NEAR(rho, 100.0f, 5.0f) << "homogeneous 100 Ohm.m ground";
}

// Records without their time stamp, for comparing runs.
QByteArray RecordsWithoutDates(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray data = f.readAll().mid(1029);
    for (qsizetype r = 0; r + 304 <= data.size(); r += 304)
        data.replace(r + 296, 8, QByteArray(8, '\0'));
    return data;
}

TEST_F(TCliFixture, linkFaultsLeaveTheSameData)
{
    Survey(QString());
    const QStringList base = {"--tcp", "127.0.0.1:0", "--time-scale", "0", "--seed", "7", "--coordinates",
                              Tmp.path() + "/coords.txt"};
    QByteArray reference;
    {
        TSimProcess sim(base);
        const QString ini = Survey(sim.TcpAddress());
        const TResult r = Run({"acquire", "--config", ini, "--yes", "--output", Tmp.path() + "/clean.bin"});
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
        reference = RecordsWithoutDates(Tmp.path() + "/clean.bin");
        ASSERT_EQ(reference.size(), 30 * 304);
    }
    for (const char *fault : {"crc-every=3", "ff-replies=2", "noise=0.05"}) {
        SCOPED_TRACE(fault);
        TSimProcess sim(base + QStringList{"--fault", fault});
        const QString ini = Survey(sim.TcpAddress());
        const QString out = Tmp.path() + "/" + QString::fromLatin1(fault).section('=', 0, 0) + ".bin";
        const TResult r = Run({"acquire", "--config", ini, "--yes", "--output", out});
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
        EXPECT_EQ(RecordsWithoutDates(out), reference);
    }
}

TEST_F(TCliFixture, aDroppedLinkEndsWithThePortErrorAndKeepsTheMeasuredGroups)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "drop-after-groups=2"});
    const QString ini = Survey(sim.TcpAddress());
    const TResult r = Run({"acquire", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("Port err.")) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 20 * 304) << "exactly the two groups measured";
}

TEST_F(TCliFixture, groupsEndedWithoutStAreMeasuredAgain)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "bad-token-every=2"});
    const QString ini = Survey(sim.TcpAddress());
    const TResult r = Run({"acquire", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 30 * 304);
    EXPECT_TRUE(r.Err.contains("11 .. 10 / 30")) << "a failed group shows no new quadripole: " << r.Err.toStdString();
}

TEST_F(TCliFixture, spOnlyAppendsToTheExistingFile)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    ASSERT_EQ(Run({"acquire", "--config", ini, "--yes"}).Status, 0);
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("[Parameters]\r\nMeasModeFlag=2\r\n");
    }
    const TResult r = Run({"acquire", "--config", ini, "--yes", "--overwrite"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 60 * 304) << "no new header, the records follow the first run's";
}

TEST_F(TCliFixture, aBatteryAlarmEndsTheRunWithStatusFour)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--battery", "9.2,12.5"});
    const QString ini = Survey(sim.TcpAddress());
    const TResult r = Run({"acquire", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 4) << r.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/out.bin")) << "no data file before the pre-run checks pass";
    QFile log(Tmp.path() + "/out_Log.txt");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Batteries TX : 9.2"));
}

TEST_F(TCliFixture, sigtermStopsAfterTheGroupInProgress)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "slow-ms=400"});
    const QString ini = Survey(sim.TcpAddress());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARNELPRO_DATA_DIR"), Tmp.path() + "/data");
    p.setProcessEnvironment(env);
    p.setReadChannel(QProcess::StandardError);
    p.start(QStringLiteral(TARNELPRO_CLI_PATH), {"acquire", "--config", ini, "--yes"});
    ASSERT_TRUE(p.waitForStarted());
    // Wait for the first group, then ask to stop.
    QByteArray err;
    while (!err.contains("1 .. 10 / 30") && p.waitForReadyRead(60000))
        err += p.readAllStandardError();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitCode(), 0) << (err + p.readAllStandardError()).toStdString();
    const qint64 size = Size(Tmp.path() + "/out.bin");
    EXPECT_GE(size, 1029 + 10 * 304);
    EXPECT_LT(size, 1029 + 30 * 304);
    QFile log(Tmp.path() + "/out_Log.txt");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    EXPECT_TRUE(text.contains("Stopped by user"));
    EXPECT_TRUE(text.contains("Standard acquisition Ended"));
}

TEST_F(TCliFixture, checkResistancePrintsEachPairAndSkipsAHighOne)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--bad-electrodes", "5"});
    const QString ini = Survey(sim.TcpAddress());
    const TResult r = Run({"check-resistance", "--config", ini, "--nodes", "3,5", "--max", "20", "--retries", "2", "--yes"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    const QStringList lines = r.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << r.Out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("3,5,")) << lines[0].toStdString();
    EXPECT_GT(lines[0].section(',', 2).toDouble(), 20.0);

    const TResult all = Run({"check-resistance", "--config", ini, "--max", "1000", "--yes"});
    EXPECT_EQ(all.Status, 0) << all.Err.toStdString();
    EXPECT_EQ(all.Out.count('\n'), 38) << "39 used nodes, 38 consecutive pairs";
}
