#include "EarthModel.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

double Dist(const TEarthModel::TPoint &p, const TEarthModel::TPoint &q)
{
    return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
}

// Electrodes closer than this are taken as one point: no finite potential there.
constexpr double MinDistance = 1e-6;
// Terms the two-layer image series may take; sharper contrasts go to the integral.
constexpr int MaxImages = 100000;

// Gauss-Kronrod 7-15: nodes, Kronrod weights, Gauss weights of the odd nodes.
constexpr double XGK[8] = {0.991455371120812639206854697526329, 0.949107912342758524526189684047851,
                           0.864864423359769072789712788640926, 0.741531185599394439863864773280788,
                           0.586087235467691130294144845693013, 0.405845151377397166906606412076961,
                           0.207784955007898467600689403773245, 0.0};
constexpr double WGK[8] = {0.022935322010529224963732008058970, 0.063092092629978553290700663189204,
                           0.104790010322250183839876322541518, 0.140653259715525918745189590510238,
                           0.169004726639267902826583426598550, 0.190350578064785409913256402421014,
                           0.204432940075298892414161999234649, 0.209482141084727828012999174891714};
constexpr double WG[4] = {0.129484966168869693270611432679082, 0.279705391489276667901467771423780,
                          0.381830050505118944950369775488975, 0.417959183673469387755102040816327};

// Adaptive Gauss-Kronrod on [a, b] to an absolute tolerance; a piece stops
// halving once its error is at the rounding level of what it sums.
template <class F>
double Integrate(const F &f, double a, double b, double tol, int depth = 0)
{
    const double c = (a + b) / 2, h = (b - a) / 2;
    const double fc = f(c);
    double kronrod = fc * WGK[7], gauss = fc * WG[3], magnitude = std::abs(fc) * WGK[7];
    for (int j = 0; j < 7; ++j) {
        const double x = h * XGK[j];
        const double f1 = f(c - x), f2 = f(c + x);
        kronrod += WGK[j] * (f1 + f2);
        magnitude += WGK[j] * (std::abs(f1) + std::abs(f2));
        if (j % 2 == 1)
            gauss += WG[j / 2] * (f1 + f2);
    }
    const double error = std::abs((kronrod - gauss) * h);
    if (error <= tol || error <= 1e-14 * magnitude * std::abs(h) || depth >= 20)
        return kronrod * h;
    return Integrate(f, a, c, tol / 2, depth + 1) + Integrate(f, c, b, tol / 2, depth + 1);
}

// The k-th positive zero of J0 (k >= 1): the first exactly, then McMahon's expansion.
double J0Zero(int k)
{
    static constexpr double First[5] = {2.404825557695773, 5.520078110286311, 8.653727912911013, 11.79153443901428,
                                        14.93091770848779};
    if (k <= 5)
        return First[k - 1];
    const double b = (k - 0.25) * M_PI, i = 1 / b, i2 = i * i;
    return b + i * (1.0 / 8 - i2 * (31.0 / 384 - i2 * (3779.0 / 15360 - i2 * 6277237.0 / 3440640)));
}

// Wynn's epsilon algorithm over the partial sums of an alternating series.
class TEpsilon {
public:
    double Add(double partial)
    {
        E.push_back(partial);
        const std::size_t n = E.size() - 1;
        double aux2 = 0;
        for (std::size_t j = n; j >= 1; --j) {
            const double aux1 = aux2;
            aux2 = E[j - 1];
            const double diff = E[j] - aux2;
            E[j - 1] = std::abs(diff) < 1e-300 ? 1e300 : aux1 + 1 / diff;
        }
        const double estimate = n % 2 == 0 ? E[0] : E[1];
        // A column that met equal sums has converged: the sum itself is the answer.
        return std::isfinite(estimate) && std::abs(estimate) < 1e100 ? estimate : partial;
    }
    std::size_t Size() const { return E.size(); }

private:
    std::vector<double> E;
};

