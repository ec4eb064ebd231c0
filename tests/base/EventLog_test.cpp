#include "base/EventLog.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "support/SmallFs.h"

#include <QFileInfo>

#include <map>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
TEventLog FixedLog()
{
    TEventLog log;
    log.Locale = QLocale(QLocale::French, QLocale::France);
    log.Now = [] { return QDateTime(QDate(2026, 12, 9), QTime(14, 5, 31)); };
    return log;
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
} // namespace

TEST(EventLog, stampedLinesUseShortDateAndLongTimeWithoutZone)
{
    TEventLog log = FixedLog();
    log.AddStamped("Disconnected");
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].Text, "< 09/12/2026 14:05:31 > Disconnected");
}

TEST(EventLog, linesWithoutAColourOfTheirOwnAreBlackOrRedAfterAnAlarm)
{
    TEventLog log = FixedLog();
    std::vector<TColor> shown;
    log.OnLine = [&](const TLogLine &l) { shown.push_back(l.Color); };
    log.Add("", LogColor::Orange);
    log.AddStamped("Connect to X", LogColor::Orange);
    log.Add("plain");
    log.AddStamped("Batteries TX : 9.4", LogColor::Red);
    log.HoldRed();
    log.AddStamped("Script ended");
    // A line from outside the flow leaves the hold; a writer's own colour ends it.
    log.AddStampedAside("MQTT: connected", LogColor::Black);
    log.Add("============= Script start");
    log.AddStamped("Start Standard acquisition", LogColor::Teal);
    log.AddStamped("Check resistance ended");
    EXPECT_EQ(shown,
              (std::vector<TColor>{LogColor::Orange, LogColor::Orange, LogColor::Black, LogColor::Red, LogColor::Red,
                                   LogColor::Black, LogColor::Red, LogColor::Teal, LogColor::Black}));
    EXPECT_EQ(LogColor::Teal, 8421376u);
    EXPECT_EQ(LogColor::Orange, 33023u);
}

TEST(EventLog, eachSessionAppendsUnderItsOwnHeaderInUtf8)
{
    QTemporaryDir tmp;
    const QString data = tmp.path() + "/run.bin";
    const QByteArray header = "==== Tarnel Pro 2 V02.00.00, 09/12/2026 14:05:31, ";
    {
        TEventLog log = FixedLog();
        log.Action = "Connect";
        log.Add(QString::fromUtf8("Température 45°"), LogColor::Red);
        ASSERT_TRUE(log.Save(data));
        log.Add("second");
        ASSERT_TRUE(log.Save(data));
        ASSERT_TRUE(log.Save(data)); // nothing new: nothing written
        EXPECT_EQ(ReadAll(tmp.path() + "/run_Log.txt"), header + "Connect ====\r\nTemp\xC3\xA9rature 45\xC2\xB0\r\nsecond\r\n");
        // Clearing the pane neither clears the file nor loses a line not saved yet.
        log.Add("before clear");
        log.Clear();
        log.Add("after clear");
        ASSERT_TRUE(log.Save(data));
    }
    // The next program run (after a crash, a resume, a resistance check)
    // appends after a blank line.
    TEventLog next = FixedLog();
    next.Action = "tarnelpro-cli acquire --resume";
    next.Add(QString::fromUtf8("łódź"));
    ASSERT_TRUE(next.Save(data));
    EXPECT_EQ(ReadAll(tmp.path() + "/run_Log.txt"),
              header + "Connect ====\r\nTemp\xC3\xA9rature 45\xC2\xB0\r\nsecond\r\nbefore clear\r\nafter clear\r\n\r\n" + header +
                  "tarnelpro-cli acquire --resume ====\r\n\xC5\x82\xC3\xB3" "d\xC5\xBA\r\n");
}

