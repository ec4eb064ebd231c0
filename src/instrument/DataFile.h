#pragma once
// The acquisition data file: a 1029-byte header, then one 304-byte record per
// measured channel. The file is opened and closed inside each call, so it is
// complete on disk after every group.
#include "instrument/DataRecord.h"
#include "instrument/Generation.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <span>

class TVoltixPro;

inline constexpr std::uint32_t DataFileMagic = 0x80000002;
inline constexpr int DataHeaderTextSize = 1024;
inline constexpr int DataHeaderSize = 4 + 1 + DataHeaderTextSize;

// The header: magic, 9, then the text block (date line, "\r\n", the header
// text cut so its terminating 0 stays inside, zeros).
QByteArray DataFileHeader(const QByteArray &headerText, const QDateTime &when, const QLocale &locale);

// Creates or truncates the file and writes the header. Raises ETarnelError
// with the system's message on failure.
void WriteDataFileHeader(const QString &path, const QByteArray &headerText, const QDateTime &when,
                         const QLocale &locale);

// Converts one channel record of the given generation into record `out`
// (fields the generation does not write keep their values). quad is the
// index of the record's quadripole in the model's table.
void ConvertChannelRecord(const TGenerationTable &gen, std::span<const std::uint8_t> channel,
                          const TVoltixPro &model, int quad, bool lowCurrent, double dayNumber,
                          TDataRecord &out);

// Appends records to an existing data file and flushes them to the disk.
// Raises ETarnelError with the system's message on failure.
void AppendDataRecords(const QString &path, std::span<const TDataRecord> records);
