#pragma once
// Converts the records of an acquisition data file into the text formats of
// the processing tools. Electrodes are identified by position; a remote
// electrode (|x| or |y| at 99999 or more) takes no place on the line. When the
// electrodes form one line they are numbered along it from the end the survey
// starts at (its lowest field electrode number when the numbers are known,
// else the end nearest the first measured quadripole), otherwise by field
// number or by x, y, z.
#include "instrument/DataRecord.h"
#include "instrument/LineLayout.h"
#include "instrument/QualityControl.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <vector>

enum class TExportFormat { Csv, Unified, Protocol, Res2dinv };

// What the unified format's ip column holds: the format reads ip as a phase
// in mrad, which a chargeability in mV/V is not.
enum class TIpColumn { None, Chargeability, Phase };

struct TExportOptions {
    bool Line = false;                 // unified: along-line distance and elevation
    TIpColumn Ip = TIpColumn::None;    // unified's ip column
    double PhasePerChargeability = 0;  // mrad per mV/V, with TIpColumn::Phase
    bool Reverse = false;              // number from the other end (the other way round)
    // The field electrode numbers by position (a survey's coordinates, the
    // resistance check's table); used when they name every electrode.
    std::vector<std::pair<std::array<float, 3>, int>> Numbers;
    QString NumbersFrom; // where they come from, for the messages
};

// How the records are judged (csv's qc column, unified's err column);
// ExportDataFile adds the bad electrodes of FILE_Resistance.csv.
struct TExportQuality {
    TQualitySettings Settings;
    std::vector<std::array<float, 3>> BadElectrodes;
};

struct TExportText {
    QByteArray Text;
    qint64 Written = 0; // records in the text
    qint64 LeftOut = 0; // records without a current, with Rho <= 0 or no geometry
    QByteArray Electrodes; // the electrode list written beside a protocol file
};

class TDataExporter {
public:
    using TPosition = std::array<float, 3>;

    // title: the first line of the Res2DInv file.
    TDataExporter(const std::vector<TDataRecord> &records, QString title, TExportOptions options = {},
                  const TExportQuality &quality = {});

    // "csv", "unified", "protocol", "res2dinv"; nullopt for anything else.
    static std::optional<TExportFormat> FormatOf(const QString &name);
    static QString NameOf(TExportFormat format);
    // With its dot: ".csv", ".ohm", ".dat".
    static QString ExtensionOf(TExportFormat format);
    static QStringList FormatNames();

    // Raises ETarnelError when the survey cannot be written in that format
    // (no record, every electrode remote, a grid for a 2-D format).
    TExportText Export(TExportFormat format) const;
    // label,x,y,z,remote (and the distance along a line) and the field
    // number of every electrode the protocol export numbers, remote ones
    // included.
    QByteArray ProtocolElectrodes() const;
    // True when the field numbers of the options name every electrode.
    bool FieldNumbered() const { return Numbered; }
    // The field number of a position; -1 when unknown.
    int FieldNumber(const TPosition &p) const;
    // How the electrodes were numbered, for the user.
    QString Numbering() const;

    const std::vector<TPosition> &Electrodes() const { return Positions; }
    const TLineLayout &Layout() const { return Line; }
    static bool IsRemote(const TPosition &p);
    static TPosition Position(const TDataRecord &r, int electrode); // 0 A, 1 B, 2 M, 3 N
    // K from the four positions, remote electrodes contributing nothing; 0
    // when the geometry gives none.
    static double GeometricFactor(const TDataRecord &r);
    // A record the inversion programs can use: a current, a positive Rho and
    // a geometric factor.
    static bool Usable(const TDataRecord &r);
    // Fixed notation with a decimal point and the digits a float needs.
    static QByteArray Real(double v);

    // One column of a table export: its name (with the unit) and its cell for
    // record number index. A new column is one more entry in the lists.
    struct TColumn {
        QByteArray Name;
        std::function<QByteArray(const TDataRecord &, std::size_t index)> Cell;
    };
    std::vector<TColumn> CsvColumns() const;
    // The data columns of the unified format, named by its tokens.
    std::vector<TColumn> UnifiedColumns() const;

private:
    TExportText Csv() const;
    TExportText Unified() const;
    TExportText Protocol() const;
    TExportText Res2dinv() const;
    void RequireElectrodes() const;
    void RequireLine(const QString &format) const;
    // 1-based number of a non-remote electrode.
    int Number(const TPosition &p) const;
    // Remote electrodes in the protocol file: one number for a remote current
    // electrode and another for a remote potential electrode, each at a
    // place of its own far out.
    int ProtocolNumber(const TPosition &p, bool current) const;
    // Where a remote electrode is written: on the line's extension, the
    // current one before the first electrode and the potential one past the
    // last; for a grid, on either side of its centre.
    TPosition RemotePlace(bool current, double *distance) const;
    void Orient();

    const std::vector<TDataRecord> &Records;
    // Quality flags of each record, and the error models of the reciprocals.
    std::vector<unsigned> QcFlags;
    TQualityControl::TErrorModel RModel, MModel;
    QString Title;
    TExportOptions Options;
    std::vector<TPosition> Positions; // numbered order
    std::map<TPosition, int> Index;   // 0-based place in Positions
    std::map<TPosition, int> Fields;  // field numbers, positions to the millimetre
    bool Numbered = false;
    bool FirstRecordOrdered = false;  // a line turned by the first measured quadripole
    int RemoteCurrent = 0, RemotePotential = 0; // protocol numbers, 0: none
    TLineLayout Line;
};

struct TExportResult {
    qint64 Records = 0;   // records in the data file
    qint64 Written = 0;   // records in the export
    qint64 LeftOut = 0;
    qint64 TornBytes = 0; // a partial or zero-filled tail left out
    QString ElectrodesPath; // beside a protocol export
    QString Numbering;      // how the electrodes were numbered
    QString Warning;        // something left out of the judgement, said but not fatal
};

class TSequence;
// The field numbers of the electrodes a survey's coordinates define, for
// TExportOptions::Numbers.
std::vector<std::pair<std::array<float, 3>, int>> FieldNumbersOf(const TSequence &survey);

// Reads dataFile and writes its export to outPath ("-" for the standard
// output) through the safe writer. An output that is the data file itself
// (by device and inode) is refused, and so is an existing output unless
// overwrite is set. Raises ETarnelError with the file's name and the reason;
// nothing is written then.
TExportResult ExportDataFile(const QString &dataFile, TExportFormat format, const QString &outPath,
                             bool overwrite = false, const TExportOptions &options = {},
                             const TExportQuality &quality = {});
// Beside the data file: FILE.csv, FILE.ohm, FILE_protocol.dat, FILE_res2dinv.dat.
QString DefaultExportPath(const QString &dataFile, TExportFormat format);
// The electrode list written beside a protocol export: FILE_electrodes.csv
// beside FILE_protocol.dat, OUT_electrodes.csv beside any other OUT.dat, and
// beside the data file when the export goes to the standard output.
QString ElectrodesPathFor(const QString &dataFile, const QString &outPath);
// True when both paths name one existing file (symbolic links followed).
bool SameFile(const QString &a, const QString &b);
