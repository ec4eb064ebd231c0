#pragma once
// Compares later acquisitions of one survey with a baseline acquisition:
// readings are paired by the positions of their four electrodes, the change
// of each pair is 100 (Rho / Rho_base - 1) %, and readings that quality
// control flags in either file stay out of the statistics (counted). The
// alarm looks for a patch of changed readings in the pseudo-section rather
// than a count over the whole survey, so that scattered noise raises none.
#include "instrument/DataRecord.h"
#include "instrument/QualityControl.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

// The [Alarm] section of a configuration file.
struct TAlarmSettings {
    QString Baseline;                 // data file; relative to the configuration's folder
    double MaxChange = 10;            // %, either sign
    int MinCount = 5;                 // readings
    double Radius = 0;                // m in the pseudo-section; 0: twice the smallest electrode spacing
    std::optional<double> MaxFlagged; // % of the readings of one acquisition; none: not judged
    QString Command;

    // Reads [Alarm] of an INI file; keys not there keep their defaults. False
    // with the reason for a file that cannot be read or a value out of range.
    static bool Read(const QString &path, TAlarmSettings &out, QString *error);
};

struct TTimeLapseReading {
    enum TStatus { Paired, LeftOut, Unpaired };
    TStatus Status = Unpaired;
    int Record = 0;                 // index in the later file
    int BaseRecord = -1;            // index in the baseline; -1: no reading at those electrodes
    unsigned Flags = 0, BaseFlags = 0;
    std::array<int, 4> Electrodes{}; // a b m n; 0 for a remote electrode
    double X = 0, Y = 0, Depth = 0;  // pseudo-section point: midpoint and pseudo-depth, m
    double Along = 0;                // distance of the midpoint along the line (X when not a line)
    double Rho = 0;
    double Change = 0;               // %, Paired only
    double Date = 0;                 // days since 1899-12-30
};

struct TTimeLapseResult {
    std::vector<TTimeLapseReading> Readings; // one per record of the later file, in file order
    int Paired = 0;
    int LeftOut = 0;       // paired but flagged (or not finite) in either file
    int Unpaired = 0;      // no baseline reading at the same electrodes
    int BaseUnmatched = 0; // baseline readings no later reading paired with
    int Flagged = 0;       // flagged readings of the later file
    double Median = 0, P95 = 0; // of the changes; P95 of their absolute values
    int Beyond = 0;        // |change| above the threshold
    double Threshold = 0;
    double Time = 0;       // first record's date

    double FlaggedPercent() const { return Readings.empty() ? 0 : 100.0 * Flagged / double(Readings.size()); }
};

struct TTimeLapseAlarm {
    enum TKind { None, Change, Flagged };
    TKind Kind = None;
    int Count = 0;           // Change: readings in the patch
    double X = 0, Depth = 0; // Change: the reading the patch is centred on
    double Largest = 0;      // Change: the largest change in the patch, %
    double Radius = 0;       // the radius used
    double FlaggedPercent = 0;
};

class TTimeLapse {
public:
    using TPoint = TQualityControl::TPoint;
    // Electrodes more than this apart are different electrodes.
    static constexpr double Tolerance = 0.001;

    TTimeLapse(std::vector<TDataRecord> baseline, TQualitySettings settings = {}, std::vector<TPoint> badElectrodes = {});

    // Pairs a later acquisition with the baseline; its own bad electrodes
    // (from its resistance check) flag its readings.
    TTimeLapseResult Compare(const std::vector<TDataRecord> &later, double threshold,
                             const std::vector<TPoint> &badElectrodes = {}) const;

    // Radius the alarm uses with these settings.
    double AlarmRadius(const TAlarmSettings &settings) const;
    // The first alarm condition met, or None. A flagged share above
    // MaxFlagged wins: the changes of a file that bad are not to be trusted.
    TTimeLapseAlarm Evaluate(const TTimeLapseResult &result, const TAlarmSettings &settings) const;

    const std::vector<TDataRecord> &Baseline() const { return Base; }
    // Smallest distance between two baseline electrodes (remote ones left out); 0 when fewer than two.
    double MinSpacing() const { return Spacing; }
    // ISO 8601 local date and time of a day number; empty for none.
    static QString IsoTime(double days);

private:
    TQualitySettings Settings;
    std::vector<TDataRecord> Base;
    std::vector<unsigned> BaseFlags;
    std::vector<int> ByX;               // baseline indexes sorted by the x of A
    std::vector<TPoint> Electrodes;     // baseline electrodes in numbered order
    std::vector<double> AlongOf;        // distance along the line of each, when a line
    bool Line = false;
    double Spacing = 0;

    int Number(const TPoint &p, std::vector<TPoint> &extra) const;
    double AlongLine(const TDataRecord &r) const;
};
