#include "base/WireTrace.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcWire, "tarnelpro.wire", QtWarningMsg)
Q_LOGGING_CATEGORY(lcProtocol, "tarnelpro.protocol", QtWarningMsg)
Q_LOGGING_CATEGORY(lcMqtt, "tarnelpro.mqtt", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSession, "tarnelpro.session", QtWarningMsg)

namespace {
// Read without the lock on every traced burst: the cost of a trace that is off.
std::atomic<bool> FileOn{false};

struct TFileSink {
    std::mutex Lock;
    int Fd = -1;
    QString Path;
    qint64 Size = 0;
    qint64 Limit = WireTrace::DefaultFileLimit;
    QString Failure;
    std::function<void(const QString &)> OnFailure;
};

// Never destroyed: a link closed by a static destructor may still trace.
TFileSink &Sink()
{
    static TFileSink *sink = new TFileSink;
    return *sink;
}

QString KindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a file");
}

// Opens path for appending, or says why not. The file is looked at before it
// is opened and opened without waiting: a FIFO with no reader or a modem
// device would otherwise hold the program at the open.
int OpenAppend(const QString &path, QString *why)
{
    if (path.isEmpty()) {
        *why = QStringLiteral("cannot trace: no file name given");
        return -1;
    }
    const QByteArray name = QFile::encodeName(path);
    const auto refuse = [&](mode_t mode) {
        *why = QStringLiteral("cannot trace to \"%1\": it is %2, not a regular file").arg(path, KindOf(mode));
        return -1;
    };
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return refuse(st.st_mode);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        *why = QStringLiteral("cannot trace to \"%1\": %2").arg(path, qt_error_string(errno));
        return -1;
    }
    // Replaced between the look and the open.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse(st.st_mode);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Whole line or the reason it could not be written.
bool WriteAll(int fd, const QByteArray &bytes, int *error)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? errno : ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

QByteArray Stamp()
{
    // Local time with its offset: it reads beside the event log's local
    // times, and still orders across a change of the clock or a time zone.
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1();
}

QByteArray Printable(std::span<const std::uint8_t> bytes)
{
    QByteArray text(qsizetype(bytes.size()), '.');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F)
            text[qsizetype(i)] = char(bytes[i]);
    return text;
}

// "[3] 40 1d e2  |@..|"
QByteArray BytesText(std::span<const std::uint8_t> bytes)
{
    const QByteArray raw(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    return '[' + QByteArray::number(qsizetype(bytes.size())) + "] " + raw.toHex(' ') + "  |" + Printable(bytes) + '|';
}

// A note stays one line whatever its text holds.
QByteArray OneLine(const QString &text)
{
    QString line = text;
    for (QChar &c : line)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    return line.toUtf8();
}

// The caller holds the lock. Closes the file and keeps the reason; the
// handler is called by the caller once the lock is released.
void FailLocked(TFileSink &s, const QString &why)
{
    if (s.Fd >= 0)
        ::close(s.Fd);
    s.Fd = -1;
    FileOn = false;
    s.Failure = QStringLiteral("the trace to \"%1\" stopped: %2").arg(s.Path, why);
}

void WriteLocked(TFileSink &s, const QByteArray &line)
{
    int error = 0;
    if (WriteAll(s.Fd, line, &error))
        s.Size += line.size();
    else
        FailLocked(s, qt_error_string(error));
}

void RollLocked(TFileSink &s)
{
    const QString older = s.Path + QStringLiteral(".1");
    WriteLocked(s, Stamp() + " ## trace file full (" + QByteArray::number(s.Limit) + " bytes): continued in a new " +
                       QFile::encodeName(s.Path) + '\n');
    if (s.Fd < 0)
        return;
    ::close(s.Fd);
    s.Fd = -1;
    if (::rename(QFile::encodeName(s.Path).constData(), QFile::encodeName(older).constData()) != 0) {
        FailLocked(s, QStringLiteral("cannot rename it to \"%1\": %2").arg(older, qt_error_string(errno)));
        return;
    }
    QString why;
    s.Fd = OpenAppend(s.Path, &why);
    if (s.Fd < 0) {
        FailLocked(s, why);
        return;
    }
    s.Size = 0;
    WriteLocked(s, Stamp() + " ## trace continued; the lines before are in " + QFile::encodeName(older) + '\n');
}

// One line of the file: the time it was written, then text.
void Append(const QByteArray &text)
{
    TFileSink &s = Sink();
    std::function<void(const QString &)> tell;
    QString failure;
    {
        std::lock_guard<std::mutex> lock(s.Lock);
        if (s.Fd < 0)
            return;
        const QByteArray line = Stamp() + ' ' + text + '\n';
        if (s.Size > 0 && s.Size + line.size() > s.Limit)
            RollLocked(s);
        if (s.Fd >= 0)
            WriteLocked(s, line);
        if (s.Fd < 0) {
            tell = s.OnFailure;
            failure = s.Failure;
        }
    }
    if (tell)
        tell(failure);
}

void Bytes(const char *direction, std::span<const std::uint8_t> bytes)
{
    const bool toFile = FileOn.load(std::memory_order_relaxed);
    if (!toFile && !lcWire().isDebugEnabled())
        return;
    const QByteArray text = BytesText(bytes);
    if (lcWire().isDebugEnabled())
        qCDebug(lcWire).noquote() << direction << text;
    if (toFile)
        Append(direction + (' ' + text));
}
} // namespace

