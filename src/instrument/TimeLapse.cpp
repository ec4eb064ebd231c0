#include "instrument/TimeLapse.h"

#include "base/IniDocument.h"
#include "base/TextCodec.h"
#include "instrument/DataExporter.h"
#include "instrument/LineLayout.h"
#include "survey/Geometry.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using TPoint = TTimeLapse::TPoint;

TPoint PositionOf(const TDataRecord &r, int e)
{
    return {r.Coords[std::size_t(e)], r.Coords[std::size_t(4 + e)], r.Coords[std::size_t(8 + e)]};
}

bool IsRemote(const TPoint &p)
{
    return TDataExporter::IsRemote(p);
}

double Distance(const TPoint &a, const TPoint &b)
{
    const double dx = double(a[0]) - b[0], dy = double(a[1]) - b[1], dz = double(a[2]) - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// A hair above the tolerance: positions went through float, and 1 mm written
// as two float coordinates may come out a few nanometres longer.
bool Near(const TPoint &a, const TPoint &b)
{
    return Distance(a, b) <= TTimeLapse::Tolerance * (1 + 1e-4);
}

bool SameElectrodes(const TDataRecord &a, const TDataRecord &b)
{
    for (int e = 0; e < 4; ++e)
        if (!Near(PositionOf(a, e), PositionOf(b, e)))
            return false;
    return true;
}

std::vector<unsigned> Judge(const std::vector<TDataRecord> &records, const TQualitySettings &settings,
                            const std::vector<TPoint> &bad)
{
    TQualityControl qc(settings);
    qc.SetBadElectrodes(bad);
    for (const TDataRecord &r : records)
        qc.Add(r);
    // Read after the last record: a later reciprocal also flags the earlier reading.
    std::vector<unsigned> flags(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        flags[i] = qc.FlagsOf(int(i));
    return flags;
}

bool ReadReal(const TIniDocument &ini, const char *key, double &out, double min, QString *error)
{
    const auto text = ini.Value(QStringLiteral("Alarm"), QLatin1String(key));
    if (!text || text->trimmed().isEmpty())
        return true;
    bool ok = false;
    const double v = ParseFileReal(text->trimmed(), &ok);
    if (!ok || !std::isfinite(v) || v < min) {
        if (error)
            *error = QStringLiteral("[Alarm] %1=%2 is not a number of at least %3").arg(QLatin1String(key), *text).arg(min);
        return false;
    }
    out = v;
    return true;
}

} // namespace

bool TAlarmSettings::Read(const QString &path, TAlarmSettings &out, QString *error)
{
    TIniDocument ini;
    if (!ini.Load(path, error))
        return false;
    TAlarmSettings s;
    if (const auto base = ini.Value(QStringLiteral("Alarm"), QStringLiteral("Baseline")); base && !base->isEmpty())
        s.Baseline = QFileInfo(*base).isAbsolute() ? *base : QFileInfo(path).dir().filePath(*base);
    s.Command = ini.Value(QStringLiteral("Alarm"), QStringLiteral("Command")).value_or(QString());
    double minCount = s.MinCount, flagged = -1;
    if (!ReadReal(ini, "MaxChange", s.MaxChange, 0, error) || !ReadReal(ini, "MinCount", minCount, 1, error) ||
        !ReadReal(ini, "Radius", s.Radius, 0, error) || !ReadReal(ini, "MaxFlagged", flagged, 0, error))
        return false;
    if (minCount != std::floor(minCount) || minCount > 1e6) {
        if (error)
            *error = QStringLiteral("[Alarm] MinCount must be a whole number of readings");
        return false;
    }
    s.MinCount = int(minCount);
    if (flagged >= 0)
        s.MaxFlagged = flagged;
    out = s;
    return true;
}

TTimeLapse::TTimeLapse(std::vector<TDataRecord> baseline, TQualitySettings settings, std::vector<TPoint> badElectrodes)
    : Settings(settings), Base(std::move(baseline))
{
    BaseFlags = Judge(Base, settings, badElectrodes);
    ByX.resize(Base.size());
    for (std::size_t i = 0; i < Base.size(); ++i)
        ByX[i] = int(i);
    std::stable_sort(ByX.begin(), ByX.end(), [this](int a, int b) { return Base[std::size_t(a)].Coords[0] < Base[std::size_t(b)].Coords[0]; });

    // The electrodes, numbered as the exports number them: along the line when
    // they form one, else by x, y, z.
    std::vector<TPoint> distinct;
    for (const TDataRecord &r : Base)
        for (int e = 0; e < 4; ++e)
            if (const TPoint p = PositionOf(r, e);
                !IsRemote(p) && std::none_of(distinct.begin(), distinct.end(), [&](const TPoint &q) { return Near(p, q); }))
                distinct.push_back(p);
    TLineLayout layout(distinct);
    Line = layout.IsLine() && !distinct.empty();
    if (Line) {
        Electrodes = layout.Ordered();
        AlongOf = layout.Distances();
    } else {
        Electrodes = distinct;
        std::sort(Electrodes.begin(), Electrodes.end());
    }
    double smallest = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < distinct.size(); ++i)
        for (std::size_t j = i + 1; j < distinct.size(); ++j)
            smallest = std::min(smallest, Distance(distinct[i], distinct[j]));
    Spacing = std::isfinite(smallest) ? smallest : 0;
}

