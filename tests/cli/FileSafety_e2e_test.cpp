// What a field day does to the files beside the measurements: a full disk,
// two sessions on one data file, another locale, a survey file gone missing.
#include "cli/CliFixture.h"
#include "link/SimProcess.h"
#include "support/SmallFs.h"

#include <QDir>
#include <QRegularExpression>

#include <clocale>
#include <cstring>
#include <locale.h>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
struct TFileSafety : TCliFixture {};

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

TEST_F(TFileSafety, aFullDiskKeepsTheConfigurationAndEndsTheRunOnAWholeGroup)
{
    TSmallFs fs(12 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << TSmallFs::SkipReason;

    // A configuration saved onto a full disk keeps its bytes.
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    const QString full = fs.File("Setup.ini");
    ASSERT_TRUE(QFile::copy(ini, full));
    fs.Fill();
    const QByteArray before = Bytes(full);
    TResult r = Run({"config", full, "--save", full});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("No space left on device")) << r.Err.toStdString();
    EXPECT_EQ(Bytes(full), before);
    r = Run({"acquire", "--config", full, "--save-config", "--yes", "--output", Tmp.path() + "/a.bin"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("Can't save configuration")) << r.Err.toStdString();
    EXPECT_EQ(Bytes(full), before);
    QFile::remove(fs.File("ballast"));
    QFile::remove(full);

    // The data file fills the disk in its third group: two whole groups stay.
    const QString data = fs.File("Line.bin");
    r = Run({"acquire", "--config", ini, "--yes", "--output", data});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains(QRegularExpression("Quadripoles \\d+ \\.\\. \\d+ / 30 measured but not stored: "
                                                  "No space left on device\n")))
        << r.Err.toStdString();
    const qint64 size = Size(data);
    EXPECT_GT(size, 1029);
    EXPECT_EQ((size - 1029) % (10 * 304), 0) << size << " bytes: not whole groups";
}

