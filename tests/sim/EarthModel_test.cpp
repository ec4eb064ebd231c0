#include "sim/EarthModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <vector>

namespace {

using P = TEarthModel::TPoint;

double Rho(const TEarthModel &e, const P *a, const P *b, const P *m, const P *n)
{
    return TEarthModel::GeometricFactor(a, b, m, n) * e.Resistance(a, b, m, n);
}

TEarthModel Model(const QString &text)
{
    TEarthModel e;
    EXPECT_EQ(e.Parse(text), QString());
    return e;
}

// Reference potentials by brute force, sharing nothing with the model's own
// quadrature: (1/2π) [ρ1/r + ∫ (T(λ) - ρ1) J0(λr) dλ], adaptive Simpson on
// every half period of J0 up to where the kernel has died out.
class TReference {
public:
    TReference(std::vector<double> rho, std::vector<double> h) : RhoL(std::move(rho)), H(std::move(h)) {}
    double Potential(double r)
    {
        if (const auto it = Done.find(r); it != Done.end())
            return it->second;
        double kMax = 0, rhoMin = RhoL[0];
        for (double x : RhoL) {
            kMax = std::max(kMax, std::abs(x - RhoL[0]));
            rhoMin = std::min(rhoMin, x);
        }
        // T - ρ1 falls as e^(-2λ h1) at the most.
        const double lambdaMax = std::log(2 * kMax / (1e-13 * rhoMin)) / (2 * H[0]);
        const auto f = [&](double l) { return (Transform(l) - RhoL[0]) * std::cyl_bessel_j(0.0, l * r); };
        double sum = 0;
        for (double lo = 0; lo < lambdaMax; lo += M_PI / r) {
            const double hi = std::min(lambdaMax, lo + M_PI / r);
            const double fa = f(lo), fm = f((lo + hi) / 2), fb = f(hi);
            sum += Simpson(f, lo, hi, fa, fm, fb, (hi - lo) / 6 * (fa + 4 * fm + fb), 1e-16 * kMax * (hi - lo), 0);
        }
        return Done[r] = (RhoL[0] / r + sum) / (2 * M_PI);
    }

private:
    double Transform(double l) const
    {
        // Each layer seen from its top: ρ (T_below + ρ tanh λh) / (ρ + T_below tanh λh).
        double t = RhoL.back();
        for (std::size_t i = H.size(); i-- > 0;) {
            const double th = std::tanh(l * H[i]);
            t = RhoL[i] * (t + RhoL[i] * th) / (RhoL[i] + t * th);
        }
        return t;
    }
    static double Simpson(const std::function<double(double)> &f, double a, double b, double fa, double fm, double fb,
                          double whole, double tol, int depth)
    {
        const double m = (a + b) / 2, lm = f((a + m) / 2), rm = f((m + b) / 2);
        const double left = (m - a) / 6 * (fa + 4 * lm + fm), right = (b - m) / 6 * (fm + 4 * rm + fb);
        if (depth > 40 || std::abs(left + right - whole) <= 15 * tol)
            return left + right + (left + right - whole) / 15;
        return Simpson(f, a, m, fa, lm, fm, left, tol / 2, depth + 1) +
               Simpson(f, m, b, fm, rm, fb, right, tol / 2, depth + 1);
    }
    std::vector<double> RhoL, H;
    std::map<double, double> Done;
};

} // namespace

