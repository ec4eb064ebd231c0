#include "sim/EarthModel.h"

#include <gtest/gtest.h>

#include <cmath>

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
}