int TTimeLapse::Number(const TPoint &p, std::vector<TPoint> &extra) const
{
    if (IsRemote(p))
        return 0;
    for (std::size_t i = 0; i < Electrodes.size(); ++i)
        if (Near(p, Electrodes[i]))
            return int(i) + 1;
    // An electrode the baseline does not have: numbered after its electrodes.
    for (std::size_t i = 0; i < extra.size(); ++i)
        if (Near(p, extra[i]))
            return int(Electrodes.size() + i) + 1;
    extra.push_back(p);
    return int(Electrodes.size() + extra.size());
}

double TTimeLapse::AlongLine(const TDataRecord &r) const
{
    ElectrodeCoords along = r.Coords;
    for (int e = 0; e < 4; ++e) {
        const TPoint p = PositionOf(r, e);
        if (IsRemote(p))
            continue;
        const auto it = std::find_if(Electrodes.begin(), Electrodes.end(), [&](const TPoint &q) { return Near(p, q); });
        if (!Line || it == Electrodes.end())
            return MidPoint(r.Coords, AxisX);
        along[std::size_t(AxisX + e)] = float(AlongOf[std::size_t(it - Electrodes.begin())]);
    }
    return MidPoint(along, AxisX);
}

TTimeLapseResult TTimeLapse::Compare(const std::vector<TDataRecord> &later, double threshold,
                                     const std::vector<TPoint> &badElectrodes) const
{
    TTimeLapseResult out;
    out.Threshold = threshold;
    out.Time = later.empty() ? 0 : later.front().Date;
    const std::vector<unsigned> flags = Judge(later, Settings, badElectrodes);
    std::vector<bool> used(Base.size(), false);
    std::vector<TPoint> extra;
    std::vector<double> changes;
    out.Readings.reserve(later.size());
    for (std::size_t i = 0; i < later.size(); ++i) {
        const TDataRecord &r = later[i];
        TTimeLapseReading t;
        t.Record = int(i);
        t.Flags = flags[i];
        t.Rho = r.Rho;
        t.Date = r.Date;
        t.X = MidPoint(r.Coords, AxisX);
        t.Y = MidPoint(r.Coords, AxisY);
        t.Depth = PseudoDepth(r.Coords);
        t.Along = AlongLine(r);
        for (int e = 0; e < 4; ++e)
            t.Electrodes[std::size_t(e)] = Number(PositionOf(r, e), extra);
        if (t.Flags)
            ++out.Flagged;
        // The earliest unused baseline reading at the same electrodes: a
        // survey measured twice pairs first with first, second with second.
        const float x = r.Coords[0];
        auto it = std::lower_bound(ByX.begin(), ByX.end(), x - 2 * Tolerance,
                                   [this](int b, double v) { return Base[std::size_t(b)].Coords[0] < v; });
        int best = -1;
        for (; it != ByX.end() && Base[std::size_t(*it)].Coords[0] <= x + 2 * Tolerance; ++it)
            if (!used[std::size_t(*it)] && (best < 0 || *it < best) && SameElectrodes(r, Base[std::size_t(*it)]))
                best = *it;
        if (best < 0) {
            ++out.Unpaired;
            out.Readings.push_back(t);
            continue;
        }
        used[std::size_t(best)] = true;
        t.BaseRecord = best;
        t.BaseFlags = BaseFlags[std::size_t(best)];
        const double base = Base[std::size_t(best)].Rho;
        const double change = 100.0 * (double(r.Rho) / base - 1.0);
        if (t.Flags || t.BaseFlags || !std::isfinite(change)) {
            t.Status = TTimeLapseReading::LeftOut;
            ++out.LeftOut;
        } else {
            t.Status = TTimeLapseReading::Paired;
            t.Change = change;
            ++out.Paired;
            changes.push_back(change);
            if (std::abs(change) > threshold)
                ++out.Beyond;
        }
        out.Readings.push_back(t);
    }
    out.BaseUnmatched = int(std::count(used.begin(), used.end(), false));
    out.Median = TQualityControl::Percentile(changes, 50);
    for (double &c : changes)
        c = std::abs(c);
    out.P95 = TQualityControl::Percentile(changes, 95);
    return out;
}

