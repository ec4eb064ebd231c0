// Geometric factor, electrode coordinates, pseudo-section point and depth
// against the analytic values of the common arrays.
#include "survey/Geometry.h"
#include "survey/Sequence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr double Pi = 3.141592653589793;

struct Placed {
    int Number;
    float X, Y, Z;
};

struct GeometryCase {
    const char *Name;
    std::vector<Placed> Nodes;
    Quadripole Quad;
    double K, MidX, MidY, Depth;
};

void ExpectClose(double got, double expected, const char *what)
{
    EXPECT_NEAR(got, expected, 1e-5 * std::max(1.0, std::fabs(expected))) << what;
}

TEST(Geometry, analyticCases)
{
    const std::vector<Placed> line10 = {{1, 0, 0, 0}, {2, 10, 0, 0}, {3, 20, 0, 0}, {4, 30, 0, 0}};
    const GeometryCase cases[] = {
        {"Wenner a=10", line10, {1, 4, 2, 3, 0}, 20 * Pi, 15, 0, 5.7},
        {"Wenner along Y", {{1, 0, 0, 0}, {2, 0, 10, 0}, {3, 0, 20, 0}, {4, 0, 30, 0}}, {1, 4, 2, 3, 0},
         20 * Pi, 0, 15, 5.7},
        {"Schlumberger L=25 l=1", {{1, -25, 0, 0}, {2, 25, 0, 0}, {3, -1, 0, 0}, {4, 1, 0, 0}}, {1, 2, 3, 4, 0},
         312 * Pi, 0, 0, 0.19 * 50},
        // A before B: the textbook factor with the opposite sign.
        {"dipole-dipole a=10 n=6", {{1, 0, 0, 0}, {2, 10, 0, 0}, {3, 70, 0, 0}, {4, 80, 0, 0}}, {1, 2, 3, 4, 0},
         -3360 * Pi, 40, 0, 15.2},
        {"pole-dipole", line10, {1, 0, 2, 3, 0}, 40 * Pi, 7.5, 0, 1.9},
        {"pole-dipole with a close M", {{1, 0, 0, 0}, {2, 1, 0, 0}, {3, 100, 0, 0}}, {1, 0, 2, 3, 0},
         2 * Pi / (1.0 - 0.01), 25.25, 0, 0.19},
        {"pole-pole", line10, {1, 0, 2, 0, 0}, 20 * Pi, 5, 0, 1.9},
        {"A and M at one place", {{1, 0, 0, 0}, {2, 0, 0, 0}, {3, 10, 0, 0}, {4, 20, 0, 0}}, {1, 4, 2, 3, 0},
         -40 * Pi, 7.5, 0, 3.8},
        {"all electrodes at one place", {{1, 5, 5, 0}, {2, 5, 5, 0}, {3, 5, 5, 0}, {4, 5, 5, 0}}, {1, 2, 3, 4, 0},
         1, 5, 5, 0},
        {"all electrodes remote", {}, {0, 0, 0, 0, 0}, 1, 0, 0, 0},
        {"undefined node stands at the origin", {{2, 10, 0, 0}, {3, 20, 0, 0}, {4, 30, 0, 0}}, {9, 4, 2, 3, 0},
         20 * Pi, 15, 0, 5.7},
        // 3-4-5 triangle: the factor uses the slope distance, the depth the horizontal one.
        {"pole-pole with elevation", {{1, 0, 0, 0}, {2, 3, 0, 4}}, {1, 0, 2, 0, 0}, 10 * Pi, 1.5, 0, 0.57},
    };
    auto s = std::make_unique<TSequence>();
    for (const GeometryCase &c : cases) {
        SCOPED_TRACE(c.Name);
        s = std::make_unique<TSequence>();
        for (const Placed &p : c.Nodes)
            s->Nodes[std::size_t(p.Number)] = {p.X, p.Y, p.Z, p.Number};
        s->Quads[0] = c.Quad;
        s->QuadCount = 1;
        const ElectrodeCoords coords = GetQuadCoords(*s, 0);
        ExpectClose(GeometricFactor(*s, 0), c.K, "K");
        ExpectClose(MidPoint(coords, AxisX), c.MidX, "MidX");
        ExpectClose(MidPoint(coords, AxisY), c.MidY, "MidY");
        ExpectClose(PseudoDepth(coords), c.Depth, "depth");
    }
}

TEST(Geometry, quadCoordsLayoutAndRemoteMarker)
{
    auto s = std::make_unique<TSequence>();
    s->Nodes[3] = {1, 2, 3, 3};
    s->Nodes[5] = {4, 5, 6, 5};
    s->Quads[7] = {3, 0, 5, 3, 0};
    const ElectrodeCoords expected = {1, 99999, 4, 1, 2, 99999, 5, 2, 3, 0, 6, 3};
    EXPECT_EQ(GetQuadCoords(*s, 7), expected);
}

TEST(Geometry, outsideTheTableGivesNoGeometry)
{
    auto s = std::make_unique<TSequence>();
    // Entry 0 of a fresh table holds -1 electrodes; the others lie outside it.
    for (int quad : {0, -1, TSequence::QuadTableSize}) {
        SCOPED_TRACE(quad);
        EXPECT_EQ(GeometricFactor(*s, quad), 1.0);
        EXPECT_EQ(GetQuadCoords(*s, quad), ElectrodeCoords{});
    }
    const ElectrodeCoords c = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    for (int axis : {-4, 1, 12, 1000})
        EXPECT_EQ(MidPoint(c, axis), 0.0) << axis;
}

} // namespace
