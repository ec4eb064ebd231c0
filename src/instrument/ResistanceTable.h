#pragma once
// The electrodes' contact resistances of the last check, kept beside the data
// file as FILE_Resistance.csv: what the Resistance page plots and what the
// quality control takes as bad electrodes.
#include <QString>

#include <array>
#include <vector>

struct TElectrodeHealth {
    enum TStatus { Ok, High, Skipped };
    int Number = 0;
    double X = 0, Y = 0, Z = 0; // as the survey holds them (float)
    float KOhm = 0;
    TStatus Status = Ok;
    bool Bad() const { return Status != Ok; }
};

class TResistanceTable {
public:
    std::vector<TElectrodeHealth> Electrodes;

    // The reading of one electrode pair: each electrode keeps the lowest of
    // its pairs (a pair adds both contacts, so the lowest bounds each one),
    // judged against the maximum.
    void AddPair(const TElectrodeHealth &a, const TElectrodeHealth &b, float kOhm, float maximum, bool skipped);

    // Adds the electrodes of earlier that this table has not measured.
    void Keep(const TResistanceTable &earlier);

    static QString FileFor(const QString &dataFile); // out.bin -> out_Resistance.csv
    QByteArray Text() const;
    // Empty string on success, else why the file cannot be read.
    QString Read(const QString &path);
    std::vector<std::array<float, 3>> BadPositions() const;
    static const char *StatusName(TElectrodeHealth::TStatus s);
};
