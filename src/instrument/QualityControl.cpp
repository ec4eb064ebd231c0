#include "instrument/QualityControl.h"

#include "instrument/ConfigFile.h"

#include <algorithm>
#include <cmath>
#include <numbers>

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
                                           "bad_electrode", "no-geometry"};
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

bool TQualityControl::IsRemote(const TPoint &p)
{
    return std::fabs(double(p[0])) >= 99999.0 || std::fabs(double(p[1])) >= 99999.0;
}

double TQualityControl::GeometricFactor(const TDataRecord &r)
{
    TPoint p[4];
    for (int e = 0; e < 4; ++e) {
        p[e] = {r.Coords[std::size_t(e)], r.Coords[std::size_t(4 + e)], r.Coords[std::size_t(8 + e)]};
        if (!std::isfinite(p[e][0]) || !std::isfinite(p[e][1]) || !std::isfinite(p[e][2]))
            return 0.0;
    }
    // +1/AM -1/BM -1/AN +1/BN; a term with a remote electrode is 0, and an
    // electrode used twice in one term gives no geometry at all.
    bool degenerate = false;
    const auto term = [&degenerate](const TPoint &a, const TPoint &b) {
        if (IsRemote(a) || IsRemote(b))
            return 0.0;
        const double d = std::hypot(double(a[0]) - double(b[0]), double(a[1]) - double(b[1]),
                                    double(a[2]) - double(b[2]));
        if (!(d > 0))
            degenerate = true;
        return d > 0 ? 1.0 / d : 0.0;
    };
    const double am = term(p[0], p[2]), bm = term(p[1], p[2]), an = term(p[0], p[3]), bn = term(p[1], p[3]);
    const double g = am - bm - an + bn;
    // Null coupling leaves only the rounding of the four terms.
    if (degenerate || !std::isfinite(g) || std::fabs(g) <= 1e-9 * (am + bm + an + bn))
        return 0.0;
    return 2.0 * std::numbers::pi / g;
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
    // Without a geometric factor Rho means nothing: that is the fault, not Rho.
    if (GeometricFactor(r) == 0.0)
        f |= NoGeometry;
    else if (!(r.Rho > 0))
        f |= BadRho;
    TKey key;
    for (int e = 0; e < 4; ++e)
        key[e] = Rounded(r.Coords[e], r.Coords[4 + e], r.Coords[8 + e]);
    for (const TPoint &p : key)
        if (std::find(Bad.begin(), Bad.end(), p) != Bad.end())
            f |= BadElectrode;
    const double resistance = r.In != 0 ? double(r.Vp) / r.In : 0;
    const double m = std::isfinite(r.M) && r.M != 0.0f ? double(r.M) : std::nan("");
    // The reciprocal of (A,B,M,N) injects on M,N and measures on A,B, in
    // either polarity of each pair: the sign of R follows the wiring, |R| does not.
    const TKey recips[4] = {{key[2], key[3], key[0], key[1]},
                            {key[3], key[2], key[1], key[0]},
                            {key[3], key[2], key[0], key[1]},
                            {key[2], key[3], key[1], key[0]}};
    bool paired = false;
    for (const TKey &k : recips) {
        const auto it = Seen.find(k);
        if (it == Seen.end())
            continue;
        const double r1 = std::abs(it->second.R), r2 = std::abs(resistance), mean = (r1 + r2) / 2;
        const double diff = std::abs(r1 - r2);
        const double err = mean > 0 ? 100 * diff / mean : 200;
        Errors.push_back(err);
        TPair pair;
        pair.R = mean;
        pair.RelError = err / 100;
        if (std::isfinite(it->second.M) && std::isfinite(m))
            pair.MDiff = std::abs(it->second.M - m);
        if (mean > 0 && std::isfinite(mean) && std::isfinite(diff))
            Pairs.push_back(pair);
        if (err > Settings.MaxReciprocalError) {
            f |= Reciprocal;
            unsigned &earlier = Flags[it->second.Index];
            if (!earlier)
                Count(Keys[it->second.Index]);
            earlier |= Reciprocal;
        }
        Pair = int(it->second.Index);
        Seen.erase(it);
        paired = true;
        break;
    }
    if (!paired)
        Seen[key] = {resistance, m, Flags.size()};
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
        if (!IsRemote(key[e]) && std::find(key.begin(), key.begin() + e, key[e]) == key.begin() + e)
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

namespace {
struct TSample {
    double R, Error;
};

// Consecutive bins of equal counts along |R|: MinPerBin pairs each when
// there are enough (a bin's mean is then more than one pair's luck), yet at
// least MinBins, so that a few pairs far apart in |R| are not one mean.
constexpr std::size_t MaxBins = 20, MinBins = 4, MinPerBin = 5;

TQualityControl::TErrorModel Fit(std::vector<TSample> samples, double floor)
{
    TQualityControl::TErrorModel model;
    model.Floor = floor;
    if (samples.size() < 2)
        return model;
    std::sort(samples.begin(), samples.end(), [](const TSample &a, const TSample &b) { return a.R < b.R; });
    const std::size_t n = samples.size();
    const std::size_t bins = std::clamp<std::size_t>(n / MinPerBin, std::min(n, MinBins), MaxBins);
    for (std::size_t b = 0; b < bins; ++b) {
        const std::size_t from = b * n / bins, to = (b + 1) * n / bins;
        TQualityControl::TErrorModel::TBin bin;
        bin.Low = samples[from].R;
        bin.High = samples[to - 1].R;
        for (std::size_t i = from; i < to; ++i) {
            bin.MeanR += samples[i].R;
            bin.MeanError += samples[i].Error * samples[i].Error;
        }
        bin.Pairs = int(to - from);
        bin.MeanR /= bin.Pairs;
        // Root mean square: the spread of the differences, which a few good
        // pairs in a bin cannot talk down as they would a plain mean.
        bin.MeanError = std::sqrt(bin.MeanError / bin.Pairs);
        model.Bins.push_back(bin);
    }
    // err = P + Q x with x = 1 / |R|, least squares over the bins relative to
    // the fitted error (strong and weak readings count alike; weights from
    // the bins' own errors would favour the bins that came out low), P and Q
    // held at 0 when the free fit would make them negative.
    double p = 0, q = 0;
    for (int pass = 0; pass < 4; ++pass) {
        double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (const auto &bin : model.Bins) {
            const double x = 1.0 / bin.MeanR, y = bin.MeanError;
            const double f = p + q * x;
            const double w = pass == 0 ? 1.0 : f > 0 ? 1.0 / (f * f) : 0.0;
            sw += w;
            sx += w * x;
            sy += w * y;
            sxx += w * x * x;
            sxy += w * x * y;
        }
        if (!(sw > 0))
            break;
        const double det = sw * sxx - sx * sx;
        p = sy / sw;
        q = 0;
        if (det > 1e-12 * sw * sxx) {
            q = (sw * sxy - sx * sy) / det;
            p = (sy - q * sx) / sw;
        }
        if (p < 0) {
            p = 0;
            q = sxx > 0 ? sxy / sxx : 0;
        }
        if (q < 0) {
            q = 0;
            p = sy / sw;
        }
        if (!(p + q > 0))
            break;
    }
    model.P = std::max(p, 0.0);
    model.Q = std::max(q, 0.0);
    return model;
}
} // namespace

double TQualityControl::TErrorModel::Fitted(double absR) const
{
    return absR > 0 ? P + Q / absR : P;
}

double TQualityControl::TErrorModel::Observed(double absR) const
{
    if (Bins.empty())
        return 0;
    // The bin that holds |R| (or the nearest one) and its neighbours: a bin
    // of a few pairs may come out low by chance, its neighbours less likely all.
    std::size_t i = 0;
    while (i + 1 < Bins.size() && absR > Bins[i].High)
        ++i;
    double error = Bins[i].MeanError;
    if (i > 0)
        error = std::max(error, Bins[i - 1].MeanError);
    if (i + 1 < Bins.size())
        error = std::max(error, Bins[i + 1].MeanError);
    return error;
}

double TQualityControl::TErrorModel::Error(double absR) const
{
    return std::max({Fitted(absR), Observed(absR), Floor});
}

TQualityControl::TErrorModel TQualityControl::ResistanceModel() const
{
    std::vector<TSample> samples;
    for (const TPair &p : Pairs)
        samples.push_back({p.R, p.RelError});
    return Fit(samples, RelativeFloor);
}

TQualityControl::TErrorModel TQualityControl::ChargeabilityModel() const
{
    std::vector<TSample> samples;
    for (const TPair &p : Pairs)
        if (p.MDiff >= 0)
            samples.push_back({p.R, p.MDiff});
    return Fit(samples, 0.0);
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
