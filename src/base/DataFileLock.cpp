#include "base/DataFileLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Reason(int error) { return qt_error_string(error); }

// Names and programs go on one line of the lock file each.
QString OneLine(QString text)
{
    for (QChar &c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    return text;
}

std::optional<TDataFileLock::THolder> Parse(const QByteArray &bytes)
{
    TDataFileLock::THolder h;
    for (const QByteArray &line : bytes.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq);
        const QString value = QString::fromUtf8(line.mid(eq + 1));
        if (key == "pid")
            h.Pid = value.toLongLong();
        else if (key == "program")
            h.Program = value;
        else if (key == "since")
            h.Since = QDateTime::fromString(value, Qt::ISODate);
        else if (key == "host")
            h.Host = value;
    }
    if (h.Pid <= 0)
        return std::nullopt;
    return h;
}

std::optional<TDataFileLock::THolder> ReadHolder(int fd)
{
    QByteArray bytes;
    char buffer[1024];
    for (off_t at = 0; bytes.size() < 4096;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buffer, n);
        at += n;
    }
    return Parse(bytes);
}

bool WriteHolder(int fd, const TDataFileLock::THolder &h)
{
    const QByteArray text = QStringLiteral("pid=%1\nprogram=%2\nsince=%3\nhost=%4\n")
                                .arg(h.Pid)
                                .arg(OneLine(h.Program), h.Since.toString(Qt::ISODate), OneLine(h.Host))
                                .toUtf8();
    if (::ftruncate(fd, 0) != 0)
        return false;
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(fd, text.constData() + done, size_t(text.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool SameFile(int fd, const QByteArray &path)
{
    struct stat mine {}, named {};
    return ::fstat(fd, &mine) == 0 && ::stat(path.constData(), &named) == 0 && mine.st_dev == named.st_dev &&
           mine.st_ino == named.st_ino;
}

} // namespace

TDataFileLock::~TDataFileLock() { Release(); }

QString TDataFileLock::LockFileFor(const QString &dataFile)
{
    // Every spelling of one file (relative, through a linked folder, through
    // a link to the file) must meet at one lock.
    QFileInfo info(dataFile);
    QString target = info.absoluteFilePath();
    if (info.exists())
        target = info.canonicalFilePath();
    else if (info.isSymLink())
        target = info.symLinkTarget();
    const QFileInfo resolved(target);
    QString folder = resolved.absolutePath();
    if (const QString canonical = QFileInfo(folder).canonicalFilePath(); !canonical.isEmpty())
        folder = canonical;
    return QDir(folder).filePath(QLatin1Char('.') + resolved.fileName() + QStringLiteral(".lock"));
}

std::optional<TDataFileLock::THolder> TDataFileLock::Recorded(const QString &dataFile)
{
    QFile f(LockFileFor(dataFile));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return Parse(f.read(4096));
}

QString TDataFileLock::HolderText(const THolder &holder, const QDateTime &now)
{
    QString text = holder.Program.isEmpty() ? QStringLiteral("another program") : holder.Program;
    if (holder.Pid > 0)
        text += QStringLiteral(", process %1").arg(holder.Pid);
    if (!holder.Host.isEmpty() && holder.Host != QSysInfo::machineHostName())
        text += QStringLiteral(" on %1").arg(holder.Host);
    if (holder.Since.isValid())
        text += QStringLiteral(", since %1")
                    .arg(holder.Since.toString(holder.Since.date() == now.date() ? QStringLiteral("HH:mm")
                                                                                 : QStringLiteral("yyyy-MM-dd HH:mm")));
    return text;
}

QString TDataFileLock::BusyText(const QString &dataFile, const THolder &holder, const QDateTime &now)
{
    return QStringLiteral("%1 is being written by %2").arg(dataFile, HolderText(holder, now));
}

void TDataFileLock::Take(const QString &dataFile, const QString &program)
{
    Release();
    Dead.reset();
    const QString lockPath = LockFileFor(dataFile);
    const QByteArray name = QFile::encodeName(lockPath);
    const auto cannot = [&](int error) {
        return ETarnelError(TErrorKind::File,
                            QStringLiteral("%1: cannot be locked for writing (%2: %3)").arg(dataFile, lockPath, Reason(error)));
    };
    // A holder that ends between our open and our flock removes the file we
    // opened: then the lock is taken again on the file of that name.
    for (int attempt = 0;; ++attempt) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0)
            throw cannot(errno);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            const std::optional<THolder> holder = ReadHolder(fd);
            ::close(fd);
            if (error == EWOULDBLOCK)
                throw EDataFileBusy(BusyText(dataFile, holder.value_or(THolder{}), QDateTime::currentDateTime()));
            throw cannot(error);
        }
        if (!SameFile(fd, name)) {
            ::close(fd);
            if (attempt < 20)
                continue;
            throw cannot(EAGAIN);
        }
        // A record without a flock on it was left by a program that ended
        // without removing it (killed, power cut).
        Dead = ReadHolder(fd);
        const THolder me{qint64(::getpid()), program, QDateTime::currentDateTime(),
                         QSysInfo::machineHostName()};
        // The flock alone keeps others out; a record that finds no room (a
        // full disk) only leaves them unable to say who holds it.
        if (!WriteHolder(fd, me))
            (void)::ftruncate(fd, 0);
        Fd = fd;
        Data = dataFile;
        LockPath = lockPath;
        return;
    }
}

void TDataFileLock::Release()
{
    if (Fd < 0)
        return;
    // Removed while still held, so nobody takes a lock on a file about to go.
    ::unlink(QFile::encodeName(LockPath).constData());
    ::close(Fd);
    Fd = -1;
    Data.clear();
    LockPath.clear();
}