namespace WireTrace {
bool Active()
{
    return FileOn.load(std::memory_order_relaxed) || lcWire().isDebugEnabled() || lcProtocol().isDebugEnabled();
}

void Sent(std::span<const std::uint8_t> bytes) { Bytes("->", bytes); }

void Received(std::span<const std::uint8_t> bytes) { Bytes("<-", bytes); }

void Note(const QString &text)
{
    if (lcProtocol().isDebugEnabled())
        qCDebug(lcProtocol).noquote() << text;
    if (FileOn.load(std::memory_order_relaxed))
        Append("== " + OneLine(text));
}

bool StartFile(const QString &path, QString *error)
{
    QString why;
    const int fd = OpenAppend(path, &why);
    if (fd < 0) {
        if (error)
            *error = why;
        return false;
    }
    struct stat st {};
    ::fstat(fd, &st);
    StopFile();
    TFileSink &s = Sink();
    std::lock_guard<std::mutex> lock(s.Lock);
    s.Fd = fd;
    s.Path = path;
    s.Size = st.st_size;
    s.Failure.clear();
    FileOn = true;
    const QString program = QCoreApplication::instance() ? QCoreApplication::applicationName() : QStringLiteral("tarnelpro");
    WriteLocked(s, Stamp() + " ## trace started by " + program.toUtf8() + " (pid " + QByteArray::number(qint64(::getpid())) +
                       "); -> to the instrument, <- from it, == the protocol's reading\n");
    if (s.Fd < 0 && error)
        *error = s.Failure;
    return s.Fd >= 0;
}

void StopFile()
{
    TFileSink &s = Sink();
    std::lock_guard<std::mutex> lock(s.Lock);
    if (s.Fd < 0)
        return;
    WriteLocked(s, Stamp() + " ## trace stopped\n");
    if (s.Fd >= 0)
        ::close(s.Fd);
    s.Fd = -1;
    FileOn = false;
}

QString FilePath()
{
    TFileSink &s = Sink();
    std::lock_guard<std::mutex> lock(s.Lock);
    return s.Fd >= 0 ? s.Path : QString();
}

void SetFileLimit(qint64 bytes)
{
    TFileSink &s = Sink();
    std::lock_guard<std::mutex> lock(s.Lock);
    s.Limit = bytes > 0 ? bytes : DefaultFileLimit;
}

QString FileFailure()
{
    TFileSink &s = Sink();
    std::lock_guard<std::mutex> lock(s.Lock);
    return s.Failure;
}

void SetFailureHandler(std::function<void(const QString &)> handler)
{
    TFileSink &s = Sink();
    std::lock_guard<std::mutex> lock(s.Lock);
    s.OnFailure = std::move(handler);
}
} // namespace WireTrace