TEST_F(TFileSafety, eachSessionOnADataFileKeepsItsOwnLog)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    TResult r = Run({"acquire", "--config", ini, "--yes"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    QFile::resize(Tmp.path() + "/out.bin", 1029 + 12 * 304 + 100); // a crash in the second group
    r = Run({"acquire", "--config", ini, "--yes", "--resume"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    r = Run({"check-resistance", "--config", ini, "--yes", "--nodes", "1,2"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();

    const QString log = QString::fromLatin1(Bytes(Tmp.path() + "/out_Log.txt"));
    const QStringList headers = log.split("\r\n").filter(QRegularExpression("^==== Tarnel Pro 2 V\\d\\d\\.\\d\\d\\.\\d\\d, "));
    ASSERT_EQ(headers.size(), 3) << log.toStdString();
    EXPECT_TRUE(headers[0].endsWith("tarnelpro-cli acquire --config " + ini + " --yes ===="));
    EXPECT_TRUE(headers[1].contains("--resume"));
    EXPECT_TRUE(headers[2].contains("check-resistance"));
    EXPECT_TRUE(log.contains("\r\n\r\n==== Tarnel Pro 2")) << "a blank line sets the sessions apart";
    EXPECT_EQ(log.count("Start Standard acquisition"), 2);
    EXPECT_TRUE(log.contains("Resumed at quadripole"));
}

TEST_F(TFileSafety, aLogThatCannotBeWrittenMakesAMeasuredRunExitWithStatus1)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    ASSERT_TRUE(QDir().mkpath(Tmp.path() + "/out_Log.txt"));
    const TResult r = Run({"acquire", "--config", ini, "--yes"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 30 * 304) << "the measurements are stored all the same";
    EXPECT_EQ(r.Err.count("event log not saved: " + Tmp.path() + "/out_Log.txt: Is a directory"), 1)
        << r.Err.toStdString();
}

TEST_F(TFileSafety, aScriptsLogFollowsTheDataFileItWritesAndKeepsEarlierOnes)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    const auto write = [](const QString &path, const QByteArray &bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    // Yesterday's file and log: the script numbers its own file out1.bin.
    write(Tmp.path() + "/out.bin", "earlier data");
    write(Tmp.path() + "/out_Log.txt", "an earlier session\r\n");
    // A second event whose configuration names a survey file that is gone.
    write(Tmp.path() + "/broken.ini",
          Bytes(ini).replace("quads.txt", "gone.txt").replace("out.bin", "broken.bin"));
    const auto start = [](int n, const QString &path) {
        return QStringLiteral("%1 : Start configuration %2 -<X: 2 @ %2 >-\r\n").arg(n).arg(path).toUtf8();
    };
    write(Tmp.path() + "/s.scp", start(1, ini) + start(2, Tmp.path() + "/broken.ini"));

    const TResult r = Run({"script", Tmp.path() + "/s.scp", "--yes"});
    EXPECT_EQ(r.Status, 1) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out1.bin"), 1029 + 30 * 304);
    EXPECT_EQ(Bytes(Tmp.path() + "/out.bin"), "earlier data");
    EXPECT_TRUE(Bytes(Tmp.path() + "/out_Log.txt").startsWith("an earlier session\r\n"));
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/broken_Log.txt")) << "broken.bin was never written";

    const QString log = QString::fromUtf8(Bytes(Tmp.path() + "/out1_Log.txt"));
    EXPECT_EQ(log.count("==== Tarnel Pro 2 V"), 1) << log.toStdString();
    EXPECT_TRUE(log.contains("tarnelpro-cli script " + Tmp.path() + "/s.scp ====")) << log.toStdString();
    EXPECT_TRUE(log.contains("Aquisition filename " + Tmp.path() + "/out1.bin"));
    EXPECT_TRUE(log.contains("No quadripole to measure")) << log.toStdString();
    EXPECT_TRUE(log.contains("============= Script ended at ")) << log.toStdString();
}

TEST_F(TFileSafety, aNamedCoordinateFileThatIsMissingMeasuresNothing)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    for (const QByteArray &coords : {QByteArray(), QByteArray("# Num X Y Z\r\n1 x 0 0\r\n")}) {
        QFile::remove(Tmp.path() + "/coords.txt");
        if (!coords.isEmpty()) {
            QFile f(Tmp.path() + "/coords.txt");
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(coords);
        }
        const TResult r = Run({"acquire", "--config", ini, "--yes"});
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.contains(coords.isEmpty() ? "Coordinate file not found: " : "Coordinate file error: "))
            << r.Err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/out.bin"));
    }
}

TEST_F(TFileSafety, aSurveyFileThatCannotServeIsRefusedBeforeConnecting)
{
    // Nobody listens on this port: a refusal that comes after an attempt to
    // connect would say "Unable to connect" instead.
    const QString ini = Survey("127.0.0.1:1");
    const QString coords = Tmp.path() + "/coords.txt", quads = Tmp.path() + "/quads.txt";
    const QByteArray goodCoords = Bytes(coords), goodQuads = Bytes(quads);
    QByteArray withoutFive = goodCoords;
    withoutFive.replace("\r\n5 25 0 0\r\n", "\r\n");
    const struct {
        const char *Name;
        QByteArray Coordinates, Quadripoles;
        bool Fifo;
        const char *Says;
    } cases[] = {
        {"an electrode without position", withoutFive, goodQuads, false,
         "electrode 5 is used by the quadripoles but not in the coordinate file"},
        {"a coordinate line with a missing field", QByteArray(goodCoords).replace("\r\n7 35 0 0\r\n", "\r\n7 35 0\r\n"),
         goodQuads, false, "line 8: 3 field(s) where a coordinate line has 4"},
        {"an electrode given twice", goodCoords + "5 99 0 0\r\n", goodQuads, false, "line 6 and line 42 both give electrode 5"},
        {"a quadripole with A = B", goodCoords, goodQuads + "31 3 3 4 5\r\n", false,
         "line 32: quadripole 3 3 4 5: A and B are the same electrode"},
        {"a FIFO as coordinate file", {}, goodQuads, true, "is not a regular file"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        QFile::remove(coords);
        if (c.Fifo) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(coords).constData(), 0600), 0);
        } else {
            QFile f(coords);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.Coordinates);
        }
        QFile q(quads);
        ASSERT_TRUE(q.open(QIODevice::WriteOnly | QIODevice::Truncate));
        q.write(c.Quadripoles);
        q.close();
        const TResult r = Run({"acquire", "--config", ini, "--yes"}, 30000);
        EXPECT_EQ(r.Status, 1) << r.Err.toStdString();
        EXPECT_TRUE(r.Err.contains(QString::fromUtf8(c.Says))) << r.Err.toStdString();
        EXPECT_FALSE(r.Err.contains("Unable to connect")) << r.Err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/out.bin"));
    }
}

