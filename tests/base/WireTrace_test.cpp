#include "base/WireTrace.h"

#include "support/SmallFs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList Lines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {QStringLiteral("<unreadable>")};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

// The text of a line after its time stamp; empty when the stamp is missing.
QString Body(const QString &line)
{
    static const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d) )"));
    const auto m = stamp.match(line);
    return m.hasMatch() ? line.mid(m.capturedLength()) : QString();
}

QStringList Bodies(const QString &path)
{
    QStringList out;
    for (const QString &line : Lines(path))
        out << Body(line);
    return out;
}

template <std::size_t N>
void Send(const std::array<std::uint8_t, N> &bytes)
{
    WireTrace::Sent(bytes);
}

struct WireTraceFile : ::testing::Test {
    QTemporaryDir Dir;
    QString Path = Dir.filePath(QStringLiteral("trace.txt"));
    void TearDown() override
    {
        WireTrace::StopFile();
        WireTrace::SetFileLimit(WireTrace::DefaultFileLimit);
        WireTrace::SetFailureHandler({});
    }
};

} // namespace

TEST_F(WireTraceFile, writesStampedBytesAndNotesAndAppendsAcrossSessions)
{
    QString error;
    ASSERT_TRUE(WireTrace::StartFile(Path, &error)) << error.toStdString();
    EXPECT_TRUE(WireTrace::Active());
    EXPECT_EQ(WireTrace::FilePath(), Path);
    Send(std::array<std::uint8_t, 3>{0x40, 0x1D, 0xE2});
    WireTrace::Note(QStringLiteral("command 29 \"Set parameter\"\r\nnext"));
    WireTrace::Received(std::array<std::uint8_t, 2>{':', '>'});
    WireTrace::Received({});
    // Written as it goes, not when the trace ends: a crash keeps what came before.
    EXPECT_EQ(Lines(Path).size(), 5);
    WireTrace::StopFile();
    EXPECT_FALSE(WireTrace::Active());
    Send(std::array<std::uint8_t, 1>{0x55});

    ASSERT_TRUE(WireTrace::StartFile(Path, &error));
    WireTrace::Note(QStringLiteral("token ST"));
    WireTrace::StopFile();

    const QStringList lines = Lines(Path);
    for (const QString &line : lines)
        EXPECT_FALSE(Body(line).isEmpty()) << "no time stamp: " << line.toStdString();
    const QStringList b = Bodies(Path);
    ASSERT_EQ(b.size(), 9) << lines.join('\n').toStdString();
    EXPECT_TRUE(b[0].startsWith("## trace started by ")) << b[0].toStdString();
    EXPECT_EQ(b[1], "-> [3] 40 1d e2  |@..|");
    EXPECT_EQ(b[2], "== command 29 \"Set parameter\"  next");
    EXPECT_EQ(b[3], "<- [2] 3a 3e  |:>|");
    EXPECT_EQ(b[4], "<- [0]   ||");
    EXPECT_EQ(b[5], "## trace stopped");
    EXPECT_TRUE(b[6].startsWith("## trace started by "));
    EXPECT_EQ(b[7], "== token ST");
    EXPECT_EQ(b[8], "## trace stopped");
    EXPECT_TRUE(WireTrace::FileFailure().isEmpty());
}

TEST_F(WireTraceFile, rollsOnceAtItsLimitKeepingTheLatestLinesInOrder)
{
    constexpr qint64 limit = 4096;
    WireTrace::SetFileLimit(limit);
    ASSERT_TRUE(WireTrace::StartFile(Path));
    // Each burst carries its number, so a line lost at a roll shows as a gap.
    constexpr int bursts = 400;
    for (int i = 0; i < bursts; ++i)
        Send(std::array<std::uint8_t, 4>{std::uint8_t(i), std::uint8_t(i >> 8), 0, 0});
    WireTrace::StopFile();

    const QString older = Path + ".1";
    ASSERT_TRUE(QFile::exists(older));
    EXPECT_FALSE(QFile::exists(Path + ".2"));
    const qint64 longestLine = 200;
    EXPECT_LE(QFileInfo(Path).size(), limit + longestLine);
    EXPECT_LE(QFileInfo(older).size(), limit + longestLine);

    const QStringList before = Bodies(older), after = Bodies(Path);
    ASSERT_GE(before.size(), 3);
    ASSERT_GE(after.size(), 3);
    EXPECT_TRUE(before.last().startsWith("## trace file full (4096 bytes): continued in a new " + Path)) << before.last().toStdString();
    EXPECT_EQ(after.first(), "## trace continued; the lines before are in " + older);
    EXPECT_EQ(after.last(), "## trace stopped");

    static const QRegularExpression burst(QStringLiteral(R"(^-> \[4\] ([0-9a-f]{2}) ([0-9a-f]{2}) 00 00  \|....\|$)"));
    const auto numbers = [](const QStringList &bodies) {
        std::vector<int> out;
        for (const QString &b : bodies) {
            const auto m = burst.match(b);
            if (m.hasMatch())
                out.push_back(m.captured(1).toInt(nullptr, 16) + 256 * m.captured(2).toInt(nullptr, 16));
        }
        return out;
    };
    std::vector<int> all = numbers(before);
    const std::vector<int> later = numbers(after);
    all.insert(all.end(), later.begin(), later.end());
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back(), bursts - 1);
    for (std::size_t i = 1; i < all.size(); ++i)
        ASSERT_EQ(all[i], all[i - 1] + 1) << "gap at line " << i;
    // Two files at most hold the tail of the run, well beyond one file's worth.
    EXPECT_GT(all.size(), std::size_t(limit / 80));
}