double TTimeLapse::AlarmRadius(const TAlarmSettings &settings) const
{
    return settings.Radius > 0 ? settings.Radius : 2 * Spacing;
}

TTimeLapseAlarm TTimeLapse::Evaluate(const TTimeLapseResult &result, const TAlarmSettings &settings) const
{
    TTimeLapseAlarm alarm;
    alarm.Radius = AlarmRadius(settings);
    alarm.FlaggedPercent = result.FlaggedPercent();
    if (settings.MaxFlagged && alarm.FlaggedPercent > *settings.MaxFlagged) {
        alarm.Kind = TTimeLapseAlarm::Flagged;
        return alarm;
    }
    std::vector<const TTimeLapseReading *> changed;
    for (const TTimeLapseReading &r : result.Readings)
        if (r.Status == TTimeLapseReading::Paired && std::abs(r.Change) > settings.MaxChange)
            changed.push_back(&r);
    // A patch: the changed readings within Radius of one of them.
    const double r2 = alarm.Radius * alarm.Radius * (1 + 1e-9);
    for (const TTimeLapseReading *c : changed) {
        int count = 0;
        double largest = 0;
        for (const TTimeLapseReading *o : changed) {
            const double dx = o->X - c->X, dy = o->Y - c->Y, dz = o->Depth - c->Depth;
            if (dx * dx + dy * dy + dz * dz <= r2) {
                ++count;
                if (std::abs(o->Change) > std::abs(largest))
                    largest = o->Change;
            }
        }
        if (count >= settings.MinCount && count > alarm.Count) {
            alarm.Kind = TTimeLapseAlarm::Change;
            alarm.Count = count;
            alarm.X = c->Along;
            alarm.Depth = c->Depth;
            alarm.Largest = largest;
        }
    }
    return alarm;
}

QString TTimeLapse::IsoTime(double days)
{
    if (days == 0.0 || !std::isfinite(days) || std::fabs(days) > 3e6)
        return {};
    // The stored number is local wall-clock time: no zone arithmetic.
    const qint64 seconds = std::llround(days * 86400.0);
    const qint64 day = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const int second = int(seconds - day * 86400);
    return QDate(1899, 12, 30).addDays(day).toString(Qt::ISODate) + QLatin1Char('T') +
           QTime(0, 0).addSecs(second).toString(QStringLiteral("HH:mm:ss"));
}