TEST(EventLog, aWindows1252LogStaysWindows1252AndIsNeverRewritten)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/Line1_Log.txt";
    const QByteArray earlier = "< 01/12/2026 08:00:00 > Profil S\xFC" "d\r\n";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(earlier);
    }
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    TEventLog log = FixedLog();
    log.Action = "Connect";
    log.Add(QString::fromUtf8("Süd"));
    log.Add(QString::fromUtf8("/home/op/łódź/€.bin"));
    ASSERT_TRUE(log.Save(tmp.path() + "/Line1.bin"));
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "appended in place, not replaced";
    EXPECT_EQ(ReadAll(path), earlier + "\r\n==== Tarnel Pro 2 V02.00.00, 09/12/2026 14:05:31, Connect ====\r\n"
                                       "S\xFC" "d\r\n/home/op/\\u{142}\xF3" "d\\u{17A}/\x80.bin\r\n");
}

TEST(EventLog, controlCharactersInATextAreEscapedSoALineStaysOneLine)
{
    QTemporaryDir tmp;
    TEventLog log = FixedLog();
    std::vector<QString> shown;
    log.OnLine = [&](const TLogLine &l) { shown.push_back(l.Text); };
    log.Add(QString::fromUtf8("Aquisition filename /d/a\nb\r\x1b[2J\tc\u0085\u2028.bin 😀"));
    EXPECT_EQ(shown, std::vector<QString>{QString::fromUtf8("Aquisition filename /d/a\\u{A}b\\u{D}\\u{1B}[2J\tc\\u{85}\\u{2028}.bin 😀")});
    ASSERT_TRUE(log.Save(tmp.path() + "/a.bin"));
    const QByteArray bytes = ReadAll(tmp.path() + "/a_Log.txt");
    EXPECT_EQ(bytes.count('\n'), 2) << "the header and the one line";
    EXPECT_EQ(bytes.count('\r'), 2);
}

TEST(EventLog, eachLogHoldsTheLinesSinceItsFileWasWrittenAndThePaneStaysBounded)
{
    QTemporaryDir tmp;
    TEventLog log = FixedLog();
    log.MaxLines = 50;
    log.Add("Stopped by user");
    log.Add("Electrodes not released");
    ASSERT_TRUE(log.Save(tmp.path() + "/Short.bin"));
    log.Add("Start Standard acquisition");
    ASSERT_TRUE(log.Save(tmp.path() + "/Short1.bin"));
    log.Add("Standard acquisition Ended");
    ASSERT_TRUE(log.Save(tmp.path() + "/Short1.bin"));
    const QByteArray header = "==== Tarnel Pro 2 V02.00.00, 09/12/2026 14:05:31, Start ====\r\n";
    EXPECT_EQ(ReadAll(tmp.path() + "/Short_Log.txt"), header + "Stopped by user\r\nElectrodes not released\r\n");
    EXPECT_EQ(ReadAll(tmp.path() + "/Short1_Log.txt"),
              header + "Start Standard acquisition\r\nStandard acquisition Ended\r\n");

    // Many files, many lines: the pane keeps at most MaxLines whatever was saved where.
    for (int file = 0; file < 10; ++file) {
        for (int i = 0; i < 40; ++i)
            log.Add(QStringLiteral("line %1").arg(i));
        ASSERT_TRUE(log.Save(tmp.path() + QStringLiteral("/F%1.bin").arg(file)));
        EXPECT_LE(log.Lines().size(), 50u);
    }
    for (int i = 0; i < 500; ++i)
        log.Add("no file saved");
    EXPECT_LE(log.Lines().size(), 50u);
    EXPECT_EQ(log.PendingLines(), 500u) << "a line waits for its file, whatever the pane shows";
}

