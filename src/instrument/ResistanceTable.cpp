#include "instrument/ResistanceTable.h"

#include "base/TextCodec.h"
#include "instrument/ConfigFile.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cmath>

const char *TResistanceTable::StatusName(TElectrodeHealth::TStatus s)
{
    return s == TElectrodeHealth::High ? "high" : s == TElectrodeHealth::Skipped ? "skipped" : "ok";
}

void TResistanceTable::AddPair(const TElectrodeHealth &a, const TElectrodeHealth &b, float kOhm, float maximum,
                               bool skipped)
{
    for (const TElectrodeHealth &e : {a, b}) {
        auto it = std::find_if(Electrodes.begin(), Electrodes.end(),
                               [&e](const TElectrodeHealth &x) { return x.Number == e.Number; });
        if (it == Electrodes.end()) {
            Electrodes.push_back(e);
            it = Electrodes.end() - 1;
            it->KOhm = kOhm;
        } else if (!(kOhm >= it->KOhm)) {
            it->KOhm = kOhm;
        } else {
            continue; // an earlier pair already showed it lower
        }
        it->Status = !(it->KOhm > maximum) ? TElectrodeHealth::Ok
                     : skipped              ? TElectrodeHealth::Skipped
                                            : TElectrodeHealth::High;
    }
}

void TResistanceTable::Keep(const TResistanceTable &earlier)
{
    for (const TElectrodeHealth &e : earlier.Electrodes)
        if (std::none_of(Electrodes.begin(), Electrodes.end(),
                         [&e](const TElectrodeHealth &x) { return x.Number == e.Number; }))
            Electrodes.push_back(e);
    std::stable_sort(Electrodes.begin(), Electrodes.end(),
                     [](const TElectrodeHealth &a, const TElectrodeHealth &b) { return a.Number < b.Number; });
}

QString TResistanceTable::FileFor(const QString &dataFile)
{
    QString base = dataFile;
    if (base.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive))
        base.chop(4);
    return base + QStringLiteral("_Resistance.csv");
}

QByteArray TResistanceTable::Text() const
{
    QByteArray out = "electrode,x,y,z,kohm,status\r\n";
    for (const TElectrodeHealth &e : Electrodes)
        out += QStringLiteral("%1,%2,%3,%4,%5,%6\r\n")
                   .arg(e.Number)
                   .arg(TConfigFile::FloatText(float(e.X)), TConfigFile::FloatText(float(e.Y)),
                        TConfigFile::FloatText(float(e.Z)), TConfigFile::FloatText(e.KOhm),
                        QLatin1String(StatusName(e.Status)))
                   .toLatin1();
    return out;
}

QString TResistanceTable::Read(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return f.errorString();
    Electrodes.clear();
    int line = 0;
    while (!f.atEnd()) {
        ++line;
        const QString text = QString::fromLatin1(f.readLine()).trimmed();
        if (text.isEmpty() || (line == 1 && text.startsWith(QLatin1String("electrode"))))
            continue;
        const QStringList cells = text.split(QLatin1Char(','));
        bool ok = cells.size() == 6;
        TElectrodeHealth e;
        double v[5] = {};
        for (int i = 0; ok && i < 5; ++i)
            v[i] = ParseFileReal(cells[i], &ok);
        // Electrode numbers are whole and small; anything else is no table of ours.
        ok = ok && v[0] >= 0 && v[0] <= 1e6 && v[0] == std::floor(v[0]);
        const QString status = ok ? cells[5].trimmed() : QString();
        ok = ok && (status == QLatin1String("ok") || status == QLatin1String("high") ||
                    status == QLatin1String("skipped"));
        if (!ok) {
            Electrodes.clear();
            return QStringLiteral("line %1 is not \"electrode,x,y,z,kohm,status\"").arg(line);
        }
        e.Number = int(v[0]);
        e.X = v[1];
        e.Y = v[2];
        e.Z = v[3];
        e.KOhm = float(v[4]);
        e.Status = status == QLatin1String("ok")     ? TElectrodeHealth::Ok
                   : status == QLatin1String("high") ? TElectrodeHealth::High
                                                     : TElectrodeHealth::Skipped;
        Electrodes.push_back(e);
    }
    return {};
}

std::vector<std::array<float, 3>> TResistanceTable::BadPositions() const
{
    // Rounded as the quality control compares positions.
    const auto r = [](double v) { return std::round(float(v) * 1000.0f) / 1000.0f; };
    std::vector<std::array<float, 3>> out;
    for (const TElectrodeHealth &e : Electrodes)
        if (e.Bad())
            out.push_back({r(e.X), r(e.Y), r(e.Z)});
    return out;
}
