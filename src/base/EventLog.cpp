#include "base/EventLog.h"

#include "base/Cp1252.h"
#include "base/DateText.h"
#include "base/Folders.h"
#include "base/TextCodec.h"

#include <QFile>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool Escaped(char32_t u)
{
    return (u < 0x20 && u != '\t') || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029 ||
           (u >= 0xD800 && u <= 0xDFFF);
}

// One line of text, one line in the file and in the pane.
QString OneLine(const QString &text)
{
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return Escaped(c.unicode()); }))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out.append(text[i]).append(text[i + 1]);
            ++i;
            continue;
        }
        if (Escaped(u))
            out += QStringLiteral("\\u{") + QString::number(quint32(u), 16).toUpper() + QLatin1Char('}');
        else
            out.append(text[i]);
    }
    return out;
}

// A log holds Windows-1252 when its text is not UTF-8 (a log of the
// program's Windows years, or of an earlier version). A line torn by a crash
// at the end does not decide.
bool HoldsCp1252(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    if (const qsizetype end = bytes.lastIndexOf('\n'); end >= 0)
        bytes.truncate(end + 1);
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
    return !ascii && !IsUtf8Text(bytes);
}

QString Reason(int error) { return qt_error_string(error); }
} // namespace

TEventLog::TEventLog() = default;

void TEventLog::Add(const QString &text, TColor color)
{
    HoldingRed = false;
    AddLine(text, color);
}

void TEventLog::Add(const QString &text) { AddLine(text, HoldingRed ? LogColor::Red : LogColor::Black); }

void TEventLog::AddLine(const QString &text, TColor color)
{
    Entries.push_back({OneLine(text), color});
    Pending.push_back(Entries.back().Text);
    if (OnLine)
        OnLine(Entries.back());
    if (OnLineReport)
        OnLineReport(Entries.back());
    // A script that runs for weeks must not grow without end; the files keep
    // every line.
    if (Entries.size() > MaxLines) {
        const std::size_t drop = Entries.size() - MaxLines + MaxLines / 10;
        Entries.erase(Entries.begin(), Entries.begin() + std::ptrdiff_t(std::min(drop, Entries.size())));
    }
    if (Pending.size() > MaxPending) {
        const std::size_t drop = Pending.size() - MaxPending + MaxPending / 10;
        Pending.erase(Pending.begin(), Pending.begin() + std::ptrdiff_t(std::min(drop, Pending.size())));
        GivenUp += drop;
    }
}

QString TEventLog::DateTimeText() const { return LocalDateTimeText(Now(), Locale); }

QString TEventLog::Stamp() const { return QStringLiteral("< ") + DateTimeText() + QStringLiteral(" > "); }

void TEventLog::AddStamped(const QString &text, TColor color) { Add(Stamp() + text, color); }

void TEventLog::AddStamped(const QString &text) { Add(Stamp() + text); }

void TEventLog::AddStampedAside(const QString &text, TColor color) { AddLine(Stamp() + text, color); }

void TEventLog::Clear()
{
    // The pane only: lines not yet saved still go to the file.
    Entries.clear();
    if (OnClear)
        OnClear();
}

QString TEventLog::Text() const
{
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(Entries.size()));
    for (const auto &e : Entries)
        lines << e.Text;
    return lines.join(QLatin1Char('\n'));
}

QString TEventLog::LogFileFor(const QString &acquisitionFile)
{
    return ReplaceExtension(acquisitionFile, QStringLiteral("_Log.txt"));
}

// Writes the pending lines, each with one write() on an O_APPEND descriptor:
// the kernel puts each whole at the end of the file, whoever else appends.
// Returns the system's reason on failure; the lines written leave Pending.
QString TEventLog::Append(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    // Created here, so that a log that gets no line is not left behind empty.
    bool created = true;
    int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }
    if (fd < 0)
        return Reason(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return Reason(error);
    }
    TFileEncoding &encoding = Encodings[path];
    if (encoding.Device != quint64(st.st_dev) || encoding.Inode != quint64(st.st_ino)) {
        encoding = {quint64(st.st_dev), quint64(st.st_ino), st.st_size > 0 && HoldsCp1252(path)};
    }
    const auto encode = [&encoding](const QString &text) {
        return encoding.Cp1252 ? ToCp1252Escaped(text) : text.toUtf8();
    };
    // False with error set when the line did not go in whole; a torn line
    // is cut off again when nobody has appended after it.
    int error = 0;
    const auto writeLine = [fd, &error](const QByteArray &bytes) {
        for (;;) {
            const ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
            if (n == bytes.size())
                return true;
            if (n < 0 && errno == EINTR)
                continue;
            error = n < 0 ? errno : ENOSPC;
            if (n > 0) {
                const off_t end = ::lseek(fd, 0, SEEK_CUR);
                struct stat now {};
                if (end >= n && ::fstat(fd, &now) == 0 && now.st_size == end)
                    (void)!::ftruncate(fd, end - n);
            }
            return false;
        }
    };

    bool ok = true;
    if (!Headed.count(path)) {
        QString header = QStringLiteral("==== Tarnel Pro 2 V%1, %2, %3 ====\r\n")
                             .arg(QStringLiteral(TARNEL_VERSION_TEXT), DateTimeText(), OneLine(Action));
        // A new session in this file: set apart from what earlier ones wrote.
        if (st.st_size > 0)
            header.prepend(QStringLiteral("\r\n"));
        ok = writeLine(encode(header));
        if (ok)
            Headed.insert(path);
    }
    if (ok && GivenUp > 0) {
        ok = writeLine(encode(QStringLiteral("(%1 lines of the event log were given up: no log file could take them)\r\n")
                                  .arg(GivenUp)));
        if (ok)
            GivenUp = 0;
    }
    std::size_t written = 0;
    while (ok && written < Pending.size()) {
        ok = writeLine(encode(Pending[written] + QStringLiteral("\r\n")));
        if (ok)
            ++written;
    }
    Pending.erase(Pending.begin(), Pending.begin() + std::ptrdiff_t(written));

    // The lines must reach the disk (the log is the field record); devices
    // and some file systems cannot be synced.
    while (ok && ::fsync(fd) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EINVAL && errno != EROFS) {
            error = errno;
            ok = false;
        }
        break;
    }
    if (created) {
        struct stat now {};
        if (::fstat(fd, &now) == 0 && now.st_size == 0) {
            ::unlink(name.constData());
            Headed.erase(path);
        }
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    return ok ? QString() : Reason(error);
}

bool TEventLog::Save(const QString &acquisitionFile)
{
    // Without a data file the log has nowhere to sit beside (a bare
    // identification from the command line): it stays in the pane.
    if (acquisitionFile.isEmpty()) {
        Pending.clear();
        return true;
    }
    const QString path = LogFileFor(acquisitionFile);
    if (Pending.empty() && GivenUp == 0)
        return FailedPaths.count(path) == 0;
    const QString error = Append(path);
    if (error.isEmpty()) {
        FailedPaths.erase(path);
        return true;
    }
    EverFailed = true;
    if (FailedPaths.insert(path).second && OnSaveError)
        OnSaveError(path, error);
    return false;
}
