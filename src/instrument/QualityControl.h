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
    };
    static constexpr int FlagCount = 6;
    static const char *FlagName(int bit);
    static QString FlagNames(unsigned flags); // joined by '|'

    using TPoint = std::array<float, 3>;

    explicit TQualityControl(TQualitySettings settings = {}) : Settings(settings) {}
    void SetSettings(const TQualitySettings &s) { Settings = s; }
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
    // err = A + B |R| by least squares over the pairs; false without two pairs.
    bool ErrorModel(double &a, double &b) const;
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
    std::map<TKey, std::pair<double, std::size_t>> Seen; // R and record index
    std::vector<double> Errors, PairR, PairDiff;
    std::map<TPoint, int> ElectrodeFlagged;
};
