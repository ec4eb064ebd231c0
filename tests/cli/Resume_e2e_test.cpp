// Interrupted acquisitions continued with `acquire --resume`: whatever ended
// the first run, the final file holds what an uninterrupted run measures.
#include "link/SimProcess.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>

namespace {
constexpr int Header = 1029, Record = 304, Quads = 60;

struct TResult {
    int Status = -1;
    QString Err;
};

struct TResumeFixture : ::testing::Test {
    QTemporaryDir Tmp;
    QString Ini, Out;

    // The simulator reads the coordinates at its start.
    void SetUp() override { Survey(QString()); }

    QStringList Sim(const QStringList &extra = {}) const
    {
        return QStringList{"--tcp", "127.0.0.1:0", "--time-scale", "0", "--seed", "11", "--coordinates",
                           Tmp.path() + "/coords.txt"} + extra;
    }
    QProcessEnvironment Env() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARNELPRO_DATA_DIR"), Tmp.path() + "/data");
        return env;
    }
    TResult Run(const QStringList &args)
    {
        QProcess p;
        p.setProcessEnvironment(Env());
        p.start(QStringLiteral(TARNELPRO_CLI_PATH), args);
        p.waitForFinished(120000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromLocal8Bit(p.readAllStandardError())};
    }
    // Six groups of ten dipoles along a line of 40 nodes with some relief;
    // xOffset shifts the coordinates (another survey).
    void Survey(const QString &link, double xOffset = 0)
    {
        QFile c(Tmp.path() + "/coords.txt");
        ASSERT_TRUE(c.open(QIODevice::WriteOnly));
        c.write("# Num X Y Z\r\n");
        for (int i = 1; i <= 40; ++i)
            c.write(QStringLiteral("%1 %2 0 %3\r\n").arg(i).arg(5 * i + xOffset).arg(0.25 * (i % 7)).toLatin1());
        c.close();
        QFile q(Tmp.path() + "/quads.txt");
        ASSERT_TRUE(q.open(QIODevice::WriteOnly));
        q.write("# Num A B M N\r\n");
        int n = 1;
        for (int g = 0; g < Quads / 10; ++g)
            for (int k = 0; k < 10; ++k, ++n)
                q.write(QStringLiteral("%1 %2 %3 %4 %5\r\n").arg(n).arg(3 * g + 1).arg(3 * g + 2).arg(3 * g + 3 + k).arg(3 * g + 4 + k).toLatin1());
        q.close();
        Ini = Tmp.path() + "/run.ini";
        Out = Tmp.path() + "/out.bin";
        QFile f(Ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Name]\r\nQuadripoleFile=%1/quads.txt\r\nCoordinateFile=%1/coords.txt\r\n"
                               "[Parameters]\r\nAcquisitionFile=%1/out.bin\r\n[Communication]\r\nPort=100\r\nIPAddress=%2\r\n")
                    .arg(Tmp.path(), link)
                    .toLatin1());
    }
    static QByteArray Bytes(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The records with what may differ between two runs blanked: measurement
    // number, batteries, temperature and date.
    static QByteArray Comparable(const QString &path)
    {
        QByteArray data = Bytes(path).mid(Header);
        for (qsizetype r = 0; r + Record <= data.size(); r += Record) {
            data.replace(r + 250, 2, QByteArray(2, '\0'));
            data.replace(r + 284, 20, QByteArray(20, '\0'));
        }
        return data;
    }
    // The records of an uninterrupted run, measured once for all the tests.
    QByteArray Reference()
    {
        static QByteArray cached;
        if (!cached.isEmpty())
            return cached;
        TSimProcess sim(Sim());
        Survey(sim.TcpAddress());
        const QString path = Tmp.path() + "/reference.bin";
        const TResult r = Run({"acquire", "--config", Ini, "--yes", "--output", path});
        EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
        const QByteArray data = Comparable(path);
        EXPECT_EQ(data.size(), Quads * Record);
        if (data.size() == Quads * Record)
            cached = data;
        return data;
    }
    QString ResumeErr;
    // Resumes against a sound instrument and checks the file and the log.
    void ResumeAndCompare(const QByteArray &reference, int resumedAt)
    {
        TSimProcess sim(Sim());
        Survey(sim.TcpAddress());
        const TResult r = Run({"acquire", "--config", Ini, "--yes", "--resume"});
        ResumeErr = r.Err;
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
        EXPECT_EQ(QFileInfo(Out).size(), Header + Quads * Record);
        EXPECT_TRUE(Comparable(Out) == reference) << "resumed records differ from an uninterrupted run";
        const QByteArray log = Bytes(Tmp.path() + "/out_Log.txt");
        EXPECT_TRUE(log.contains("Resumed at quadripole " + QByteArray::number(resumedAt) + " / 60"))
            << log.toStdString();
    }
};
} // namespace

TEST_F(TResumeFixture, afterADroppedLink)
{
    const QByteArray reference = Reference();
    {
        TSimProcess sim(Sim({"--fault", "drop-after-groups=5"}));
        Survey(sim.TcpAddress());
        const TResult r = Run({"acquire", "--config", Ini, "--yes"});
        ASSERT_EQ(r.Status, 1) << r.Err.toStdString();
        ASSERT_EQ(QFileInfo(Out).size(), Header + 50 * Record);
    }
    ResumeAndCompare(reference, 51);
}

