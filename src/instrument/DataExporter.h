#pragma once
// Converts the records of an acquisition data file into the text formats of
// the processing tools. Electrodes are identified by position: the distinct
// (x, y, z) of all records, sorted by x, then y, then z; a remote electrode
// (x or y at 99999 or more) is not part of that list.
#include "instrument/DataRecord.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <vector>

enum class TExportFormat { Csv, Unified, Protocol, Res2dinv };

class TDataExporter {
public:
    using TPosition = std::array<float, 3>;

    // title: the first line of the Res2DInv file.
    TDataExporter(const std::vector<TDataRecord> &records, QString title);

    // "csv", "unified", "protocol", "res2dinv"; nullopt for anything else.
    static std::optional<TExportFormat> FormatOf(const QString &name);
    static QString NameOf(TExportFormat format);
    // With its dot: ".csv", ".ohm", ".dat".
    static QString ExtensionOf(TExportFormat format);
    static QStringList FormatNames();

    QByteArray Export(TExportFormat format) const;

    const std::vector<TPosition> &Electrodes() const { return Positions; }
    static bool IsRemote(const TPosition &p);
    static TPosition Position(const TDataRecord &r, int electrode); // 0 A, 1 B, 2 M, 3 N
    // K from the four positions, remote electrodes contributing nothing; 0
    // when the geometry gives none.
    static double GeometricFactor(const TDataRecord &r);

private:
    QByteArray Csv() const;
    QByteArray Unified() const;
    QByteArray Protocol() const;
    QByteArray Res2dinv() const;
    // 1-based number in Positions, 0 for a remote electrode.
    int Number(const TPosition &p) const;

    const std::vector<TDataRecord> &Records;
    QString Title;
    std::vector<TPosition> Positions;
    std::vector<TPosition> Remotes;
};

struct TExportResult {
    qint64 Records = 0;
    qint64 TornBytes = 0; // a partial last record left out
};

// Reads dataFile and writes its export to outPath ("-" for the standard
// output); the target is replaced only once the whole export is written.
// Raises ETarnelError with the file's name and the reason.
TExportResult ExportDataFile(const QString &dataFile, TExportFormat format, const QString &outPath);
// dataFile with the format's extension in place of its own.
QString DefaultExportPath(const QString &dataFile, TExportFormat format);