// ∫0^∞ K(λ) J0(λr) dλ for a kernel that is smooth in ln λ, bounded by kMax
// and falls off at large λ, to about tol.
template <class F>
double HankelJ0(const F &kernel, double r, double tol, double kMax)
{
    // Below eps the kernel's part is below the tolerance whatever its shape.
    const double eps = 1e-2 * tol / std::max(kMax, 1e-300);
    const double first = J0Zero(1) / r;
    double sum = 0;
    // Up to the first zero J0 does not oscillate; the kernel's features (a
    // resistive basement is felt only at very small λ) are even in ln λ.
    const double u0 = std::log(eps), u1 = std::log(first);
    if (u1 > u0) {
        const auto g = [&](double u) {
            const double lambda = std::exp(u);
            return kernel(lambda) * ::j0(lambda * r) * lambda;
        };
        const int pieces = std::max(1, int(std::ceil((u1 - u0) / 2)));
        for (int p = 0; p < pieces; ++p)
            sum += Integrate(g, u0 + (u1 - u0) * p / pieces, u0 + (u1 - u0) * (p + 1) / pieces, tol / pieces);
    }
    // Half periods of J0 alternate in sign; their sum converges slowly when the
    // kernel falls slowly, so the partial sums are extrapolated.
    const auto f = [&](double lambda) { return kernel(lambda) * ::j0(lambda * r); };
    TEpsilon epsilon;
    epsilon.Add(sum);
    double previous = NAN, beforePrevious = NAN;
    constexpr int Extrapolated = 60, MaxPanels = 200000;
    for (int k = 1; k < MaxPanels; ++k) {
        const double term = Integrate(f, J0Zero(k) / r, J0Zero(k + 1) / r, tol * 1e-2);
        sum += term;
        if (k > 3 && std::abs(term) < tol * 1e-3)
            return sum;
        if (k > Extrapolated)
            continue;
        const double estimate = epsilon.Add(sum);
        if (k >= 4 && std::abs(estimate - previous) < tol && std::abs(previous - beforePrevious) < tol)
            return estimate;
        beforePrevious = previous;
        previous = estimate;
    }
    return sum;
}

// The resistivity transform at the surface by the recurrence from the bottom
// half-space up, T = (T' + ρ t) / (1 + T' t / ρ), t = tanh(λ h).
double Transform(double lambda, const std::vector<double> &rho, const std::vector<double> &h)
{
    double t = rho.back();
    for (std::size_t i = h.size(); i-- > 0;) {
        const double th = std::tanh(lambda * h[i]);
        t = (t + rho[i] * th) / (1 + t * th / rho[i]);
    }
    return t;
}

// d T / d ρ_of, carried up the same recurrence.
double TransformDerivative(double lambda, const std::vector<double> &rho, const std::vector<double> &h,
                           std::size_t of)
{
    double t = rho.back();
    double d = of == rho.size() - 1 ? 1 : 0;
    for (std::size_t i = h.size(); i-- > 0;) {
        const double th = std::tanh(lambda * h[i]);
        const double den = 1 + t * th / rho[i];
        const double next = (t + rho[i] * th) / den;
        // d next / d t' carries a deeper layer's change up; this layer's own
        // resistivity enters the numerator and the denominator.
        d = d * (1 - next * th / rho[i]) / den;
        if (i == of)
            d += (th + next * t * th / (rho[i] * rho[i])) / den;
        t = next;
    }
    return d;
}

// The scale of the potential at r: the transform where J0 weighs most.
double PotentialScale(double r, const std::vector<double> &rho, const std::vector<double> &h)
{
    return std::min({Transform(0.3 / r, rho, h), Transform(1 / r, rho, h), Transform(3 / r, rho, h)}) / r;
}

