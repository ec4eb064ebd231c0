// tarnelpro-cli section on the survey fixtures and on data files written by
// the program's own writer.
#include "instrument/DataFile.h"
#include "instrument/DataRecord.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <vector>

#include <sys/stat.h>

namespace {

const QString Data = QStringLiteral(TARNEL_TEST_DATA "/survey/");

struct Result {
    int Status = -1;
    QString Out, Err;
};

Result RunSection(const QStringList &args)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(Data);
    process.start(QStringLiteral(TARNEL_CLI), QStringList{"section"} + args);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// wenner.txt: a Wenner (Level 1), a dipole-dipole chain whose first
// quadripole has Level -1, and a pole-dipole with its B at the remote node.
const char *const WennerModel = "plane 0 YZ sections 1\n"
                                "extent 0.000 0.000 1.900 1.900\n"
                                "section 750 rows 1 columns 1\n"
                                "cell 4 0 0 0\n"
                                "plane 1 XZ sections 1\n"
                                "extent 7.500 25.000 1.900 9.500\n"
                                "section 0 rows 4 columns 4\n"
                                "cell 0 1 0 3\n"
                                "cell 2 2 0 3\n"
                                "cell 3 3 0 3\n"
                                "cell 4 0 0 3\n"
                                "plane 2 XY sections 4\n"
                                "extent 7.500 25.000 0.000 0.000\n"
                                "section 190 rows 1 columns 1\n"
                                "cell 4 0 0 0\n"
                                "section 570 rows 1 columns 1\n"
                                "cell 0 0 0 0\n"
                                "section 760 rows 1 columns 1\n"
                                "cell 2 0 0 0\n"
                                "section 950 rows 1 columns 1\n"
                                "cell 3 0 0 0\n";

QString WriteDataFile(const QTemporaryDir &dir, const std::vector<float> &rho)
{
    const QString path = dir.filePath("run.bin");
    WriteDataFileHeader(path, "test", QDateTime(QDate(2026, 5, 4), QTime(10, 0)));
    std::vector<TDataRecord> records(rho.size());
    for (std::size_t k = 0; k < rho.size(); ++k) {
        records[k].Ten = 10;
        records[k].Version = 3;
        records[k].Rho = rho[k];
    }
    AppendDataRecords(path, records);
    return path;
}

} // namespace

TEST(SectionCommand, printsPlanesSectionsAndCells)
{
    const Result r = RunSection({"--quadripoles", "wenner.txt", "--coordinates", "wenner.txt"});
    EXPECT_EQ(r.Status, 0) << qPrintable(r.Err);
    EXPECT_EQ(r.Out, WennerModel);
}

TEST(SectionCommand, storesTheRecordsOfADataFile)
{
    QTemporaryDir dir;
    // Record 1 belongs to the quadripole with Level -1; the file stops before quadripole 4.
    const QString bin = WriteDataFile(dir, {120.5f, 999.0f, 12.3f, 487.9f});
    const Result r = RunSection({"--quadripoles", "wenner.txt", "--coordinates", "wenner.txt", "--data", bin});
    EXPECT_EQ(r.Status, 0) << qPrintable(r.Err);
    EXPECT_EQ(r.Out, QString(WennerModel) + "rho 0 120.5\n"
                                            "rho 2 12.3\n"
                                            "rho 3 487.9\n"
                                            "range 12.3 487.9\n"
                                            "scale 12 488 10\n");

}

TEST(SectionCommand, surveyWithoutSectionsPrintsEmptyPlanes)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("apart.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("# Num X Y Z\r\n1 0 0 0\r\n2 10 0 0\r\n3 20 0 0\r\n4 30 0 0\r\n"
               "# Num A B M N\r\n1 1 4 2 3\r\n# Level\r\n1 -1\r\n");
    file.close();
    const Result r = RunSection({"--quadripoles", file.fileName(), "--coordinates", file.fileName()});
    EXPECT_EQ(r.Status, 0) << qPrintable(r.Err);
    EXPECT_EQ(r.Out, "plane 0 YZ sections 0\nextent none\n"
                     "plane 1 XZ sections 0\nextent none\n"
                     "plane 2 XY sections 0\nextent none\n");
}

TEST(SectionCommand, fileErrorsFailWithTheirMessage)
{
    QTemporaryDir dir;
    // A header without records, a FIFO (an open would wait for a writer) and
    // a file larger than any data file (sparse: nothing to read in it).
    const QString empty = WriteDataFile(dir, {});
    const QString fifo = dir.filePath("fifo.bin"), huge = dir.filePath("huge.bin");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QFile big(huge);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(qint64(3) << 30));
    big.close();
    const QStringList survey = {"--quadripoles", "wenner.txt", "--coordinates", "wenner.txt", "--data"};
    const struct {
        QStringList Args;
        const char *Message;
    } cases[] = {
        {{"--quadripoles", "bad-header.txt", "--coordinates", "wenner.txt"}, "Quadripole file error"},
        {{"--quadripoles", "wenner.txt", "--coordinates", "bad-coordinates.txt"}, "Coordinate file error"},
        {{"--quadripoles", "absent.txt", "--coordinates", "wenner.txt"}, "absent.txt"},
        {{"--quadripoles", "wenner.txt", "--coordinates", "wenner.txt", "--data", "wenner.txt"}, "not a data file"},
        {{"--quadripoles", "wenner.txt", "--coordinates", "wenner.txt", "--data", "absent.bin"}, "absent.bin"},
        {survey + QStringList{empty}, "holds no record"},
        {survey + QStringList{fifo}, "not a regular file"},
        {survey + QStringList{huge}, "more than any data file holds"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Message);
        const Result r = RunSection(c.Args);
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.contains(c.Message)) << qPrintable(r.Err);
        EXPECT_TRUE(r.Out.isEmpty()) << qPrintable(r.Out);
    }
}

TEST(SectionCommand, usageErrors)
{
    const QStringList cases[] = {
        {},
        {"--quadripoles", "wenner.txt"},
        {"--coordinates", "wenner.txt"},
        {"--quadripoles", "wenner.txt", "--coordinates"},
        {"--quadripoles", "wenner.txt", "--coordinates", "wenner.txt", "--groups", "2"},
        {"--quadripoles", "wenner.txt", "--quadripoles", "wenner.txt", "--coordinates", "wenner.txt"},
    };
    for (const QStringList &args : cases) {
        const Result r = RunSection(args);
        EXPECT_EQ(r.Status, 2) << qPrintable(args.join(' '));
        EXPECT_TRUE(r.Err.contains("usage: tarnelpro-cli section")) << qPrintable(r.Err);
    }
}
