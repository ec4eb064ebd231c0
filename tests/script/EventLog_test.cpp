#include "script/EventLog.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

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

TEST(EventLog, saveWritesTheWholePaneBesideTheDataFileInCp1252WithCrLf)
{
    QTemporaryDir tmp;
    TEventLog log = FixedLog();
    log.SetColor(LogColor::Red);
    log.Add(QString::fromUtf8("Température 45°"));
    log.SetColor(LogColor::Teal);
    log.Add("second");
    ASSERT_TRUE(log.Save(tmp.path() + "/run.bin"));
    EXPECT_EQ(ReadAll(tmp.path() + "/run_Log.txt"), QByteArray("Temp\xE9rature 45\xB0\r\nsecond\r\n"));

    // Clearing and saving again replaces the file with the shorter text.
    log.Clear();
    log.Add("after clear");
    ASSERT_TRUE(log.Save(tmp.path() + "/run.bin"));
    EXPECT_EQ(ReadAll(tmp.path() + "/run_Log.txt"), QByteArray("after clear\r\n"));

    // A line Windows-1252 cannot hold (a Polish folder) makes the whole log
    // UTF-8 rather than question marks.
    log.Add(QString::fromUtf8("Aquisition filename /home/op/łódź/été.bin"));
    ASSERT_TRUE(log.Save(tmp.path() + "/run.bin"));
    EXPECT_EQ(ReadAll(tmp.path() + "/run_Log.txt"),
              QByteArray("after clear\r\nAquisition filename /home/op/\xC5\x82\xC3\xB3\x64\xC5\xBA/\xC3\xA9t\xC3\xA9.bin\r\n"));
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