TEST_F(TFileSafety, utf16SurveyFilesMeasureLikeTheirUtf8Twins)
{
    // What a Windows shell redirection writes. Read as 8-bit text it would be
    // nonsense quadripoles; read right, every Rho is the ground's.
    Survey(QString());
    QFile::copy(Tmp.path() + "/coords.txt", Tmp.path() + "/sim-coords.txt");
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--noise", "0", "--model", "homogeneous:250",
                     "--coordinates", Tmp.path() + "/sim-coords.txt"});
    const QString ini = Survey(sim.TcpAddress());
    for (const char *name : {"/coords.txt", "/quads.txt"}) {
        const QString text = QString::fromLatin1(Bytes(Tmp.path() + name));
        QFile f(Tmp.path() + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("\xFF\xFE");
        f.write(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    }
    const TResult r = Run({"acquire", "--config", ini, "--yes"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    const QByteArray data = Bytes(Tmp.path() + "/out.bin");
    ASSERT_EQ(data.size(), 1029 + 30 * 304);
    for (int k = 0; k < 30; ++k) {
        float rho = 0;
        std::memcpy(&rho, data.constData() + 1029 + k * 304 + 76, 4);
        EXPECT_NEAR(rho, 250.0f, 250.0f * 1e-5f) << "record " << k;
    }
}

TEST_F(TFileSafety, theDemoSurveyAndAScriptReadTheSameInEveryLocale)
{
    const QString demo = QStringLiteral(TARNEL_SOURCE_DIR "/resources/demo/");
    // A script from a machine with a decimal comma, edited on one with a
    // point, saved in UTF-8: wake-up at 08:00, latencies of 1 h 30.
    const QString script = Tmp.path() + "/day.scp";
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("1 : Wake up -<X: 0 @ 46366,3333333333333 >-\r\n"
                "2 : Start configuration /x/\xC3\x89t\xC3\xA9.ini -<X: 2 @ /x/\xC3\x89t\xC3\xA9.ini >-\r\n"
                "3 : latency -<X: 1 @ 0,0625 >-\r\n"
                "4 : latency -<X: 1 @ 0.0625 >-\r\n");
    }
    const QString plan = QString::fromUtf8("2026-12-10 08:00:00 1 0 46366,3333333333333\n"
                                           "2026-12-10 08:00:00 2 2 /x/\xC3\x89t\xC3\xA9.ini\n"
                                           "2026-12-10 09:30:00 3 1 0,0625\n"
                                           "2026-12-10 11:00:00 4 1 0.0625\n"
                                           "2026-12-10 11:00:00 end\n");
    QString first;
    for (const char *locale : {"C", "de_DE.UTF-8", "fr_FR.UTF-8", "ru_RU.UTF-8"}) {
        SCOPED_TRACE(locale);
        // Without the system's locale the run would quietly fall back to C.
        const locale_t probe = ::newlocale(LC_ALL_MASK, locale, locale_t(nullptr));
        if (!probe)
            GTEST_SKIP() << locale << " is not built here (scripts/setup.sh builds it)";
        ::freelocale(probe);
        Env["LC_ALL"] = QString::fromLatin1(locale);
        const TResult r = Run({"survey", "--quadripoles", demo + "Demo_Quadripoles.txt", "--coordinates",
                               demo + "Demo_Coordinates.txt"});
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
        EXPECT_TRUE(r.Out.startsWith("QuadCount=681 NodeCount=48")) << r.Out.left(80).toStdString();
        if (first.isEmpty())
            first = r.Out;
        EXPECT_EQ(r.Out, first);
        const TResult p = Run({"script", script, "--plan", "--from", "2026-12-10 07:00:00"});
        ASSERT_EQ(p.Status, 0) << p.Err.toStdString();
        EXPECT_EQ(p.Out, plan);
    }
}

TEST_F(TFileSafety, everyCommandsOutputIsCheckedAndAFullOutputExitsWith1)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    ASSERT_EQ(Run({"acquire", "--config", ini, "--yes"}).Status, 0);
    const QString script = Tmp.path() + "/p.scp";
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("1 : Start configuration %1 -<X: 2 @ %1 >-\r\n").arg(ini).toUtf8());
    }
    const QString quads = Tmp.path() + "/quads.txt", coords = Tmp.path() + "/coords.txt";
    const QStringList commands[] = {
        {"sequence", "--electrodes", "24", "--array", "wenner"},
        {"qc", Tmp.path() + "/out.bin"},
        {"survey", "--quadripoles", quads, "--coordinates", coords},
        {"section", "--quadripoles", quads, "--coordinates", coords, "--data", Tmp.path() + "/out.bin"},
        {"script", script, "--plan", "--from", "2026-12-10 08:00:00", "--duration", "10"},
        {"check-resistance", "--config", ini, "--nodes", "1,2", "--yes"},
        {"config", ini, "--print"},
        {"--version"},
    };
    for (const QStringList &args : commands) {
        SCOPED_TRACE(args.join(' ').toStdString());
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TARNELPRO_DATA_DIR", Tmp.path() + "/data");
        p.setProcessEnvironment(env);
        p.setStandardOutputFile("/dev/full");
        p.start(TARNELPRO_CLI_PATH, args);
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
        EXPECT_TRUE(err.contains("tarnelpro-cli: cannot write the output: No space left on device")) << err.toStdString();
        // The same command writing where it can succeeds.
        EXPECT_EQ(Run(args).Status, 0);
    }
}

