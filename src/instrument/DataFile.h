#pragma once
// The acquisition data file: a 1029-byte header, then one 304-byte record per
// measured channel. The file is opened and closed inside each call, so it is
// complete on disk after every group.
#include "base/TarnelError.h"
#include "instrument/DataRecord.h"
#include "instrument/Generation.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <span>

class TVoltixPro;

// A data file that could not be written: "path: reason", with the system's
// reason apart for a caller that names the file itself.
class EDataFileError : public ETarnelError {
public:
    EDataFileError(const QString &path, const QString &reason)
        : ETarnelError(TErrorKind::File, QStringLiteral("%1: %2").arg(path, reason)), Why(reason) {}
    const QString &Reason() const noexcept { return Why; }

private:
    QString Why;
};

inline constexpr std::uint32_t DataFileMagic = 0x80000002;
inline constexpr int DataHeaderTextSize = 1024;
inline constexpr int DataHeaderSize = 4 + 1 + DataHeaderTextSize;

// The header: magic, 9, then the text block (date line, "\r\n", the header
// text cut so its terminating 0 stays inside, zeros). The date line is
// "2026-12-09 14:05:31" whatever the locale: it is read on other machines.
QByteArray DataFileHeader(const QByteArray &headerText, const QDateTime &when);

// Creates the file and writes the header, synced to the disk. With replace
// an existing file is truncated; without it the file is created exclusively
// and an existing one raises EFileExists, untouched. Raises EDataFileError with
// the system's message on failure (no half header is left behind).
void WriteDataFileHeader(const QString &path, const QByteArray &headerText, const QDateTime &when,
                         bool replace = true);

// Why path cannot take a new data file because it is a symbolic link to a
// file that does not exist (empty when it is not one). Writing through such
// a link would put the measurements wherever it points, often a folder of a
// medium that is not there.
QString DanglingLinkText(const QString &path);

// Readers and the writer of a data file take turns through a flock on the
// file itself, shared to read and exclusive to append, so that a reader
// sees whole groups. The wait is bounded (about a second): a stuck reader
// never holds up a run, nor a stuck writer a reader. False when the lock
// was not had; the caller goes on without it.
bool TakeDataFileTurn(int fd, bool exclusive);

// Converts one channel record of the given generation into record `out`
// (fields the generation does not write keep their values). quad is the
// index of the record's quadripole in the model's table.
void ConvertChannelRecord(const TGenerationTable &gen, std::span<const std::uint8_t> channel,
                          const TVoltixPro &model, int quad, bool lowCurrent, double dayNumber,
                          TDataRecord &out);

// Appends records to an existing data file and syncs them to the disk. On a
// failure (a full disk) the file is cut back to its length before the call,
// so it still ends on a whole group, and EDataFileError carries the system's
// message.
void AppendDataRecords(const QString &path, std::span<const TDataRecord> records);
