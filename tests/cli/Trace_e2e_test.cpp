// tarnelpro-cli --trace against the simulated instrument: the file a field
// crew sends in holds the exchange as the program read it.
#include "cli/CliFixture.h"
#include "link/SimProcess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <sys/stat.h>

namespace {
// The lines of a trace file without their time stamps; a line without one
// is kept whole, so that a check on it fails visibly.
QStringList TraceBodies(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d) )"));
    QStringList out;
    for (const QString &line : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const auto m = stamp.match(line);
        out << (m.hasMatch() ? line.mid(m.capturedLength()) : QStringLiteral("NO STAMP: ") + line);
    }
    return out;
}

// Byte lines appear once the link writes them; when there are any, both
// directions are there and each line is well formed.
void CheckByteLines(const QStringList &bodies)
{
    static const QRegularExpression bytes(QStringLiteral(R"(^(->|<-) \[(\d+)\] ((?:[0-9a-f]{2}(?: [0-9a-f]{2})*)?)  \|(.*)\|$)"));
    int sent = 0, received = 0;
    for (const QString &b : bodies) {
        if (!b.startsWith("->") && !b.startsWith("<-"))
            continue;
        const auto m = bytes.match(b);
        ASSERT_TRUE(m.hasMatch()) << b.toStdString();
        const int n = m.captured(2).toInt();
        EXPECT_EQ(m.captured(3).isEmpty() ? 0 : m.captured(3).split(' ').size(), n) << b.toStdString();
        EXPECT_EQ(m.captured(4).size(), n) << b.toStdString();
        (m.captured(1) == "->" ? sent : received) += 1;
    }
    if (sent + received > 0) {
        EXPECT_GT(sent, 0);
        EXPECT_GT(received, 0);
    }
}
} // namespace

TEST_F(TCliFixture, traceBeforeOrAfterTheCommandRecordsTheExchange)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    ASSERT_FALSE(sim.Where().isEmpty());
    const TResult plain = Run({"identify", "--link", "tcp:" + sim.TcpAddress(), "--yes"});
    ASSERT_EQ(plain.Status, 0) << plain.Err.toStdString();

    const QString before = Tmp.path() + "/before.txt", after = Tmp.path() + "/after.txt";
    for (const QStringList &args : {QStringList{"--trace", before, "identify", "--link", "tcp:" + sim.TcpAddress(), "--yes"},
                                    QStringList{"identify", "--link", "tcp:" + sim.TcpAddress(), "--trace=" + after, "--yes"}}) {
        const TResult r = Run(args);
        EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
        // The command sees none of it.
        EXPECT_EQ(r.Out, plain.Out);
    }
    for (const QString &path : {before, after}) {
        const QStringList b = TraceBodies(path);
        ASSERT_GE(b.size(), 4) << path.toStdString();
        EXPECT_TRUE(b.first().startsWith("## trace started by ")) << b.first().toStdString();
        EXPECT_EQ(b.last(), "## trace stopped");
        EXPECT_TRUE(b.contains(QStringLiteral("== type code 0x10000002: generation 2"))) << b.join('\n').toStdString();
        EXPECT_TRUE(b.contains(QStringLiteral("== command 30 \"instrument description\""))) << b.join('\n').toStdString();
        CheckByteLines(b);
    }
}

TEST_F(TCliFixture, traceOfAnAcquisitionNamesTheCommandsAndTheRunTokens)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    const QString ini = Survey(sim.TcpAddress());
    const QString trace = Tmp.path() + "/acquire.txt";
    const TResult r = Run({"acquire", "--config", ini, "--yes", "--trace", trace});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(Size(Tmp.path() + "/out.bin"), 1029 + 30 * 304);
    const QStringList b = TraceBodies(trace);
    // Three groups of ten: each switched, started and ended with its count.
    EXPECT_EQ(b.count(QStringLiteral("== command 32 \"Start\"")), 3) << b.join('\n').toStdString();
    EXPECT_EQ(b.count(QStringLiteral("== token \"ST\": end of the run, 10 records announced")), 3);
    EXPECT_EQ(b.count(QStringLiteral("== record count 10")), 3);
    EXPECT_GE(b.count(QStringLiteral("== command 41 \"Switch quadripole\"")), 3);
    EXPECT_GE(b.count(QStringLiteral("== token \"GO\": measuring")), 3);
    EXPECT_TRUE(b.contains(QStringLiteral("== command 29 \"Set parameter\"")));
    CheckByteLines(b);
}

TEST_F(TCliFixture, traceFileErrorsStopBeforeTheCommandRuns)
{
    const QString fifo = Tmp.path() + "/pipe";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QDir(Tmp.path()).mkdir("folder");
    const struct {
        QStringList Args;
        const char *Err;
    } cases[] = {
        {{"identify", "--link", "tcp:127.0.0.1:1", "--trace"}, "--trace needs a file name"},
        {{"--trace", "--yes", "identify", "--link", "tcp:127.0.0.1:1"}, "--trace needs a file name"},
        {{"--trace", Tmp.path() + "/a.txt", "identify", "--trace", Tmp.path() + "/b.txt"}, "--trace given twice"},
        {{"--trace", fifo, "identify", "--link", "tcp:127.0.0.1:1"}, "it is a FIFO, not a regular file"},
        {{"--trace", Tmp.path() + "/folder", "identify", "--link", "tcp:127.0.0.1:1"}, "it is a folder, not a regular file"},
        {{"--trace", Tmp.path() + "/none/t.txt", "identify", "--link", "tcp:127.0.0.1:1"}, "No such file or directory"},
    };
    for (const auto &c : cases) {
        QElapsedTimer clock;
        clock.start();
        const TResult r = Run(c.Args, 20000);
        EXPECT_EQ(r.Status, 2) << c.Args.join(' ').toStdString() << "\n" << r.Err.toStdString();
        EXPECT_TRUE(r.Err.contains(c.Err)) << r.Err.toStdString();
        // Refused at once: no wait on the FIFO, no connection attempted.
        EXPECT_LT(clock.elapsed(), 10000) << c.Args.join(' ').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/a.txt"));
}
