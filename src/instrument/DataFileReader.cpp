#include "instrument/DataFileReader.h"

#include "base/TarnelError.h"
#include "instrument/DataFile.h"

#include <QFile>

#include "survey/Sequence.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {
[[noreturn]] void NotADataFile(const QString &name, const QString &why)
{
    throw ETarnelError(TErrorKind::File, QStringLiteral("%1: not a data file (%2)").arg(name, why));
}
} // namespace

qint64 TDataFileReader::MaxSize()
{
    return DataHeaderSize + MaxRuns * qint64(TSequence::QuadTableSize) * qint64(sizeof(TDataRecord));
}

void TDataFileReader::Read(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        throw ETarnelError(TErrorKind::File, QStringLiteral("%1: %2").arg(path, qt_error_string(errno)));
    if (S_ISDIR(st.st_mode))
        throw ETarnelError(TErrorKind::File, QStringLiteral("%1: a folder, not a data file").arg(path));
    if (!S_ISREG(st.st_mode))
        throw ETarnelError(TErrorKind::File, QStringLiteral("%1: not a regular file (a device, FIFO or socket), not read").arg(path));
    if (qint64(st.st_size) > MaxSize())
        throw ETarnelError(TErrorKind::File, QStringLiteral("%1: %2 bytes, more than any data file holds (%3 bytes); not read")
                               .arg(path)
                               .arg(qint64(st.st_size))
                               .arg(MaxSize()));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ETarnelError(TErrorKind::File, QStringLiteral("%1: %2").arg(path, file.errorString()));
    // A run appending meanwhile finishes its group first.
    TakeDataFileTurn(file.handle(), false);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ETarnelError(TErrorKind::File, QStringLiteral("%1: %2").arg(path, file.errorString()));
    Parse(bytes, path);
}

void TDataFileReader::Parse(QByteArrayView bytes, const QString &name)
{
    Header.clear();
    Recs.clear();
    Torn = 0;
    if (bytes.size() < DataHeaderSize)
        NotADataFile(name, QStringLiteral("%1 bytes, shorter than the %2-byte header")
                               .arg(bytes.size())
                               .arg(DataHeaderSize));
    std::uint32_t magic = 0;
    std::memcpy(&magic, bytes.data(), 4);
    if (magic != DataFileMagic || std::uint8_t(bytes[4]) != 9)
        NotADataFile(name, QStringLiteral("unknown header mark"));

    const QByteArrayView text = bytes.sliced(5, DataHeaderTextSize);
    const qsizetype end = text.indexOf('\0');
    Header = (end >= 0 ? text.first(end) : text).toByteArray();

    const qint64 body = bytes.size() - DataHeaderSize;
    const qint64 count = body / qint64(sizeof(TDataRecord));
    Torn = body % qint64(sizeof(TDataRecord));
    Recs.resize(std::size_t(count));
    for (qint64 i = 0; i < count; ++i) {
        TDataRecord &r = Recs[std::size_t(i)];
        std::memcpy(&r, bytes.data() + DataHeaderSize + i * qint64(sizeof r), sizeof r);
        if (r.Ten != 10 || (r.Version != VersionGen1 && r.Version != VersionGen2)) {
            // A power cut can leave the end of the file filled with zeros
            // (space given to the file whose data never reached the disk):
            // that is a torn tail like a partial record, not a foreign file.
            const QByteArrayView rest = bytes.sliced(DataHeaderSize + i * qint64(sizeof r));
            if (std::all_of(rest.begin(), rest.end(), [](char c) { return c == 0; })) {
                Recs.resize(std::size_t(i));
                Torn = rest.size();
                return;
            }
            Recs.clear();
            Torn = 0;
            NotADataFile(name, QStringLiteral("record %1 at byte %2 has no record mark")
                                   .arg(i)
                                   .arg(DataHeaderSize + i * qint64(sizeof r)));
        }
    }
}

QByteArray TDataFileReader::DateLine() const
{
    const qsizetype end = Header.indexOf("\r\n");
    return end >= 0 ? Header.left(end) : Header;
}

QByteArray TDataFileReader::Comment() const
{
    const qsizetype end = Header.indexOf("\r\n");
    return end >= 0 ? Header.mid(end + 2) : QByteArray();
}

qint64 TDataFileReader::CompleteSize() const
{
    return DataHeaderSize + qint64(Recs.size()) * qint64(sizeof(TDataRecord));
}
