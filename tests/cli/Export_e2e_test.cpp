// tarnelpro-cli export as a crew runs it: default names, stdout, refusals.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>

namespace {
struct TRun {
    int Status = -1;
    QByteArray Out, Err;
};

TRun Cli(const QStringList &args)
{
    QProcess p;
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
        const float vp = 40, in = i == 0 ? 100 : 0;
        std::memcpy(r.data() + 68, &vp, 4);
        std::memcpy(r.data() + 72, &in, 4);
        file += r;
    }
    return file + QByteArray(150, '\x01');
}
} // namespace

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
    QFile dat(tmp.path() + "/Line 4.dat");
    ASSERT_TRUE(dat.open(QIODevice::ReadOnly));
    EXPECT_EQ(dat.readAll(), "2\n1 1 4 2 3 0.4\n2 1 4 2 3 0\n");
    EXPECT_TRUE(r.Err.contains("150 bytes are a partial record")) << r.Err.toStdString();

    r = Cli({bin, "--format", "csv", "-o", "-"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    const QList<QByteArray> lines = r.Out.split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith("record,channel,channels,a_x,"));
    EXPECT_TRUE(lines[2].endsWith(",in=0")) << lines[2].toStdString();
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/Line 4.csv"));

    EXPECT_EQ(Cli({bin, "--format", "xlsx"}).Status, 2);
    EXPECT_EQ(Cli({"--format", "csv"}).Status, 2);
    r = Cli({tmp.path() + "/Line 4.dat", "--format", "csv", "-o", tmp.path() + "/x.csv"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("not a data file")) << r.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/x.csv"));
}
