#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Reason(int error)
{
    return qt_error_string(error);
}

// Writes all bytes, going on after short writes and interrupted calls.
bool WriteAll(int fd, QByteArrayView bytes, int *error)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        if (n == 0) { // nothing taken and no reason given: treat as a full device
            *error = ENOSPC;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

// Sync that tolerates files and folders that cannot be synced (devices,
// some special file systems): those report EINVAL or EROFS.
bool Sync(int fd, int *error)
{
    while (::fsync(fd) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EINVAL || errno == EROFS)
            return true;
        *error = errno;
        return false;
    }
    return true;
}

QString ResolveTarget(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists()) {
        const QString canonical = info.canonicalFilePath();
        return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
    }
    if (info.isSymLink()) // dangling link: create the file it names
        return info.symLinkTarget();
    return info.absoluteFilePath();
}

QString WriteInPlace(const QByteArray &target, QByteArrayView bytes)
{
    const int fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return Reason(errno);
    int error = 0;
    bool ok = WriteAll(fd, bytes, &error) && Sync(fd, &error);
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    return ok ? QString() : Reason(error);
}

// Temporary files are ".tarnelpro-PID-XXXXXX": short whatever the target's
// name (a name of 255 bytes still gets one), and telling which process made
// them.
constexpr char TempPrefix[] = ".tarnelpro-";

// A temporary of ours is stale when the process that made it is gone and it
// has not been written to for a minute (a folder shared with another
// computer may hold one of its live writes), or when it is a day old.
bool IsStaleTemp(int dirFd, const char *name, time_t now)
{
    const std::size_t prefix = sizeof(TempPrefix) - 1;
    if (std::strncmp(name, TempPrefix, prefix) != 0)
        return false;
    const char *p = name + prefix;
    long long pid = 0;
    const char *digits = p;
    while (*p >= '0' && *p <= '9' && p - digits < 10)
        pid = pid * 10 + (*p++ - '0');
    if (p == digits || *p != '-' || std::strlen(p + 1) != 6)
        return false;
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        return false;
    const time_t age = now - st.st_mtime;
    const bool dead = pid > 0 && pid != ::getpid() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
    return (dead && age > 60) || age > 24 * 3600;
}

// Removes what writes killed half way left in folder; looked at once a
// minute per folder at most, a write is not slowed by a big folder.
void RemoveStaleTemps(const QByteArray &folder)
{
    static std::mutex lock;
    static std::map<QByteArray, std::chrono::steady_clock::time_point> looked;
    const auto now = std::chrono::steady_clock::now();
    {
        const std::lock_guard<std::mutex> guard(lock);
        auto [it, fresh] = looked.try_emplace(folder, now);
        if (!fresh && now - it->second < std::chrono::minutes(1))
            return;
        it->second = now;
    }
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    const time_t wall = ::time(nullptr);
    while (const dirent *entry = ::readdir(dir)) {
        if (IsStaleTemp(dirFd, entry->d_name, wall))
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

QString TSafeFile::Write(const QString &path, QByteArrayView bytes)
{
    if (path.isEmpty())
        return Reason(ENOENT);
    const QString targetPath = ResolveTarget(path);
    const QByteArray target = QFile::encodeName(targetPath);

    struct stat old {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        return Reason(EISDIR);
    if (exists && !S_ISREG(old.st_mode))
        return WriteInPlace(target, bytes);

    // A file made read-only is not replaced behind its back (a rename needs
    // only the folder's permission, and root passes access() anyway).
    if (exists && (old.st_mode & 0222) == 0)
        return QStringLiteral("the file is read-only");
    if (exists && ::access(target.constData(), W_OK) != 0)
        return Reason(errno);

    const QFileInfo info(targetPath);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    RemoveStaleTemps(folder);
    QByteArray temp = folder + '/' + TempPrefix + QByteArray::number(qint64(::getpid())) + "-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return Reason(errno);

    // The new file gets the old one's permissions, or the usual ones for a
    // new file (mkstemp makes it private).
    mode_t mode = 0;
    if (exists) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    int error = 0;
    // The owner and group stay too where the system lets us keep them.
    if (exists)
        (void)!::fchown(fd, old.st_uid, old.st_gid);
    bool ok = ::fchmod(fd, mode) == 0 || (error = errno, false);
    ok = ok && WriteAll(fd, bytes, &error) && Sync(fd, &error);
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok && ::rename(temp.constData(), target.constData()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.constData());
        return Reason(error);
    }

    // The rename itself must reach the disk, or a power cut can bring the old
    // name back. The new bytes are in place by now, so a folder that cannot be
    // synced is not a failure of the write.
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        int ignored = 0;
        Sync(dirFd, &ignored);
        ::close(dirFd);
    }
    return {};
}

QString TSafeFile::Append(const QString &path, QByteArrayView bytes, bool create)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    if (fd < 0)
        return Reason(errno);
    struct stat before {};
    int error = 0;
    bool ok = ::fstat(fd, &before) == 0 || (error = errno, false);
    if (ok && !WriteAll(fd, bytes, &error)) {
        ok = false;
        struct stat after {};
        if (S_ISREG(before.st_mode) &&
            (::ftruncate(fd, before.st_size) != 0 || ::fstat(fd, &after) != 0 || after.st_size != before.st_size)) {
            // The torn tail could not be cut: say so rather than the first reason.
            ::close(fd);
            return QStringLiteral("%1; the file could not be cut back to %2 bytes").arg(Reason(error)).arg(before.st_size);
        }
    }
    ok = ok && Sync(fd, &error);
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    return ok ? QString() : Reason(error);
}
