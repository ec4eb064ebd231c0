// tarnelpro-cli sequence as a crew runs it: the file on stdout, the group
// counts on stderr, and the refusals that leave stdout empty.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

namespace {

struct TResult {
    int Status = -1;
    QString Out, Err;
};

TResult RunSequence(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(TARNEL_CLI), QStringList{"sequence"} + args);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

TEST(SequenceCommand, reportsTheGroupsOfBothHalves)
{
    const TResult r =
        RunSequence({"--electrodes", "24", "--array", "dd", "--spacing-max", "3", "--reciprocals"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Err, "600 quadripoles in 108 groups of at most 10 channels: forward 300 in 54 groups, "
                     "reciprocals 300 in 54 groups\n");
    const QStringList lines = r.Out.split("\r\n");
    ASSERT_EQ(lines.size(), 602);
    EXPECT_EQ(lines.first(), "# Num A B M N");
    EXPECT_EQ(lines[1], "1 1 2 3 4");
    EXPECT_EQ(lines[301], "301 3 4 1 2") << "the reciprocals start with the first injection of the line";
    EXPECT_EQ(lines.last(), "");
}

TEST(SequenceCommand, writesTheRemoteElectrodeAsNodeZero)
{
    const TResult r = RunSequence(
        {"--electrodes", "4", "--array", "pole-pole", "--spacing-max", "1", "--reciprocals", "--channels", "4"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, "# Num A B M N\r\n1 1 0 2 0\r\n2 2 0 3 0\r\n3 3 0 4 0\r\n"
                     "4 2 0 1 0\r\n5 3 0 2 0\r\n6 4 0 3 0\r\n");
    EXPECT_EQ(r.Err, "6 quadripoles in 6 groups of at most 4 channels: forward 3 in 3 groups, "
                     "reciprocals 3 in 3 groups\n");
}

TEST(SequenceCommand, refusesAndWritesNothing)
{
    const struct {
        QStringList Args;
        int Status;
        const char *FirstLine;
    } cases[] = {
        {{"--electrodes", "24", "--array", "dd", "--spacing-max", "0"}, 2,
         "tarnelpro-cli sequence: --spacing-max 0: the smallest is 1"},
        {{"--electrodes", "2002", "--array", "wenner"}, 2,
         "tarnelpro-cli sequence: 2002 electrodes: a survey numbers its electrodes 1 to 2001 at most"},
        {{"--electrodes", "200", "--array", "schlumberger", "--reciprocals"}, 1,
         "tarnelpro-cli sequence: 19602 quadripoles (9801 and as many reciprocals), more than the 15998 a "
         "quadripole file holds; lower the spacings or the electrode count"},
        {{"--electrodes", "20", "--array", "pole"}, 2, "tarnelpro-cli sequence: unknown array 'pole'"},
        {{"--electrodes", "twenty", "--array", "dd"}, 2,
         "tarnelpro-cli sequence: --electrodes wants a whole number, not \"twenty\""},
        {{"--array", "dd"}, 2, "tarnelpro-cli sequence: --electrodes is required"},
        {{"--electrodes", "20", "--array", "wenner", "--n-max", "4"}, 2,
         "tarnelpro-cli sequence: --n-max applies to dd and pole-dipole only, not to wenner"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Args.join(' ').toStdString());
        const TResult r = RunSequence(c.Args);
        EXPECT_EQ(r.Status, c.Status);
        EXPECT_EQ(r.Out, "");
        EXPECT_EQ(r.Err.section('\n', 0, 0), c.FirstLine);
        EXPECT_EQ(r.Err.contains("usage: tarnelpro-cli sequence"), c.Status == 2);
    }
}

} // namespace
