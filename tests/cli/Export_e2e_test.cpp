// tarnelpro-cli export as a crew runs it: default names, stdout, refusals.
#include "support/SmallFs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>

#include <sys/stat.h>

namespace {
struct TRun {
    int Status = -1;
    QByteArray Out, Err;
};

TRun Cli(const QStringList &args, const QString &folder = {})
{
    QProcess p;
    if (!folder.isEmpty())
        p.setWorkingDirectory(folder);
    p.start(QStringLiteral(TARNELPRO_CLI_PATH), QStringList{"export"} + args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// A header and two first-generation records of a Wenner quadripole, then
// half a record as a crash leaves it.
QByteArray DataFile()
{
    QByteArray file(1029, '\0');
    const char mark[] = {'\x02', '\x00', '\x00', '\x80', '\x09'};
    std::memcpy(file.data(), mark, 5);
    for (int i = 0; i < 2; ++i) {
        QByteArray r(304, '\0');
        const quint16 ten = 10, version = 2;
        std::memcpy(r.data(), &ten, 2);
        std::memcpy(r.data() + 2, &version, 2);
        const float x[] = {0, 15, 5, 10};
        std::memcpy(r.data() + 16, x, sizeof x);
        const float vp = 40, in = i == 0 ? 100 : 0, rho = i == 0 ? 12.5663706f : 0;
        std::memcpy(r.data() + 68, &vp, 4);
        std::memcpy(r.data() + 72, &in, 4);
        std::memcpy(r.data() + 76, &rho, 4);
        file += r;
    }
    return file + QByteArray(150, '\x01');
}
} // namespace

QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(ExportCommand, writesBesideTheDataFileOrToStdoutAndRefusesOtherFiles)
{
    QTemporaryDir tmp;
    const QString bin = tmp.path() + "/Line 4.bin";
    QFile f(bin);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(DataFile());
    f.close();

    TRun r = Cli({bin, "--format", "protocol"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Read(tmp.path() + "/Line 4_protocol.dat"), "1\n1 1 4 2 3 0.4\n");
    EXPECT_EQ(Read(tmp.path() + "/Line 4_electrodes.csv"),
              "label,x,y,z,remote,distance,electrode\n1,0.0,0.0,0.0,0,0.0,\n2,5.0,0.0,0.0,0,5.0,\n"
              "3,10.0,0.0,0.0,0,10.0,\n4,15.0,0.0,0.0,0,15.0,\n");
    EXPECT_TRUE(r.Err.contains("nearest the first measured quadripole")) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("150 bytes are a partial or zero-filled record")) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("1 record without a current")) << r.Err.toStdString();

    // A second export is refused until --overwrite; res2dinv gets its own name.
    r = Cli({bin, "--format", "protocol"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("already exists (--overwrite replaces it)")) << r.Err.toStdString();
    EXPECT_EQ(Cli({bin, "--format", "protocol", "--overwrite"}).Status, 0);
    EXPECT_EQ(Cli({bin, "--format", "res2dinv"}).Status, 0);
    EXPECT_TRUE(QFileInfo::exists(tmp.path() + "/Line 4_res2dinv.dat"));

    r = Cli({bin, "--format", "csv", "-o", "-"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    const QList<QByteArray> lines = r.Out.split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith("record,channel,channels,a_x_m,"));
    EXPECT_TRUE(lines[2].contains(",in=0,low_current")) << "the fault, then the quality flags: " << lines[2].toStdString();
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/Line 4.csv"));

    // Usage errors say what was wrong.
    for (const QStringList &args : {QStringList{bin, "--format", "xlsx"}, QStringList{"--format", "csv"},
                                    QStringList{bin, "--format", "csv", "--line"},
                                    QStringList{bin, "--format", "unified", "--ip", "phase:x"}}) {
        r = Cli(args);
        EXPECT_EQ(r.Status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.Err.startsWith("tarnelpro-cli export: ")) << r.Err.toStdString();
    }
    r = Cli({tmp.path() + "/Line 4_protocol.dat", "--format", "csv", "-o", tmp.path() + "/x.csv"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("not a data file")) << r.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/x.csv"));
}

TEST(ExportCommand, neverWritesOntoItsInput)
{
    QTemporaryDir tmp;
    const QString bin = tmp.path() + "/Line1.dat"; // a data file with the name of an export
    QFile f(bin);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(DataFile());
    f.close();
    ASSERT_TRUE(QFile::link(bin, tmp.path() + "/link.dat"));
    for (const QString &out : {bin, tmp.path() + "/link.dat", tmp.path() + "/./Line1.dat"}) {
        const TRun r = Cli({bin, "--format", "protocol", "-o", out, "--overwrite"});
        EXPECT_EQ(r.Status, 1) << out.toStdString();
        EXPECT_TRUE(r.Err.contains("data file being exported")) << r.Err.toStdString();
    }
    // The same names given relative to the working folder.
    for (const QString &out : {QStringLiteral("Line1.dat"), QStringLiteral("./Line1.dat"), QStringLiteral("link.dat")}) {
        const TRun r = Cli({"Line1.dat", "--format", "res2dinv", "-o", out, "--overwrite"}, tmp.path());
        EXPECT_EQ(r.Status, 1) << out.toStdString();
        EXPECT_TRUE(r.Err.contains("data file being exported")) << r.Err.toStdString();
    }
    EXPECT_EQ(Read(bin), DataFile());
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), (QStringList{"Line1.dat", "link.dat"}));

    // A header without records exports nothing.
    QFile empty(tmp.path() + "/Empty.bin");
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.write(DataFile().left(1029));
    empty.close();
    const TRun r = Cli({tmp.path() + "/Empty.bin", "--format", "unified"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("no records to export")) << r.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/Empty.ohm"));
}

TEST(ExportCommand, aFullDiskExitsWithTheReasonAndKeepsThePreviousExport)
{
    TSmallFs fs(256 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << TSmallFs::SkipReason;
    const QString bin = fs.File("Line.bin");
    QFile f(bin);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(DataFile());
    f.close();
    const QString out = fs.File("Line_res2dinv.dat");
    QFile earlier(out);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("an earlier export\n");
    earlier.close();
    fs.Fill();
    const TRun r = Cli({bin, "--format", "res2dinv", "--overwrite"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains(out.toUtf8() + ": No space left on device")) << r.Err.toStdString();
    EXPECT_EQ(Read(out), "an earlier export\n");
}

TEST(ExportCommand, filesThatHoldNoDataOrThatAreNoFileAreRefusedAndADamagedTableOnlyWarns)
{
    QTemporaryDir tmp;
    const auto write = [&tmp](const QString &name, const QByteArray &bytes) {
        QFile f(tmp.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    const QString empty = write("Empty.bin", DataFile().left(1029));
    const QString good = write("Good.bin", DataFile());
    write("Good_Resistance.csv", "electrode,x,y,z,kohm,status\r\n1,0,0,0,torn");
    const QString fifo = tmp.filePath("Fifo.bin");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString huge = tmp.filePath("Huge.bin");
    {
        QFile big(huge);
        ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(qint64(3) << 30)); // sparse
    }
    const struct {
        const char *Name;
        QStringList Args;
        int Status;
        const char *Err;
    } cases[] = {
        {"qc, no record", {"qc", empty}, 1, "no record to judge"},
        {"export, no record", {"export", empty, "--format", "csv", "-o", "-"}, 1, "no records to export"},
        {"qc, a FIFO", {"qc", fifo}, 1, "not a regular file"},
        {"export, a FIFO", {"export", fifo, "--format", "csv", "-o", "-"}, 1, "not a regular file"},
        {"qc, 3 GB", {"qc", huge}, 1, "more than any data file holds"},
        {"export, 3 GB", {"export", huge, "--format", "csv", "-o", "-"}, 1, "more than any data file holds"},
        {"qc, a folder", {"qc", tmp.path()}, 1, "a folder"},
        {"qc, damaged table", {"qc", good}, 0, "Good_Resistance.csv: line 2"},
        {"export, damaged table", {"export", good, "--format", "protocol", "-o", tmp.filePath("p.dat")}, 0,
         "Good_Resistance.csv: line 2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        QProcess p;
        p.start(QStringLiteral(TARNELPRO_CLI_PATH), c.Args);
        ASSERT_TRUE(p.waitForFinished(20000)) << "read the FIFO or the whole file";
        EXPECT_EQ(p.exitCode(), c.Status);
        const QByteArray err = p.readAllStandardError();
        EXPECT_TRUE(err.contains(c.Err)) << err.toStdString();
        if (c.Status == 0) {
            EXPECT_TRUE(err.contains("without bad_electrode")) << err.toStdString();
        }
    }
    EXPECT_EQ(Read(tmp.filePath("p.dat")), "1\n1 1 4 2 3 0.4\n");
}
