#pragma once
// Reads an acquisition data file: ours or any file of the same layout, with
// records of either generation. A run that was killed while appending leaves
// a partial last record, and a power cut a tail of zeros; either is reported
// (TornBytes) and left out, never taken for an error, so everything measured
// before it stays readable.
#include "instrument/DataRecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

class TDataFileReader {
public:
    // Reads the file at path. Raises ETarnelError with the system's message
    // when it cannot be read, or with "<path>: not a data file (...)" when its
    // bytes are not those of a data file. Something that is not a regular
    // file (a FIFO would block the open) or that is larger than MaxSize is
    // refused before it is opened.
    void Read(const QString &path);

    // A run writes one record per quadripole of the 16 000-entry table, and
    // "SP only" runs append theirs to a file already measured: room for 64
    // such runs, far beyond a field day and far below what memory holds.
    static constexpr qint64 MaxRuns = 64;
    static qint64 MaxSize();
    // The same on bytes already in memory; name is used in the messages.
    void Parse(QByteArrayView bytes, const QString &name);

    // The header text block up to its terminating 0: the date line, "\r\n",
    // then the comment (8-bit text as stored).
    const QByteArray &HeaderText() const { return Header; }
    QByteArray DateLine() const;
    QByteArray Comment() const;

    const std::vector<TDataRecord> &Records() const { return Recs; }
    // Bytes of a partial last record or a zero-filled tail (0 when the file
    // ends on a record).
    qint64 TornBytes() const { return Torn; }
    // Size of the file without its partial last record.
    qint64 CompleteSize() const;

    // Record versions written by the two instrument generations.
    static constexpr std::uint16_t VersionGen1 = 2;
    static constexpr std::uint16_t VersionGen2 = 3;

private:
    QByteArray Header;
    std::vector<TDataRecord> Recs;
    qint64 Torn = 0;
};
