#include "base/SafeFile.h"

#include "support/SmallFs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

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
