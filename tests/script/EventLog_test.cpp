#include "script/EventLog.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "support/SmallFs.h"

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

TEST(EventLog, linesKeepTheColourCurrentWhenAdded)
{
    TEventLog log = FixedLog();
    std::vector<TColor> shown;
    log.OnLine = [&](const TLogLine &l) { shown.push_back(l.Color); };
    log.SetColor(LogColor::Orange);
    log.Add("");
    log.AddStamped("Connect to X");
    log.SetColor(LogColor::Black);
    log.Add("plain");
    EXPECT_EQ(shown, (std::vector<TColor>{LogColor::Orange, LogColor::Orange, LogColor::Black}));
    EXPECT_EQ(LogColor::Teal, 8421376u);
    EXPECT_EQ(LogColor::Orange, 33023u);
}

TEST(EventLog, eachSessionAppendsUnderItsOwnHeaderInOneEncoding)
{
    QTemporaryDir tmp;
    const QString data = tmp.path() + "/run.bin";
    const QByteArray header = "==== Tarnel Pro 2 V02.00.00, 09/12/2026 14:05:31, ";
    {
        TEventLog log = FixedLog();
        log.Action = "Connect";
        log.SetColor(LogColor::Red);
        log.Add(QString::fromUtf8("Température 45°"));
        ASSERT_TRUE(log.Save(data));
        log.Add("second");
        ASSERT_TRUE(log.Save(data));
        ASSERT_TRUE(log.Save(data)); // nothing new: nothing written
        EXPECT_EQ(ReadAll(tmp.path() + "/run_Log.txt"),
                  header + "Connect ====\r\nTemp\xE9rature 45\xB0\r\nsecond\r\n");
        // Clearing the pane does not clear the file.
        log.Clear();
        log.Add("after clear");
        ASSERT_TRUE(log.Save(data));
    }
    // The next program run (after a crash, a resume, a resistance check)
    // appends after a blank line.
    TEventLog next = FixedLog();
    next.Action = "tarnelpro-cli acquire --resume";
    next.Add("resumed");
    ASSERT_TRUE(next.Save(data));
    const QByteArray both = header + "Connect ====\r\nTemp\xE9rature 45\xB0\r\nsecond\r\nafter clear\r\n\r\n" + header +
                            "tarnelpro-cli acquire --resume ====\r\nresumed\r\n";
    EXPECT_EQ(ReadAll(tmp.path() + "/run_Log.txt"), both);

    // A line Windows-1252 cannot hold (a Polish folder) turns the whole file
    // into UTF-8 rather than leaving it half in each.
    next.Add(QString::fromUtf8("Aquisition filename /home/op/łódź/été.bin"));
    ASSERT_TRUE(next.Save(data));
    const QByteArray utf8 = ReadAll(tmp.path() + "/run_Log.txt");
    EXPECT_EQ(QString::fromUtf8(utf8).toUtf8(), utf8);
    EXPECT_TRUE(QString::fromUtf8(utf8).contains(QString::fromUtf8("Température 45°\r\nsecond")));
    EXPECT_TRUE(QString::fromUtf8(utf8).endsWith(QString::fromUtf8("/łódź/été.bin\r\n")));
    next.Add(QString::fromUtf8("ünd"));
    ASSERT_TRUE(next.Save(data));
    EXPECT_TRUE(QString::fromUtf8(ReadAll(tmp.path() + "/run_Log.txt")).endsWith(QString::fromUtf8("été.bin\r\nünd\r\n")));
}

TEST(EventLog, aFullDiskKeepsTheEarlierLogAndSaysSo)
{
    TSmallFs fs(64 * 1024);
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
    EXPECT_EQ(ReadAll(fs.File("Line1_Log.txt")), "an earlier session\r\n");
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
