#include "EarthModel.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

double Dist(const TEarthModel::TPoint &p, const TEarthModel::TPoint &q)
{
    return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
}

// Electrodes closer than this are taken as one point: no finite potential there.
constexpr double MinDistance = 1e-6;

} // namespace

QString TEarthModel::Parse(const QString &text)
{
    const qsizetype colon = text.indexOf(':');
    const QString kind = text.left(colon);
    std::vector<double> v;
    for (const QString &s : text.mid(colon + 1).split(',')) {
        bool ok = false;
        const double d = s.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(d))
            return QStringLiteral("bad --model: %1 is not a number").arg(s);
        v.push_back(d);
    }
    if (colon < 0)
        return QStringLiteral("bad --model");
    if (kind == "homogeneous" && v.size() == 1 && v[0] > 0) {
        Kind = TKind::Homogeneous;
        Rho1 = Rho2 = v[0];
    } else if (kind == "layered" && v.size() >= 3 && v.size() % 2 == 1 &&
               std::all_of(v.begin(), v.end(), [](double d) { return d > 0; })) {
        Kind = v.size() == 3 ? TKind::Layered : TKind::MultiLayer;
        Rho1 = v[0];
        Thickness = v[1];
        Rho2 = v[2];
        LayerRho.clear();
        LayerH.clear();
        for (std::size_t i = 0; i < v.size(); ++i)
            (i % 2 ? LayerH : LayerRho).push_back(v[i]);
        Cache.clear();
    } else if (kind == "layered") {
        return QStringLiteral("bad --model: layered takes RHO1,H1,RHO2[,H2,RHO3...] (positive)");
    } else if (kind == "anomaly" && v.size() == 5 && v[0] > 0 && v[1] > 0 && v[4] >= 0) {
        Rho1 = v[0];
        Rho2 = v[1];
        BodyX = v[2];
        BodyZ = v[3];
        Radius = v[4];
        Kind = Radius > 0 ? TKind::Sphere : TKind::Homogeneous;
        if (Radius > 0 && BodyZ <= Radius)
            return QStringLiteral("bad --model: the sphere must lie below the surface (Z > RADIUS)");
    } else {
        return QStringLiteral("bad --model");
    }
    return {};
}

double TEarthModel::Potential(const TPoint &s, const TPoint &p) const
{
    const double r = std::max(MinDistance, Dist(s, p));
    const double primary = Rho1 / (2 * M_PI * r);
    if (Kind == TKind::Homogeneous)
        return primary;
    if (Kind == TKind::MultiLayer)
        return LayeredPotential(r);
    if (Kind == TKind::Layered) {
        // Image series of a two-layer earth: images of the source at depths
        // 2nh, weighted k^n, k = (rho2 - rho1) / (rho2 + rho1).
        const double k = (Rho2 - Rho1) / (Rho2 + Rho1);
        double sum = 0, kn = 1;
        for (int n = 1; n < 100000; ++n) {
            kn *= k;
            const double term = kn / std::hypot(r, 2 * n * Thickness);
            sum += term;
            if (std::abs(kn) < 1e-16 || std::abs(term) < 1e-17 / r)
                break;
        }
        return primary + Rho1 / M_PI * sum;
    }
    // A sphere in the primary field of the source, taken as uniform over the
    // body and answered by a dipole at its centre; the free surface doubles the
    // dipole's potential at surface points (its image above the ground).
    const TPoint c{BodyX, 0, -BodyZ};
    const double rc = std::max(MinDistance, Dist(s, c));
    const double e0 = Rho1 / (2 * M_PI * rc * rc * rc); // E0 = e0 * (c - s)
    const double contrast = (Rho1 - Rho2) / (Rho1 + 2 * Rho2);
    const double rp = std::max(MinDistance, Dist(p, c));
    double dot = 0;
    for (int i = 0; i < 3; ++i)
        dot += (c[i] - s[i]) * (p[i] - c[i]);
    return primary + 2 * contrast * Radius * Radius * Radius * e0 * dot / (rp * rp * rp);
}

double TEarthModel::LayeredPotential(double r) const
{
    // Rounded to a micrometre: the same electrode pair always gives the same value.
    const double key = std::round(r * 1e6) / 1e6;
    if (const auto it = Cache.find(key); it != Cache.end())
        return it->second;
    const double v = BesselIntegral(std::max(key, MinDistance), LayerRho, LayerH);
    Cache.emplace(key, v);
    return v;
}

double TEarthModel::BesselIntegral(double r, const std::vector<double> &rho, const std::vector<double> &h)
{
    // Resistivity transform at the surface, by the recurrence from the bottom
    // half-space up: T = (T' + ρ t) / (1 + T' t / ρ), t = tanh(λ h).
    const auto transform = [&](double lambda) {
        double t = rho.back();
        for (std::size_t i = h.size(); i-- > 0;) {
            const double th = std::tanh(lambda * h[i]);
            t = (t + rho[i] * th) / (1 + t * th / rho[i]);
        }
        return t;
    };
    // T - ρ1 falls as exp(-2λ h1): the top layer's own 1/r term is taken
    // exactly and the rest integrated to where it has vanished.
    double depth = 0;
    for (double d : h)
        depth += d;
    const double lambdaMax = 20 / h.front();
    const double step = std::min(M_PI / r, 0.5 / depth);
    // Gauss-Legendre, 8 points, on each step (about half a period of J0 at most).
    static constexpr double X[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267, 0.9602898564975363};
    static constexpr double W[4] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745, 0.1012285362903763};
    double sum = 0;
    for (double lo = 0; lo < lambdaMax; lo += step) {
        const double mid = lo + step / 2, half = step / 2;
        for (int k = 0; k < 4; ++k)
            for (double sign : {-1.0, 1.0}) {
                const double lambda = mid + sign * half * X[k];
                sum += W[k] * half * (transform(lambda) - rho.front()) * std::cyl_bessel_j(0.0, lambda * r);
            }
    }
    return (rho.front() / r + sum) / (2 * M_PI);
}

double TEarthModel::Resistance(const TPoint *a, const TPoint *b, const TPoint *m, const TPoint *n) const
{
    double v = 0;
    for (auto [src, sign] : {std::pair{a, 1.0}, std::pair{b, -1.0}}) {
        if (!src)
            continue;
        if (m)
            v += sign * Potential(*src, *m);
        if (n)
            v -= sign * Potential(*src, *n);
    }
    return v;
}

double TEarthModel::GeometricFactor(const TPoint *a, const TPoint *b, const TPoint *m, const TPoint *n)
{
    auto inv = [](const TPoint *p, const TPoint *q) {
        return p && q ? 1 / std::max(MinDistance, Dist(*p, *q)) : 0.0;
    };
    const double g = inv(a, m) - inv(b, m) - inv(a, n) + inv(b, n);
    return std::abs(g) > 1e-12 ? 2 * M_PI / g : 0;
}

double TEarthModel::Chargeability(const TPoint *a, const TPoint *b, const TPoint *m, const TPoint *n) const
{
    if (Kind != TKind::Sphere || MBody == MBackground)
        return MBackground;
    // Seigel: Rho_a is homogeneous of degree one in the resistivities, so the
    // weights sum to one; only the body's weight is needed, by a small step.
    const double r0 = Resistance(a, b, m, n);
    if (r0 == 0)
        return MBackground;
    TEarthModel stepped = *this;
    const double eps = 1e-4;
    stepped.Rho2 *= 1 + eps;
    const double w = (stepped.Resistance(a, b, m, n) - r0) / r0 / eps;
    return MBackground + (MBody - MBackground) * w;
}