TEST_F(TResumeFixture, afterAKillInTheMiddleOfAGroupWithATornLastRecord)
{
    const QByteArray reference = Reference();
    {
        TSimProcess sim(Sim({"--fault", "slow-ms=20"}));
        Survey(sim.TcpAddress());
        QProcess p;
        p.setProcessEnvironment(Env());
        p.setReadChannel(QProcess::StandardError);
        p.start(QStringLiteral(TARNELPRO_CLI_PATH), {"acquire", "--config", Ini, "--yes"});
        ASSERT_TRUE(p.waitForStarted());
        QByteArray err;
        while (!err.contains("11 .. 20 / 60") && p.waitForReadyRead(60000))
            err += p.readAllStandardError();
        ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
        p.waitForFinished(10000);
    }
    ASSERT_TRUE(QFileInfo::exists(Tmp.path() + "/.out.bin.lock")) << "a killed run leaves its lock behind";
    const qint64 size = QFileInfo(Out).size();
    ASSERT_EQ((size - Header) % Record, 0);
    ASSERT_GE(size, Header + 20 * Record);
    // A power loss while the last group was written: cut inside its last record.
    const quint32 seed = QRandomGenerator::global()->generate();
    const qint64 cut = size - Record + 1 + qint64(QRandomGenerator(seed).bounded(Record - 1));
    SCOPED_TRACE("cut at byte " + std::to_string(cut) + " (seed " + std::to_string(seed) + ")");
    ASSERT_TRUE(QFile::resize(Out, cut));
    const int complete = int((size - Header) / Record) - 10;
    ResumeAndCompare(reference, complete + 1);
    EXPECT_TRUE(ResumeErr.contains(QRegularExpression("lock of tarnelpro-cli acquire, process \\d+, since [0-9:]+, "
                                                      "which has ended, taken over")))
        << ResumeErr.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/.out.bin.lock"));
}

// While one acquire writes the file, a second one on it, whatever its options,
// and a resistance check beside it are refused before they connect or touch
// anything; the file ends as one uninterrupted run leaves it.
TEST_F(TResumeFixture, aSecondRunOnAFileBeingWrittenIsRefusedAndTheFileIsThatOfOneRun)
{
    const QByteArray reference = Reference();
    TSimProcess sim(Sim({"--fault", "slow-ms=20"}));
    Survey(sim.TcpAddress());
    QProcess first;
    first.setProcessEnvironment(Env());
    first.setReadChannel(QProcess::StandardError);
    first.start(QStringLiteral(TARNELPRO_CLI_PATH), {"acquire", "--config", Ini, "--yes"});
    ASSERT_TRUE(first.waitForStarted());
    QByteArray err;
    while (!err.contains("1 .. 10 / 60") && first.waitForReadyRead(60000))
        err += first.readAllStandardError();
    ASSERT_TRUE(err.contains("1 .. 10 / 60")) << err.toStdString();

    // A link nobody listens on: a refused run never gets as far as connecting.
    const QString busy = QStringLiteral("tarnelpro-cli: %1 is being written by tarnelpro-cli acquire, process %2, since ")
                             .arg(Out)
                             .arg(first.processId());
    const QList<QStringList> seconds = {
        {"acquire", "--overwrite"}, {"acquire", "--resume"}, {"acquire"}, {"check-resistance"}};
    for (const QStringList &second : seconds) {
        SCOPED_TRACE(second.join(' ').toStdString());
        const TResult r = Run(QStringList{second[0], "--config", Ini, "--yes", "--link", "tcp:127.0.0.1:1"} + second.mid(1));
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.startsWith(busy)) << r.Err.toStdString();
        EXPECT_TRUE(r.Err.contains("; nothing was changed")) << r.Err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/out_Resistance.csv"));

    ASSERT_TRUE(first.waitForFinished(120000));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    EXPECT_EQ(QFileInfo(Out).size(), Header + Quads * Record);
    EXPECT_TRUE(Comparable(Out) == reference) << "records of two runs mixed";
    const QByteArray log = Bytes(Tmp.path() + "/out_Log.txt");
    EXPECT_FALSE(log.contains("--overwrite") || log.contains("--resume") || log.contains("check-resistance"))
        << "a refused run wrote to the log";
    EXPECT_EQ(log.count("acquisition Ended"), 1);
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/.out.bin.lock"));
}

TEST_F(TResumeFixture, aBatteryAlarmBeforeTheResumedRunLeavesTheFileForTheNextAttempt)
{
    const QByteArray reference = Reference();
    {
        TSimProcess sim(Sim({"--fault", "drop-after-groups=3"}));
        Survey(sim.TcpAddress());
        ASSERT_EQ(Run({"acquire", "--config", Ini, "--yes"}).Status, 1);
    }
    const QByteArray interrupted = Bytes(Out);
    {
        TSimProcess sim(Sim({"--battery", "9.2,12.5"}));
        Survey(sim.TcpAddress());
        const TResult r = Run({"acquire", "--config", Ini, "--yes", "--resume"});
        ASSERT_EQ(r.Status, 4) << r.Err.toStdString();
        EXPECT_EQ(Bytes(Out), interrupted);
    }
    ResumeAndCompare(reference, 31);
}

TEST_F(TResumeFixture, aFileOfAnotherSurveyIsRefusedAndLeftAlone)
{
    {
        TSimProcess sim(Sim({"--fault", "drop-after-groups=2"}));
        Survey(sim.TcpAddress());
        ASSERT_EQ(Run({"acquire", "--config", Ini, "--yes"}).Status, 1);
    }
    const QByteArray before = Bytes(Out);
    Survey("127.0.0.1:1", 2.5);
    const TResult r = Run({"acquire", "--config", Ini, "--yes", "--resume"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("record 1 (quadripole 1)")) << r.Err.toStdString();
    EXPECT_EQ(Bytes(Out), before);

    QFile::remove(Out);
    const TResult missing = Run({"acquire", "--config", Ini, "--yes", "--resume"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_FALSE(QFileInfo::exists(Out));
    EXPECT_EQ(Run({"acquire", "--config", Ini, "--resume", "--overwrite"}).Status, 2);
}