TEST(EventLog, twoProgramsAppendingToOneLogKeepEveryLineOnceInOneEncoding)
{
    QTemporaryDir tmp;
    const QString data = tmp.path() + "/Süd.bin";
    constexpr int Lines = 300;
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            TEventLog log = FixedLog();
            log.Action = QStringLiteral("writer %1").arg(writer);
            for (int i = 0; i < Lines; ++i) {
                log.Add(QString::fromUtf8("Profil Süd, Łódź %1 line %2").arg(writer).arg(i));
                if (i % 7 == 0 && !log.Save(data))
                    ::_exit(1);
            }
            ::_exit(log.Save(data) ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const QByteArray bytes = ReadAll(tmp.path() + "/Süd_Log.txt");
    const QString text = QString::fromUtf8(bytes);
    ASSERT_EQ(text.toUtf8(), bytes) << "valid UTF-8 throughout";
    QStringList lines = text.split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.takeLast(), QString());
    std::map<QString, int> seen;
    for (const QString &line : lines)
        ++seen[line];
    for (int writer = 0; writer < 2; ++writer) {
        EXPECT_EQ(seen[QStringLiteral("==== Tarnel Pro 2 V02.00.00, 09/12/2026 14:05:31, writer %1 ====").arg(writer)], 1);
        for (int i = 0; i < Lines; ++i)
            EXPECT_EQ((seen[QString::fromUtf8("Profil Süd, Łódź %1 line %2").arg(writer).arg(i)]), 1) << writer << ' ' << i;
    }
    // Two sessions that start on an empty log at once may both go without the blank line.
    const qsizetype blank = lines.count(QString());
    EXPECT_LE(blank, 1);
    EXPECT_EQ(lines.size(), 2 * Lines + 2 + blank) << "the lines and two headers, nothing else";
}

TEST(EventLog, aFullDiskKeepsTheEarlierLogAndSaysSo)
{
    TSmallFs fs(256 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << TSmallFs::SkipReason;
    const QString data = fs.File("Line1.bin");
    {
        QFile f(fs.File("Line1_Log.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("an earlier session\r\n");
    }
    fs.Fill();
    TEventLog log = FixedLog();
    QStringList errors;
    log.OnSaveError = [&](const QString &, const QString &error) { errors << error; };
    for (int i = 0; i < 2000; ++i)
        log.Add("a long day of measurements, line after line");
    EXPECT_FALSE(log.Save(data));
    EXPECT_EQ(errors, QStringList{"No space left on device"});
    EXPECT_TRUE(log.SaveFailed());
    // What fits goes in, whole lines only; the rest waits for the next save.
    const QByteArray kept = ReadAll(fs.File("Line1_Log.txt"));
    EXPECT_TRUE(kept.startsWith("an earlier session\r\n"));
    EXPECT_TRUE(kept.endsWith("\r\n"));
    const qsizetype written = kept.count("a long day of measurements, line after line\r\n");
    const bool headed = kept.contains("\r\n\r\n==== Tarnel Pro 2 V");
    EXPECT_EQ(kept.count("\r\n"), written + (headed ? 3 : 1)) << "no torn line";
    EXPECT_EQ(log.PendingLines(), 2000u - std::size_t(written));

    // A start on a full disk leaves no empty log behind.
    const std::size_t pending = log.PendingLines();
    EXPECT_FALSE(log.Save(fs.File("Line2.bin")));
    EXPECT_FALSE(QFileInfo::exists(fs.File("Line2_Log.txt")));
    EXPECT_EQ(log.PendingLines(), pending);
    QFile::remove(fs.File("ballast"));
    EXPECT_TRUE(log.Save(data));
    EXPECT_EQ(ReadAll(fs.File("Line1_Log.txt")).count("a long day of measurements, line after line\r\n"), 2000);
}

TEST(EventLog, unwritableLogIsReportedOncePerPathAndTheLogGoesOn)
{
    QTemporaryDir tmp;
    TEventLog log = FixedLog();
    QStringList reports;
    log.OnSaveError = [&](const QString &path, const QString &) { reports << path; };
    const QString missingFolder = tmp.path() + "/no/such/folder/run.bin";
    log.Add("one");
    EXPECT_FALSE(log.Save(missingFolder));
    log.Add("two");
    EXPECT_FALSE(log.Save(missingFolder));
    EXPECT_EQ(reports, QStringList{tmp.path() + "/no/such/folder/run_Log.txt"});
    EXPECT_EQ(log.Lines().size(), 2u);
    // Another path is reported on its own.
    EXPECT_FALSE(log.Save(tmp.path() + "/other/missing/x.bin"));
    EXPECT_EQ(reports.size(), 2);
    EXPECT_TRUE(log.Save(tmp.path() + "/x.bin"));
    // No data file named: nothing is written, least of all into the working folder.
    EXPECT_TRUE(log.Save(QString()));
    EXPECT_FALSE(QFile::exists("_Log.txt"));
}