TEST_F(TFileSafety, configSaveReplacesOnlyAConfigurationAndOnlyWhenAsked)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    const QString other = Tmp.path() + "/other.ini";
    const QByteArray otherBytes = "[Communication]\r\nPort=3\r\n";
    {
        QFile f(other);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(otherBytes);
    }
    const QString data = Tmp.path() + "/Line1.bin";
    const QByteArray dataBytes("measured\0records", 16);
    {
        QFile f(data);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(dataBytes);
    }
    TResult r = Run({"config", ini, "--save", other});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("exists: not replaced without --overwrite")) << r.Err.toStdString();
    EXPECT_EQ(Bytes(other), otherBytes);
    for (const QStringList &args : {QStringList{"config", ini, "--save", data}, {"config", ini, "--save", data, "--overwrite"}}) {
        r = Run(args);
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.contains("is not a configuration file (binary data): not replaced")) << r.Err.toStdString();
        EXPECT_EQ(Bytes(data), dataBytes);
    }
    r = Run({"config", ini, "--save", other, "--overwrite"});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_TRUE(Bytes(other).contains("AcquisitionFile=" + Tmp.path().toUtf8() + "/out.bin"));

    // A configuration made read-only is left as it is, saved onto itself or not.
    ASSERT_TRUE(QFile::setPermissions(other, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    const QByteArray readOnly = Bytes(other);
    for (const QStringList &args : {QStringList{"config", other, "--save", other}, {"config", ini, "--save", other, "--overwrite"}}) {
        r = Run(args);
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.contains("cannot save \"" + other + "\": the file is read-only")) << r.Err.toStdString();
        EXPECT_EQ(Bytes(other), readOnly);
    }
    // The run measures all the same, and says the configuration was not saved.
    r = Run({"acquire", "--config", other, "--save-config", "--yes", "--output", Tmp.path() + "/a.bin"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("Can't save configuration \"" + other + "\": the file is read-only")) << r.Err.toStdString();
    EXPECT_EQ(Bytes(other), readOnly);
    EXPECT_EQ(Size(Tmp.path() + "/a.bin"), 1029 + 30 * 304);
}

TEST_F(TFileSafety, aLinkSpeedSurvivesASaveAndIdentifyOpensThePortAtIt)
{
    const QString pty = Tmp.path() + "/tty";
    TSimProcess sim({"--pty", pty, "--time-scale", "0", "--baud", "38400"});
    ASSERT_FALSE(sim.Where().isEmpty());
    const QString ini = Tmp.path() + "/link.ini";
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Communication]\r\nPort=1\r\nSpeed=38400\r\nHighSpeed=57600\r\n[Devices]\r\nCom1=%1\r\n")
                    .arg(pty)
                    .toUtf8());
    }
    ASSERT_EQ(Run({"config", ini, "--save", ini}).Status, 0);
    const QByteArray saved = Bytes(ini);
    EXPECT_TRUE(saved.contains("\r\nSpeed=38400\r\nHighSpeed=57600\r\n")) << saved.toStdString();
    ASSERT_EQ(Run({"config", ini, "--save", Tmp.path() + "/copy.ini"}).Status, 0);
    EXPECT_TRUE(Bytes(Tmp.path() + "/copy.ini").contains("\r\nSpeed=38400\r\n"));

    // The terminal settings of a pty are shared by whoever opens it: put it
    // at another speed, then watch what identify sets.
    const int fd = ::open(QFile::encodeName(pty).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfsetspeed(&t, B9600);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TARNELPRO_DATA_DIR", Tmp.path() + "/data");
    p.setProcessEnvironment(env);
    p.start(TARNELPRO_CLI_PATH, {"identify", "--config", ini, "--yes"});
    std::set<speed_t> seen;
    while (!p.waitForFinished(1)) {
        if (::tcgetattr(fd, &t) == 0)
            seen.insert(::cfgetospeed(&t));
    }
    ::close(fd);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(seen.count(B38400)) << "the port was opened at the file's speed";
    EXPECT_FALSE(seen.count(B19200));
}
