#pragma once
// Judges each record as it arrives: flags for noisy, weak or impossible
// readings and the disagreement of reciprocal pairs; the summary of a survey.
#include "instrument/DataRecord.h"

struct TConfigValues;

#include <QString>
#include <QStringList>

#include <array>
#include <map>
#include <vector>

struct TQualitySettings {
    double MaxQ = 1;               // %; 0: no limit (the instrument stacks to its maximum)
    double MinIn = 1;              // mA
    double MinVp = 0.01;           // mV, absolute value
    double MaxReciprocalError = 5; // %
    double MaxResistance = 0;      // kOhm; 0: no resistance check known

    // Q max of the acquisition parameters, the floors and the reciprocal
    // limit of [Quality]: the window, the run and `qc` judge alike.
    static TQualitySettings FromConfig(const TConfigValues &values);
};

class TQualityControl {
public:
    enum TFlag : unsigned {
        HighQ = 1u << 0,
        LowCurrent = 1u << 1,
        LowVoltage = 1u << 2,
        BadRho = 1u << 3,
        Reciprocal = 1u << 4,
        BadElectrode = 1u << 5,
        NoGeometry = 1u << 6,
    };
    static constexpr int FlagCount = 7;
    static const char *FlagName(int bit);
    static QString FlagNames(unsigned flags); // joined by '|'

    using TPoint = std::array<float, 3>;

    // K from the four positions, remote electrodes (|x| or |y| at 99999 or
    // more) contributing nothing; 0 when the geometry gives none: the
    // potential electrodes null-coupled, or an electrode used twice.
    static double GeometricFactor(const TDataRecord &r);
    static bool IsRemote(const TPoint &p);

    // The error of a reading as its reciprocals show it, from the pairs binned
    // by |R| (consecutive bins of equal counts): err(|R|) = P + Q / |R| with P
    // and Q never negative, fitted to the bins' errors (root mean square of
    // the pairs), and never below the error of the bin |R| falls in (or the
    // nearest) and of its two neighbours, nor below Floor. For the resistance
    // P is the relative term and Q the absolute term in ohm (err relative);
    // for the chargeability both are mV/V.
    struct TErrorModel {
        struct TBin {
            double Low = 0, High = 0; // |R| range of the pairs, ohm
            double MeanR = 0;         // ohm
            double MeanError = 0;     // root mean square: relative for R, mV/V for M
            int Pairs = 0;
        };
        double P = 0, Q = 0;
        double Floor = 0;
        std::vector<TBin> Bins;
        bool Valid() const { return !Bins.empty(); }
        double Fitted(double absR) const;
        double Observed(double absR) const;
        // What an export writes: the largest of the fit, the bin and the floor.
        double Error(double absR) const;
    };
    // The smallest relative error written for a resistance: a reading that
    // reciprocals show exact still gets some error, or an inversion gives it
    // infinite weight.
    static constexpr double RelativeFloor = 0.001;

    explicit TQualityControl(TQualitySettings settings = {}) : Settings(settings) {}
    // Electrodes (by position) found above the maximum by the resistance check.
    void SetBadElectrodes(std::vector<TPoint> bad) { Bad = std::move(bad); }

    // Flags of the next record; pairs it with an earlier reciprocal.
    unsigned Add(const TDataRecord &r);

    int Records() const { return int(Flags.size()); }
    unsigned FlagsOf(int record) const { return record >= 0 && record < Records() ? Flags[std::size_t(record)] : 0u; }
    // The earlier record the last one was paired with as its reciprocal; -1: none.
    int LastPair() const { return Pair; }
    int Flagged() const;
    int Count(int bit) const;
    // Reciprocal errors (%) of every pair found, and |R| mean and |R1 - R2| of each.
    const std::vector<double> &ReciprocalErrors() const { return Errors; }
    // Resistance error; invalid without two pairs.
    TErrorModel ResistanceModel() const;
    // Chargeability error (mV/V, absolute); invalid without two pairs that
    // both carry a chargeability.
    TErrorModel ChargeabilityModel() const;
    // Electrodes by the number of flagged records using them, most first.
    std::vector<std::pair<TPoint, int>> WorstElectrodes(std::size_t count) const;
    static double Percentile(std::vector<double> v, double p);

private:
    using TKey = std::array<TPoint, 4>;
    TQualitySettings Settings;
    std::vector<TPoint> Bad;
    std::vector<unsigned> Flags;
    int Pair = -1;
    std::vector<TKey> Keys;
    void Count(const TKey &key);
    struct TSeen {
        double R = 0, M = 0;
        std::size_t Index = 0;
    };
    std::map<TKey, TSeen> Seen;
    struct TPair {
        double R = 0, RelError = 0; // mean |R|, |R1 - R2| / mean
        double MDiff = -1;          // |M1 - M2|; -1 without both chargeabilities
    };
    std::vector<double> Errors;
    std::vector<TPair> Pairs;
    std::map<TPoint, int> ElectrodeFlagged;
};