// Transfer resistance of A B M N from a potential of the distance; with
// magnitude, the sum of the terms' sizes instead.
template <class F>
double Combine(const TEarthModel::TPoint *a, const TEarthModel::TPoint *b, const TEarthModel::TPoint *m,
               const TEarthModel::TPoint *n, const F &potential, bool magnitude = false)
{
    double v = 0;
    for (auto [src, sign] : {std::pair{a, 1.0}, std::pair{b, -1.0}}) {
        for (auto [to, side] : {std::pair{m, 1.0}, std::pair{n, -1.0}}) {
            if (!src || !to)
                continue;
            const double term = potential(std::max(MinDistance, Dist(*src, *to)));
            v += magnitude ? std::abs(term) : sign * side * term;
        }
    }
    return v;
}

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
    Cache.clear();
    DerivativeCache.clear();
    LayerRho.clear();
    LayerH.clear();
    if (kind == "homogeneous" && v.size() == 1 && v[0] > 0) {
        Kind = TKind::Homogeneous;
        Rho1 = Rho2 = v[0];
        LayerRho = {v[0]};
    } else if (kind == "layered" && v.size() >= 3 && v.size() % 2 == 1 &&
               std::all_of(v.begin(), v.end(), [](double d) { return d > 0; })) {
        Rho1 = v[0];
        Thickness = v[1];
        Rho2 = v[2];
        for (std::size_t i = 0; i < v.size(); ++i)
            (i % 2 ? LayerH : LayerRho).push_back(v[i]);
        // The image series needs |k|^n to vanish within its terms; a sharper
        // contrast is integrated like more layers.
        const double k = std::abs((Rho2 - Rho1) / (Rho2 + Rho1));
        const bool imagesConverge = k == 0 || std::log(1e-16) / std::log(k) < MaxImages;
        Kind = v.size() == 3 && imagesConverge ? TKind::Layered : TKind::MultiLayer;
    } else if (kind == "layered") {
        return QStringLiteral("bad --model: layered takes RHO1,H1,RHO2[,H2,RHO3...] (positive)");
    } else if (kind == "anomaly" && v.size() == 5 && v[0] > 0 && v[1] > 0 && v[4] >= 0) {
        Rho1 = v[0];
        Rho2 = v[1];
        BodyX = v[2];
        BodyZ = v[3];
        Radius = v[4];
        LayerRho = {v[0]};
        Kind = Radius > 0 ? TKind::Sphere : TKind::Homogeneous;
        if (Radius > 0 && BodyZ <= Radius)
            return QStringLiteral("bad --model: the sphere must lie below the surface (Z > RADIUS)");
    } else {
        return QStringLiteral("bad --model");
    }
    LayerM.assign(LayerRho.size(), MBackground);
    return {};
}

QString TEarthModel::SetChargeability(const std::vector<double> &values)
{
    if (values.empty() || !std::all_of(values.begin(), values.end(), [](double m) { return std::isfinite(m); }))
        return QStringLiteral("bad --chargeability");
    const bool layered = Kind == TKind::Layered || Kind == TKind::MultiLayer;
    if (values.size() == 1) {
        MBackground = MBody = values[0];
        LayerM.assign(LayerRho.size(), values[0]);
        return {};
    }
    if (layered) {
        if (values.size() != LayerRho.size())
            return QStringLiteral("bad --chargeability: the model has %1 layers: give one value or %1")
                .arg(LayerRho.size());
        LayerM = values;
        MBackground = values[0];
        MBody = values.back();
        return {};
    }
    if (values.size() != 2)
        return QStringLiteral("bad --chargeability: give M, or BG,BODY");
    MBackground = values[0];
    MBody = values[1];
    LayerM.assign(LayerRho.size(), MBackground);
    return {};
}

