#pragma once
// A dipole-dipole line written as a data file with the program's own writer,
// for the comparisons of one acquisition with another.
#include "instrument/DataFile.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <vector>

struct TLineSurvey {
    // Electrodes every metre along a line that runs neither along x nor y,
    // so that "x" must be the distance along it.
    static constexpr int Electrodes = 24;
    static constexpr int Levels = 6;
    static constexpr float Dx = 0.6f, Dy = 0.8f;

    struct TQuad {
        int A, B, M, N; // 0-based electrode places
    };
    std::vector<TQuad> Quads;

    TLineSurvey()
    {
        for (int n = 1; n <= Levels; ++n)
            for (int i = 0; i + 2 + n < Electrodes; ++i)
                Quads.push_back({i, i + 1, i + 1 + n, i + 2 + n});
    }
    int IndexOf(int i, int n) const
    {
        for (std::size_t q = 0; q < Quads.size(); ++q)
            if (Quads[q].A == i && Quads[q].M == i + 1 + n)
                return int(q);
        return -1;
    }
    static void Place(TDataRecord &r, int e, int at)
    {
        r.Coords[std::size_t(e)] = Dx * float(at);
        r.Coords[std::size_t(4 + e)] = Dy * float(at);
        r.Coords[std::size_t(8 + e)] = 0;
    }
    // Every reading at rho Ohm.m, good by the default quality limits.
    std::vector<TDataRecord> Records(float rho, double day) const
    {
        std::vector<TDataRecord> out;
        for (const TQuad &q : Quads) {
            TDataRecord r;
            r.Ten = 10;
            r.Version = 3;
            r.One = 1;
            Place(r, 0, q.A);
            Place(r, 1, q.B);
            Place(r, 2, q.M);
            Place(r, 3, q.N);
            r.In = 100;
            r.Vp = 50;
            r.Q = 0.2f;
            r.Rho = rho;
            r.Date = day;
            out.push_back(r);
        }
        return out;
    }
    static void Write(const QString &path, const std::vector<TDataRecord> &records)
    {
        WriteDataFileHeader(path, "Dike line", QDateTime::currentDateTime());
        AppendDataRecords(path, records);
    }
};