TEST_F(WireTraceFile, refusesWhatIsNotARegularFileWithoutWaitingAndKeepsTheRunningTrace)
{
    const QString fifo = Dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QDir(Dir.path()).mkdir("folder");
    ASSERT_TRUE(WireTrace::StartFile(Path));

    const struct {
        QString Path;
        const char *Why;
    } cases[] = {
        {fifo, "it is a FIFO, not a regular file"},
        {Dir.filePath("folder"), "it is a folder, not a regular file"},
        {QStringLiteral("/dev/null"), "it is a device, not a regular file"},
        {Dir.filePath("none/trace.txt"), "No such file or directory"},
        {QString(), "no file name given"},
    };
    for (const auto &c : cases) {
        // Opened with no reader on the other side, a FIFO would hang here.
        auto attempt = std::async(std::launch::async, [&] {
            QString error;
            const bool ok = WireTrace::StartFile(c.Path, &error);
            return std::make_pair(ok, error);
        });
        if (attempt.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
            attempt.wait();
            ::close(reader);
            FAIL() << "StartFile blocked on " << c.Path.toStdString();
        }
        const auto [ok, error] = attempt.get();
        EXPECT_FALSE(ok) << c.Path.toStdString();
        EXPECT_TRUE(error.contains(c.Why)) << error.toStdString();
        EXPECT_TRUE(error.contains(c.Path)) << error.toStdString();
    }
    EXPECT_EQ(WireTrace::FilePath(), Path);
    WireTrace::Note(QStringLiteral("still here"));
    EXPECT_EQ(Bodies(Path).last(), "== still here");
}

TEST_F(WireTraceFile, concurrentWritersNeverMixTheirLines)
{
    ASSERT_TRUE(WireTrace::StartFile(Path));
    constexpr int writers = 4, each = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < writers; ++t)
        threads.emplace_back([t] {
            const std::vector<std::uint8_t> bytes(64, std::uint8_t('A' + t));
            for (int i = 0; i < each; ++i) {
                WireTrace::Sent(bytes);
                WireTrace::Note(QStringLiteral("writer %1 note %2").arg(t).arg(i));
            }
        });
    for (auto &thread : threads)
        thread.join();
    WireTrace::StopFile();

    std::array<int, writers> bursts{}, notes{};
    QMap<QString, int> burstOf;
    for (int t = 0; t < writers; ++t) {
        const QChar c('A' + t);
        burstOf.insert("-> [64] " + QStringList(64, QString::number(c.unicode(), 16)).join(' ') + "  |" + QString(64, c) + '|', t);
    }
    static const QRegularExpression note(QStringLiteral(R"(^== writer (\d) note \d+$)"));
    for (const QString &b : Bodies(Path)) {
        if (b.startsWith("##"))
            continue;
        if (const auto m = note.match(b); m.hasMatch())
            ++notes[std::size_t(m.captured(1).toInt())];
        else if (burstOf.contains(b))
            ++bursts[std::size_t(burstOf.value(b))];
        else
            ADD_FAILURE() << "mixed line: " << b.toStdString();
    }
    for (int t = 0; t < writers; ++t) {
        EXPECT_EQ(bursts[std::size_t(t)], each);
        EXPECT_EQ(notes[std::size_t(t)], each);
    }
}

TEST_F(WireTraceFile, aFullDiskStopsTheTraceAndSaysSo)
{
    TSmallFs fs(64 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << "no small file system can be mounted here";
    const QString path = fs.File("trace.txt");
    QString told;
    WireTrace::SetFailureHandler([&](const QString &why) { told = why; });
    ASSERT_TRUE(WireTrace::StartFile(path));
    fs.Fill();
    const std::vector<std::uint8_t> block(528, 0x11);
    for (int i = 0; i < 64 && WireTrace::Active(); ++i)
        WireTrace::Received(block);
    EXPECT_FALSE(WireTrace::Active());
    EXPECT_TRUE(WireTrace::FilePath().isEmpty());
    EXPECT_TRUE(told.contains(path)) << told.toStdString();
    EXPECT_TRUE(told.contains("No space left")) << told.toStdString();
    EXPECT_EQ(WireTrace::FileFailure(), told);
    // Stopped on purpose afterwards, the failure is still there to be said.
    WireTrace::StopFile();
    EXPECT_EQ(WireTrace::FileFailure(), told);
}
