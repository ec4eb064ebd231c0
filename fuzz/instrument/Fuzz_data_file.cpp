// Any bytes as an acquisition data file: either a clear refusal or records
// that account for every byte after the header.
#include "base/TarnelError.h"
#include "instrument/DataExporter.h"
#include "instrument/DataFile.h"
#include "instrument/DataFileReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    TDataFileReader reader;
    try {
        reader.Parse(QByteArrayView(data, qsizetype(size)), QStringLiteral("fuzz.bin"));
    } catch (const ETarnelError &) {
        if (!reader.Records().empty())
            __builtin_trap();
        return 0;
    }
    // A tail longer than a record is only ever the zeros a power cut leaves.
    bool zeroTail = true;
    for (qint64 i = reader.CompleteSize(); i < qint64(size) && zeroTail; ++i)
        zeroTail = data[i] == 0;
    if (reader.TornBytes() < 0 || (reader.TornBytes() >= qint64(sizeof(TDataRecord)) && !zeroTail)
        || reader.CompleteSize() + reader.TornBytes() != qint64(size)
        || reader.HeaderText().size() >= DataHeaderTextSize)
        __builtin_trap();
    for (const TDataRecord &r : reader.Records())
        if (r.Ten != 10)
            __builtin_trap();
    (void)reader.Comment();
    (void)reader.DateLine();
    // Every export of what was read: a refusal or text, never a crash.
    for (const TExportOptions options : {TExportOptions{}, TExportOptions{true, TIpColumn::Phase, 2.5}}) {
        const TDataExporter exporter(reader.Records(), QStringLiteral("fuzz"), options);
        for (const TExportFormat format :
             {TExportFormat::Csv, TExportFormat::Unified, TExportFormat::Protocol, TExportFormat::Res2dinv}) {
            try {
                (void)exporter.Export(format);
            } catch (const ETarnelError &) {
            }
        }
        (void)exporter.ProtocolElectrodes();
    }
    return 0;
}
