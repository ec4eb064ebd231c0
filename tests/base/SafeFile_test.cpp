#include "base/SafeFile.h"

#include "support/SmallFs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void Put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Entries of a folder other than the ones named: a left-over temporary file
// shows up here.
QStringList Others(const QString &folder, const QStringList &known)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const auto &k : known)
        names.removeAll(k);
    return names;
}

mode_t Mode(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST(SafeFile, replacesKeepingPermissionsAndFollowsLinks)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("Setup.ini");
    ASSERT_EQ(TSafeFile::Write(target, "first"), QString());
    EXPECT_EQ(ReadAll(target), "first");

    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    ASSERT_EQ(TSafeFile::Write(target, "second, longer"), QString());
    EXPECT_EQ(ReadAll(target), "second, longer");
    EXPECT_EQ(Mode(target), 0640u);

    const QString link = dir.filePath("link.ini");
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_EQ(TSafeFile::Write(link, "through the link"), QString());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadAll(target), "through the link");

    ASSERT_EQ(TSafeFile::Write(target, ""), QString());
    EXPECT_EQ(QFileInfo(target).size(), 0);
    EXPECT_EQ(Others(dir.path(), {"Setup.ini", "link.ini"}), QStringList());
}

TEST(SafeFile, failuresGiveTheSystemsReasonAndLeaveNothing)
{
    QTemporaryDir dir;
    struct TCase {
        QString Path;
        const char *Reason;
    } cases[] = {
        {dir.filePath("no such folder/a.txt"), "No such file or directory"},
        {dir.path(), "Is a directory"},
        {"/dev/full", "No space left on device"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Path.toStdString());
        EXPECT_EQ(TSafeFile::Write(c.Path, "bytes"), QString::fromLatin1(c.Reason));
    }
    EXPECT_EQ(TSafeFile::Append("/dev/full", "bytes"), QString("No space left on device"));
    EXPECT_EQ(Others(dir.path(), {}), QStringList());
}

TEST(SafeFile, fullDiskKeepsThePreviousBytes)
{
    TSmallFs fs(64 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << TSmallFs::SkipReason;
    const QString target = fs.File("Line1_Log.txt");
    Put(target, "what an earlier session wrote\r\n");
    fs.Fill();

    EXPECT_EQ(TSafeFile::Write(target, QByteArray(100 * 1024, 'n')), QString("No space left on device"));
    EXPECT_EQ(ReadAll(target), "what an earlier session wrote\r\n");
    EXPECT_EQ(Others(fs.Path(), {"Line1_Log.txt", "ballast"}), QStringList());

    // An append that does not fit is cut back: no torn tail.
    EXPECT_EQ(TSafeFile::Append(target, QByteArray(100 * 1024, 'n')), QString("No space left on device"));
    EXPECT_EQ(ReadAll(target), "what an earlier session wrote\r\n");
}

TEST(SafeFile, appendCreatesAndExtends)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.bin");
    ASSERT_EQ(TSafeFile::Append(path, "ab"), QString());
    ASSERT_EQ(TSafeFile::Append(path, "cd"), QString());
    EXPECT_EQ(ReadAll(path), "abcd");
}

TEST(SafeFile, aReadOnlyFileIsNotReplaced)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("Site.ini");
    Put(target, "kept");
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0444), 0);
    EXPECT_EQ(TSafeFile::Write(target, "new"), QString("the file is read-only"));
    EXPECT_EQ(ReadAll(target), "kept");
    EXPECT_EQ(Mode(target), 0444u);
    EXPECT_EQ(Others(dir.path(), {"Site.ini"}), QStringList());
}

TEST(SafeFile, namesUpToTheFileSystemsLimitCanBeWritten)
{
    QTemporaryDir dir;
    for (const int length : {200, 248, 255}) {
        SCOPED_TRACE(length);
        const QString target = dir.filePath(QString(length - 4, QLatin1Char('n')) + ".ini");
        EXPECT_EQ(TSafeFile::Write(target, "a"), QString());
        EXPECT_EQ(TSafeFile::Write(target, "bc"), QString());
        EXPECT_EQ(ReadAll(target), "bc");
    }
}

TEST(SafeFile, staleTemporariesOfKilledWritesAreRemovedOthersKept)
{
    QTemporaryDir dir;
    // A process id that no process holds: one that has just ended.
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const QString deadPid = QString::number(gone);
    const QString livePid = QString::number(::getppid());
    const time_t now = ::time(nullptr);
    const struct {
        QString Name;
        time_t Age;
        bool Removed;
    } cases[] = {
        {".tarnelpro-" + deadPid + "-a1B2c3", 120, true},          // its writer was killed
        {".tarnelpro-" + deadPid + "-d4E5f6", 5, false},           // too fresh to be sure
        {".tarnelpro-" + livePid + "-g7H8i9", 3600, false},        // its writer still works
        {".tarnelpro-" + livePid + "-j1K2l3", 2 * 24 * 3600, true}, // days old: left by a kill
        {".Setup.ini.a1B2c3", 30 * 24 * 3600, false},              // not the program's pattern
        {".tarnelpro-x-a1B2c3", 30 * 24 * 3600, false},
        {"tarnelpro-" + deadPid + "-a1B2c3", 120, false},
    };
    for (const auto &c : cases) {
        Put(dir.filePath(c.Name), "half");
        const struct timespec times[2] = {{now - c.Age, 0}, {now - c.Age, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(dir.filePath(c.Name)).constData(), times, 0), 0);
    }
    ASSERT_EQ(TSafeFile::Write(dir.filePath("Setup.ini"), "x"), QString());
    for (const auto &c : cases)
        EXPECT_EQ(QFileInfo::exists(dir.filePath(c.Name)), !c.Removed) << c.Name.toStdString();
}
