#include "instrument/QualityControl.h"

#include "instrument/ConfigFile.h"

#include <algorithm>
#include <cmath>

namespace {

// Positions compared to the millimetre: coordinates pass through float.
TQualityControl::TPoint Rounded(float x, float y, float z)
{
    auto r = [](float v) { return std::round(v * 1000.0f) / 1000.0f; };
    return {r(x), r(y), r(z)};
}

} // namespace

const char *TQualityControl::FlagName(int bit)
{
    static const char *names[FlagCount] = {"high_q", "low_current", "low_voltage", "bad_rho", "reciprocal",
                                           "bad_electrode"};
    return bit >= 0 && bit < FlagCount ? names[bit] : "";
}

QString TQualityControl::FlagNames(unsigned flags)
{
    QStringList out;
    for (int b = 0; b < FlagCount; ++b)
        if (flags & (1u << b))
            out << FlagName(b);
    return out.join('|');
}

TQualitySettings TQualitySettings::FromConfig(const TConfigValues &values)
{
    TQualitySettings s;
    s.MaxQ = double(values.Start.CrenEt);
    s.MinIn = double(values.Quality.MinCurrent);
    s.MinVp = double(values.Quality.MinVoltage);
    s.MaxReciprocalError = double(values.Quality.MaxReciprocalError);
    return s;
}

unsigned TQualityControl::Add(const TDataRecord &r)
{
    unsigned f = 0;
    Pair = -1;
    if (Settings.MaxQ > 0 && !(r.Q <= Settings.MaxQ))
        f |= HighQ;
    if (!(std::abs(r.In) >= Settings.MinIn))
        f |= LowCurrent;
    if (!(std::abs(r.Vp) >= Settings.MinVp))
        f |= LowVoltage;
    if (!(r.Rho > 0))
        f |= BadRho;
    TKey key;
    for (int e = 0; e < 4; ++e)
        key[e] = Rounded(r.Coords[e], r.Coords[4 + e], r.Coords[8 + e]);
    for (const TPoint &p : key)
        if (std::find(Bad.begin(), Bad.end(), p) != Bad.end())
            f |= BadElectrode;
    const double resistance = r.In != 0 ? double(r.Vp) / r.In : 0;
    // (M,N,A,B) and (N,M,B,A) are the reciprocals of (A,B,M,N).
    const TKey recips[2] = {{key[2], key[3], key[0], key[1]}, {key[3], key[2], key[1], key[0]}};
    bool paired = false;
    for (const TKey &k : recips) {
        const auto it = Seen.find(k);
        if (it == Seen.end())
            continue;
        const double r1 = it->second.first, mean = std::abs(r1 + resistance) / 2;
        const double diff = std::abs(r1 - resistance);
        const double err = mean > 0 ? 100 * diff / mean : 200;
        Errors.push_back(err);
        PairR.push_back(mean);
        PairDiff.push_back(diff);
        if (err > Settings.MaxReciprocalError) {
            f |= Reciprocal;
            unsigned &earlier = Flags[it->second.second];
            if (!earlier)
                Count(Keys[it->second.second]);
            earlier |= Reciprocal;
        }
        Pair = int(it->second.second);
        Seen.erase(it);
        paired = true;
        break;
    }
    if (!paired)
        Seen[key] = {resistance, Flags.size()};
    Flags.push_back(f);
    Keys.push_back(key);
    if (f)
        Count(key);
    return f;
}

void TQualityControl::Count(const TKey &key)
{
    // An electrode used twice in one record counts once; remote electrodes are no electrode of the line.
    for (int e = 0; e < 4; ++e)
        if (key[e][0] < 99999 && key[e][1] < 99999 && std::find(key.begin(), key.begin() + e, key[e]) == key.begin() + e)
            ++ElectrodeFlagged[key[e]];
}

int TQualityControl::Flagged() const
{
    return int(std::count_if(Flags.begin(), Flags.end(), [](unsigned f) { return f != 0; }));
}

int TQualityControl::Count(int bit) const
{
    return int(std::count_if(Flags.begin(), Flags.end(), [bit](unsigned f) { return f & (1u << bit); }));
}

bool TQualityControl::ErrorModel(double &a, double &b) const
{
    const std::size_t n = PairR.size();
    if (n < 2)
        return false;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sx += PairR[i];
        sy += PairDiff[i];
        sxx += PairR[i] * PairR[i];
        sxy += PairR[i] * PairDiff[i];
    }
    const double det = n * sxx - sx * sx;
    if (std::abs(det) < 1e-30) {
        a = sy / n;
        b = 0;
        return true;
    }
    b = (n * sxy - sx * sy) / det;
    a = (sy - b * sx) / n;
    return true;
}

std::vector<std::pair<TQualityControl::TPoint, int>> TQualityControl::WorstElectrodes(std::size_t count) const
{
    std::vector<std::pair<TPoint, int>> v(ElectrodeFlagged.begin(), ElectrodeFlagged.end());
    std::stable_sort(v.begin(), v.end(), [](const auto &x, const auto &y) { return x.second > y.second; });
    if (v.size() > count)
        v.resize(count);
    return v;
}

double TQualityControl::Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const double pos = p / 100 * double(v.size() - 1);
    const std::size_t i = std::size_t(pos);
    const double frac = pos - double(i);
    return i + 1 < v.size() ? v[i] * (1 - frac) + v[i + 1] * frac : v.back();
}
