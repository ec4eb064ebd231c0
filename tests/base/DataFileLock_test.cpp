#include "base/DataFileLock.h"
#include "support/LockHolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

QString ErrorOf(TDataFileLock &lock, const QString &path, const QString &program)
{
    try {
        lock.Take(path, program);
    } catch (const EDataFileBusy &e) {
        return QStringLiteral("busy: ") + e.Message();
    } catch (const ETarnelError &e) {
        return QStringLiteral("error: ") + e.Message();
    }
    return {};
}

} // namespace

TEST(DataFileLock, secondWriterIsRefusedWithTheHolderUntilTheFirstEnds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Line1.bin");
    TDataFileLock first;
    first.Take(path, "tarnelpro-cli acquire");
    EXPECT_TRUE(first.Held());
    EXPECT_FALSE(first.TakenOver());
    EXPECT_FALSE(QFileInfo::exists(path)) << "the lock never makes the data file";

    // flock conflicts between two opens in one process as between two programs.
    TDataFileLock second;
    const QString refusal = ErrorOf(second, path, "tarnelpro");
    const QString since = QDateTime::currentDateTime().toString("HH:mm");
    EXPECT_EQ(refusal, QStringLiteral("busy: %1 is being written by tarnelpro-cli acquire, process %2, since %3")
                           .arg(path)
                           .arg(::getpid())
                           .arg(since));
    EXPECT_FALSE(second.Held());

    first.Release();
    EXPECT_FALSE(QFileInfo::exists(TDataFileLock::LockFileFor(path))) << "a finished run leaves no lock file";
    EXPECT_EQ(ErrorOf(second, path, "tarnelpro"), QString());
    EXPECT_FALSE(second.TakenOver()) << "a lock released in order is no take-over";
}

TEST(DataFileLock, everySpellingOfOneFileMeetsAtOneLock)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("data"));
    ASSERT_TRUE(QFile::link(dir.filePath("data"), dir.filePath("linked")));
    const QString real = dir.filePath("data/Line1.bin");
    QFile f(real);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ASSERT_TRUE(QFile::link(real, dir.filePath("alias.bin")));

    TDataFileLock held;
    held.Take(real, "tarnelpro");
    for (const QString &other : {dir.filePath("linked/Line1.bin"), dir.filePath("data/../data/Line1.bin"),
                                 dir.filePath("alias.bin")}) {
        SCOPED_TRACE(other.toStdString());
        TDataFileLock second;
        EXPECT_TRUE(ErrorOf(second, other, "x").startsWith("busy: " + other + " is being written by tarnelpro, process"));
    }
    // Another file of the same folder is free.
    TDataFileLock neighbour;
    EXPECT_EQ(ErrorOf(neighbour, dir.filePath("data/Line2.bin"), "x"), QString());
}

TEST(DataFileLock, aLockLeftByAKilledProgramIsTakenOverAndNamed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Line1.bin");
    TLockHolder other(path, "tarnelpro-cli acquire");
    ASSERT_TRUE(other.Held);
    const pid_t pid = other.Pid;

    TDataFileLock mine;
    EXPECT_TRUE(ErrorOf(mine, path, "tarnelpro").contains(QStringLiteral("process %1").arg(pid)));
    other.Kill();
    ASSERT_TRUE(QFileInfo::exists(TDataFileLock::LockFileFor(path))) << "a killed holder leaves its record";

    EXPECT_EQ(ErrorOf(mine, path, "tarnelpro"), QString());
    ASSERT_TRUE(mine.TakenOver());
    EXPECT_EQ(mine.TakenOver()->Pid, pid);
    EXPECT_EQ(mine.TakenOver()->Program, "tarnelpro-cli acquire");
    const auto now = TDataFileLock::Recorded(path);
    ASSERT_TRUE(now);
    EXPECT_EQ(now->Pid, ::getpid());
    EXPECT_EQ(now->Program, "tarnelpro");
}

TEST(DataFileLock, aFolderThatCannotHoldTheLockIsAnErrorNotABusyFile)
{
    QTemporaryDir dir;
    TDataFileLock lock;
    EXPECT_TRUE(ErrorOf(lock, dir.filePath("missing/Line1.bin"), "x").startsWith("error: "));
    EXPECT_FALSE(lock.Held());
}

TEST(DataFileLock, holderTextGivesTheDateWhenNotTodayAndAnUnknownHolderPlainly)
{
    const QDateTime now(QDate(2026, 12, 11), QTime(9, 0));
    TDataFileLock::THolder h{4711, "tarnelpro-cli acquire", QDateTime(QDate(2026, 12, 10), QTime(22, 5)), {}};
    EXPECT_EQ(TDataFileLock::HolderText(h, now), "tarnelpro-cli acquire, process 4711, since 2026-12-10 22:05");
    h.Host = "other-laptop-" + QSysInfo::machineHostName();
    EXPECT_TRUE(TDataFileLock::HolderText(h, now).contains(" on other-laptop-"));
    EXPECT_EQ(TDataFileLock::BusyText("/d/x.bin", {}, now), "/d/x.bin is being written by another program");
}