double TEarthModel::Potential(const TPoint &s, const TPoint &p) const
{
    const double r = std::max(MinDistance, Dist(s, p));
    const double primary = Rho1 / (2 * M_PI * r);
    if (Kind == TKind::Homogeneous)
        return primary;
    if (Kind == TKind::MultiLayer)
        return LayeredPotentialCached(r);
    if (Kind == TKind::Layered) {
        // Image series of a two-layer earth: images of the source at depths
        // 2nh, weighted k^n, k = (rho2 - rho1) / (rho2 + rho1).
        const double k = (Rho2 - Rho1) / (Rho2 + Rho1);
        double sum = 0, kn = 1;
        for (int n = 1; n < MaxImages; ++n) {
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

double TEarthModel::LayeredPotentialCached(double r) const
{
    // Rounded to a micrometre: the same electrode pair always gives the same value.
    const double key = std::round(r * 1e6) / 1e6;
    if (const auto it = Cache.find(key); it != Cache.end())
        return it->second;
    const double v = LayeredPotential(std::max(key, MinDistance), LayerRho, LayerH);
    Cache.emplace(key, v);
    return v;
}

double TEarthModel::LayeredPotential(double r, const std::vector<double> &rho, const std::vector<double> &h)
{
    const auto [lo, hi] = std::minmax_element(rho.begin(), rho.end());
    const double kMax = std::max(std::abs(*hi - rho.front()), std::abs(*lo - rho.front()));
    const auto kernel = [&](double lambda) { return Transform(lambda, rho, h) - rho.front(); };
    const double integral = HankelJ0(kernel, r, 1e-12 * PotentialScale(r, rho, h), kMax);
    return (rho.front() / r + integral) / (2 * M_PI);
}

const std::vector<double> &TEarthModel::LayerDerivatives(double r) const
{
    const double key = std::round(r * 1e6) / 1e6;
    if (const auto it = DerivativeCache.find(key); it != DerivativeCache.end())
        return it->second;
    const double at = std::max(key, MinDistance);
    std::vector<double> d(LayerRho.size());
    const double scale = PotentialScale(at, LayerRho, LayerH);
    for (std::size_t i = 0; i < d.size(); ++i) {
        // The top layer's own 1/r is exact, as in the potential.
        const double top = i == 0 ? 1.0 : 0.0;
        const auto kernel = [&](double lambda) { return TransformDerivative(lambda, LayerRho, LayerH, i) - top; };
        d[i] = (top / at + HankelJ0(kernel, at, 1e-11 * scale / LayerRho[i], 1.0)) / (2 * M_PI);
    }
    return DerivativeCache.emplace(key, std::move(d)).first->second;
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
    if (Kind == TKind::Layered || Kind == TKind::MultiLayer) {
        if (std::all_of(LayerM.begin(), LayerM.end(), [&](double x) { return x == LayerM.front(); }))
            return LayerM.front();
        // Rho_a is homogeneous of degree one in the resistivities, so the
        // weights ρ_i dR/dρ_i / R sum to one; a null coupling has none.
        const double r0 = Resistance(a, b, m, n);
        const double terms = Combine(a, b, m, n, [](double r) { return 1 / r; }, true);
        if (!(std::abs(r0) > 1e-9 * terms * LayerRho.front()))
            return LayerM.front();
        double sum = 0;
        for (std::size_t i = 0; i < LayerM.size(); ++i) {
            const double dr = Combine(a, b, m, n, [&](double r) { return LayerDerivatives(r)[i]; });
            sum += LayerM[i] * LayerRho[i] * dr / r0;
        }
        return sum;
    }
    if (Kind != TKind::Sphere || MBody == MBackground)
        return MBackground;
    // Seigel: only the body's weight is needed, by a small step.
    const double r0 = Resistance(a, b, m, n);
    if (r0 == 0)
        return MBackground;
    TEarthModel stepped = *this;
    const double eps = 1e-4;
    stepped.Rho2 *= 1 + eps;
    const double w = (stepped.Resistance(a, b, m, n) - r0) / r0 / eps;
    return MBackground + (MBody - MBackground) * w;
}