TEST(EarthModel, HomogeneousGivesItsResistivityForEveryArray)
{
    const TEarthModel e = Model("homogeneous:123.4");
    const P x0{0, 0, 0}, x1{1, 0, 0}, x2{2, 0, 0}, x3{3, 0, 0}, x7{7, 0, 0};
    const P g1{0, 0, 0}, g2{3, 4, 0}, g3{-2, 5, 0.5}, g4{6, -1, 0.2};
    struct Case { const char *name; const P *a, *b, *m, *n; } cases[] = {
        {"pole-pole", &x0, nullptr, &x1, nullptr},
        {"pole-dipole", &x0, nullptr, &x2, &x3},
        {"dipole-dipole", &x0, &x1, &x3, &x7},
        {"wenner", &x0, &x3, &x1, &x2},
        {"schlumberger", &x0, &x7, &x3, &x2},
        {"3-D grid", &g1, &g2, &g3, &g4},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(Rho(e, c.a, c.b, c.m, c.n), 123.4, 1e-9) << c.name;
}

TEST(EarthModel, TwoLayerWennerMatchesTheImageSeries)
{
    for (double rho2 : {10.0, 1000.0}) {
        const TEarthModel e = Model(QString("layered:100,5,%1").arg(rho2));
        const double k = (rho2 - 100) / (rho2 + 100);
        for (double a : {1.0, 5.0, 20.0, 80.0}) {
            const P pa{0, 0, 0}, pm{a, 0, 0}, pn{2 * a, 0, 0}, pb{3 * a, 0, 0};
            double sum = 0;
            for (int n = 1; n < 5000; ++n) {
                const double t = 2 * n * 5 / a;
                sum += std::pow(k, n) * (1 / std::sqrt(1 + t * t) - 1 / std::sqrt(4 + t * t));
            }
            const double expected = 100 * (1 + 4 * sum);
            EXPECT_NEAR(Rho(e, &pa, &pb, &pm, &pn), expected, 1e-9 * expected) << rho2 << " a=" << a;
        }
        // Short spacings see the top layer, long ones the lower.
        const P a0{0, 0, 0}, m0{0.1, 0, 0}, n0{0.2, 0, 0}, b0{0.3, 0, 0};
        EXPECT_NEAR(Rho(e, &a0, &b0, &m0, &n0), 100, 1);
    }
}

TEST(EarthModel, ManyLayersMatchTheImageSeriesAndTheHomogeneousLimit)
{
    const auto wenner = [](const TEarthModel &e, double a) {
        const P pa{0, 0, 0}, pm{a, 0, 0}, pn{2 * a, 0, 0}, pb{3 * a, 0, 0};
        return Rho(e, &pa, &pb, &pm, &pn);
    };
    // Equal layers are one ground; a repeated layer or a layer split in two
    // is the two-layer earth of the image series.
    const TEarthModel same = Model("layered:50,3,50,7,50");
    const struct { const char *many, *two; } cases[] = {
        {"layered:100,5,1000,10,1000", "layered:100,5,1000"},
        {"layered:100,2,100,3,10", "layered:100,5,10"},
        {"layered:20,1.5,300,40,300,5,300", "layered:20,1.5,300"},
    };
    for (double a : {0.5, 1.0, 5.0, 20.0, 80.0, 300.0}) {
        EXPECT_NEAR(wenner(same, a), 50, 1e-9) << a;
        for (const auto &c : cases) {
            const double expected = wenner(Model(c.two), a);
            EXPECT_NEAR(wenner(Model(c.many), a), expected, 1e-6 * expected) << c.many << " a=" << a;
        }
    }
    // A conductive middle layer: short spacings see the top, long ones the bottom.
    const TEarthModel three = Model("layered:100,2,10,4,1000");
    EXPECT_NEAR(wenner(three, 0.1), 100, 1);
    EXPECT_LT(wenner(three, 8), 60);
    EXPECT_GT(wenner(three, 2000), 800);
}

TEST(EarthModel, LayeredModelsMatchAnIndependentIntegral)
{
    // Resistive basements under conductive layers, a conductive basement, a
    // contrast too sharp for the image series, four layers.
    const struct {
        const char *model;
        std::vector<double> rho, h;
    } models[] = {
        {"layered:100,1,10,5,10000", {100, 10, 10000}, {1, 5}},
        {"layered:100,1,10,5,1000", {100, 10, 1000}, {1, 5}},
        {"layered:10,2,100,10,1", {10, 100, 1}, {2, 10}},
        {"layered:1,5,100000", {1, 100000}, {5}},
        {"layered:50,1,500,3,5,10,2000", {50, 500, 5, 2000}, {1, 3, 10}},
    };
    const P o{0, 0, 0};
    const struct {
        const char *name;
        P a, b, m, n;
        bool remoteB;
    } arrays[] = {
        {"schlumberger AB/2 40 MN/2 1", {-40, 0, 0}, {40, 0, 0}, {-1, 0, 0}, {1, 0, 0}, false},
        {"wenner a 20", {0, 0, 0}, {60, 0, 0}, {20, 0, 0}, {40, 0, 0}, false},
        {"dipole-dipole a 5 n 6", {0, 0, 0}, {5, 0, 0}, {35, 0, 0}, {40, 0, 0}, false},
        {"pole-dipole a 2 n 3", {0, 0, 0}, o, {6, 0, 0}, {8, 0, 0}, true},
    };
    for (const auto &c : models) {
        const TEarthModel e = Model(c.model);
        TReference ref(c.rho, c.h);
        for (const auto &a : arrays) {
            const P *b = a.remoteB ? nullptr : &a.b;
            double expected = 0;
            for (auto [src, s1] : {std::pair{&a.a, 1.0}, std::pair{b, -1.0}})
                for (auto [to, s2] : {std::pair{&a.m, 1.0}, std::pair{&a.n, -1.0}})
                    if (src)
                        expected += s1 * s2 * ref.Potential(std::hypot((*src)[0] - (*to)[0], (*src)[1] - (*to)[1]));
            expected *= TEarthModel::GeometricFactor(&a.a, b, &a.m, &a.n);
            EXPECT_NEAR(Rho(e, &a.a, b, &a.m, &a.n), expected, 1e-8 * expected) << c.model << " " << a.name;
        }
    }
    // The Schlumberger reading a published filter gives for the first model.
    const P a{-40, 0, 0}, b{40, 0, 0}, m{-1, 0, 0}, n{1, 0, 0};
    EXPECT_NEAR(Rho(Model("layered:100,1,10,5,10000"), &a, &b, &m, &n), 77.80, 0.005);
}

TEST(EarthModel, SoundingCurvesHaveTheShapeOfTheirLayers)
{
    // Schlumberger soundings from 1 m to 3 km: an H curve (conductive middle)
    // falls once and rises once, a K curve (resistive middle) the reverse, and
    // both end at the basement's side.
    const struct { const char *model; double first; } cases[] = {
        {"layered:100,1,10,5,10000", -1}, {"layered:10,2,100,10,1", 1}};
    for (const auto &c : cases) {
        const TEarthModel e = Model(c.model);
        std::vector<double> curve;
        for (double ab2 = 1; ab2 < 3000; ab2 *= 1.25) {
            const P a{-ab2, 0, 0}, b{ab2, 0, 0}, m{-ab2 / 10, 0, 0}, n{ab2 / 10, 0, 0};
            curve.push_back(Rho(e, &a, &b, &m, &n));
        }
        int turns = 0;
        for (std::size_t i = 2; i < curve.size(); ++i)
            turns += (curve[i] - curve[i - 1]) * (curve[i - 1] - curve[i - 2]) < 0;
        EXPECT_EQ(turns, 1) << c.model;
        EXPECT_GT(c.first * (curve[1] - curve[0]), 0) << c.model << " starts towards the middle layer";
        EXPECT_LT(c.first * (curve.back() - curve[curve.size() - 2]), 0) << c.model << " ends towards the basement";
    }
}

TEST(EarthModel, LayerChargeabilitiesWeighedBySeigelsRule)
{
    const char *text = "layered:100,1,10,5,10000";
    const double rho[3] = {100, 10, 10000};
    const P a{0, 0, 0}, b{5, 0, 0}, m{25, 0, 0}, n{30, 0, 0};
    const double rho0 = Rho(Model(text), &a, &b, &m, &n);
    double total = 0;
    for (int i = 0; i < 3; ++i) {
        // The weight d ln Rho_a / d ln rho_i by a step of the model itself.
        double stepped[3] = {rho[0], rho[1], rho[2]};
        stepped[i] *= 1 + 1e-5;
        const TEarthModel s = Model(QString("layered:%1,1,%2,5,%3").arg(stepped[0], 0, 'g', 17)
                                        .arg(stepped[1], 0, 'g', 17).arg(stepped[2], 0, 'g', 17));
        const double weight = (Rho(s, &a, &b, &m, &n) - rho0) / rho0 / 1e-5;
        TEarthModel e = Model(text);
        std::vector<double> only(3, 0.0);
        only[std::size_t(i)] = 100;
        ASSERT_EQ(e.SetChargeability(only), QString());
        const double mi = e.Chargeability(&a, &b, &m, &n);
        EXPECT_NEAR(mi, 100 * weight, 1e-3) << "layer " << i;
        total += mi;
    }
    // Rho_a is of degree one in the resistivities: the weights make one.
    EXPECT_NEAR(total, 100, 1e-6);
    // One value is the whole ground's; a two-layer earth shows its top layer at
    // short spacings and the lower one at long spacings.
    TEarthModel one = Model(text);
    ASSERT_EQ(one.SetChargeability({12}), QString());
    EXPECT_DOUBLE_EQ(one.Chargeability(&a, &b, &m, &n), 12);
    TEarthModel two = Model("layered:100,5,100");
    ASSERT_EQ(two.SetChargeability({5, 50}), QString());
    const P s1{0.1, 0, 0}, s2{0.2, 0, 0}, s3{0.3, 0, 0}, l1{300, 0, 0}, l2{600, 0, 0}, l3{900, 0, 0};
    EXPECT_NEAR(two.Chargeability(&a, &s3, &s1, &s2), 5, 0.1);
    EXPECT_NEAR(two.Chargeability(&a, &l3, &l1, &l2), 50, 1);
}

TEST(EarthModel, ReciprocalReadingsAgree)
{
    const P a{0, 0, 0}, b{1, 0, 0}, m{4, 0, 0}, n{6, 0.5, 0};
    for (const char *text : {"homogeneous:50", "layered:30,2,300", "layered:30,2,300,5,10", "anomaly:100,5,3,3,2"}) {
        const TEarthModel e = Model(text);
        const double r1 = e.Resistance(&a, &b, &m, &n);
        EXPECT_NEAR(e.Resistance(&m, &n, &a, &b), r1, 1e-12 * std::abs(r1)) << text;
        EXPECT_NEAR(e.Resistance(&n, &m, &b, &a), r1, 1e-12 * std::abs(r1)) << text;
    }
}

TEST(EarthModel, SphereAndSeigelChargeability)
{
    TEarthModel e = Model("anomaly:100,5,10,4,3");
    ASSERT_EQ(e.SetChargeability({8, 80}), QString());
    const P a{9, 0, 0}, m{10, 0, 0}, n{11, 0, 0}, b{12, 0, 0};
    const P fa{100, 0, 0}, fm{101, 0, 0}, fn{102, 0, 0}, fb{103, 0, 0};
    // A conductive body lowers Rho above it; far away the background stays.
    EXPECT_LT(Rho(e, &a, &b, &m, &n), 99);
    EXPECT_NEAR(Rho(e, &fa, &fb, &fm, &fn), 100, 0.01);
    EXPECT_GT(e.Chargeability(&a, &b, &m, &n), 8.1);
    EXPECT_NEAR(e.Chargeability(&fa, &fb, &fm, &fn), 8, 0.01);
}

TEST(EarthModel, RejectsBadModels)
{
    for (const char *text : {"homogeneous:-1", "homogeneous:x", "layered:10,0,5", "layered:10,2,5,3",
                             "layered:10,2,5,0,7", "anomaly:1,2,3",
                             "anomaly:100,10,0,1,2", "granite:5", "homogeneous"}) {
        TEarthModel e;
        EXPECT_FALSE(e.Parse(text).isEmpty()) << text;
    }
    // Chargeabilities: one value, or one per layer, or BG,BODY where there is a body.
    const struct { const char *model; std::vector<double> m; bool ok; } charge[] = {
        {"layered:10,2,5,3,7", {1, 2, 3}, true}, {"layered:10,2,5,3,7", {1}, true},
        {"layered:10,2,5,3,7", {1, 2}, false},   {"layered:10,2,5", {1, 2, 3}, false},
        {"anomaly:100,5,10,4,3", {8, 80}, true}, {"anomaly:100,5,10,4,3", {8, 80, 3}, false},
        {"homogeneous:10", {std::nan("")}, false},
    };
    for (const auto &c : charge) {
        TEarthModel e = Model(c.model);
        EXPECT_EQ(e.SetChargeability(c.m).isEmpty(), c.ok) << c.model << " " << c.m.size();
    }
}
