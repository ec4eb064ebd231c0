// The pseudo-section model: keys, planes, sections, grid placement, Rho slots.
#include "graph/PseudoSection.h"

#include "graph/SurveyBuilder.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

namespace {

using TCells = TPseudoSection::GraphPoint;

TCells CellsOrDie(const TPseudoSection &model, int quad, int plane, int section)
{
    const auto cells = model.CellsOf(quad, plane, section);
    EXPECT_TRUE(cells.has_value()) << "quadripole " << quad;
    return cells.value_or(TCells{-1, -1, -1});
}

} // namespace

TEST(PseudoSectionKey, centimetresRoundedHalfUpAndBiasedTowardZeroBelowZero)
{
    const struct {
        double Metres;
        std::int32_t Key;
    } cases[] = {
        {0.0, 0},      {1.234, 123},  {1.235, 124},     {0.57, 57},     {-1.234, -122},
        {-0.5, -49},   {-1.0, -99},   {-0.004, 0},      {99999.0, 9999900},
        {1e12, std::numeric_limits<std::int32_t>::max()}, {-1e12, std::numeric_limits<std::int32_t>::min()},
        {std::nan(""), 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TPseudoSection::Key(c.Metres), c.Key) << c.Metres;
}

TEST(PseudoSectionMarkers, bitPatternsOfTheNoValueMarkers)
{
    EXPECT_EQ(std::bit_cast<std::uint32_t>(TPseudoSection::NoValue), 0xF2E33123u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(TPseudoSection::MeasuredNoValue), 0xF2C9F2CAu);
}

TEST(PseudoSectionBuild, lineAlongXGivesOneVerticalSectionAndOneSlicePerDepth)
{
    // The worked example: row 0 holds positions 0, 1, 2, 3 m, row 1 the single
    // position 1.5 m; column keys 0, 100, 150, 200, 300.
    TSurveyBuilder b;
    const int q0 = b.Wenner(0, 0, 1), q1 = b.Wenner(1, 0, 1), q2 = b.Wenner(2, 0, 1), q3 = b.Wenner(3, 0, 1);
    const int deep = b.Wenner(1.5f, 0, 2);
    TPseudoSection model(*b.Survey);
    ASSERT_TRUE(model.Build());

    EXPECT_TRUE(model.sectionLists[TPseudoSection::PlaneYZ].empty()) << "no quadripole has four equal X keys";
    ASSERT_EQ(model.sectionLists[TPseudoSection::PlaneXZ].size(), 1u);
    const auto &line = model.sectionLists[TPseudoSection::PlaneXZ][0];
    EXPECT_EQ(line.key, 0);
    EXPECT_EQ(line.rowCount, 2);
    EXPECT_EQ(line.columnCount, 5);

    const struct {
        int Quad;
        TCells Cells;
    } placed[] = {
        {q0, {0, 0, 0}}, {q1, {0, 1, 2}}, {q2, {0, 3, 3}}, {q3, {0, 4, 4}}, {deep, {1, 0, 4}},
    };
    for (const auto &p : placed)
        EXPECT_EQ(CellsOrDie(model, p.Quad, TPseudoSection::PlaneXZ, 0), p.Cells) << "quadripole " << p.Quad;

    // Plane XY: one slice per report-point depth (0.57 m and 1.14 m), sorted.
    const auto &slices = model.sectionLists[TPseudoSection::PlaneXY];
    ASSERT_EQ(slices.size(), 2u);
    EXPECT_EQ(slices[0].key, 57);
    EXPECT_EQ(slices[1].key, 114);
    EXPECT_EQ(slices[0].rowCount, 1) << "every position at Y = 0";
    EXPECT_EQ(slices[0].columnCount, 4);
    EXPECT_FALSE(model.CellsOf(deep, TPseudoSection::PlaneXY, 0).has_value()) << "in the other slice";
    EXPECT_EQ(CellsOrDie(model, deep, TPseudoSection::PlaneXY, 1), (TCells{0, 0, 0}));

    EXPECT_FLOAT_EQ(model.planeMin[TPseudoSection::PlaneXZ][0], 0.0f);
    EXPECT_FLOAT_EQ(model.planeMax[TPseudoSection::PlaneXZ][0], 3.0f);
    EXPECT_FLOAT_EQ(model.planeMin[TPseudoSection::PlaneXZ][1], 0.57f);
    EXPECT_FLOAT_EQ(model.planeMax[TPseudoSection::PlaneXZ][1], 1.14f);
    EXPECT_EQ(model.planeMin[TPseudoSection::PlaneYZ][0], std::numeric_limits<float>::max()) << "no member";
    EXPECT_EQ(model.planeMax[TPseudoSection::PlaneYZ][0], -std::numeric_limits<float>::max());
}

TEST(PseudoSectionBuild, rowStretchesFollowTheMidpointsBetweenNeighbours)
{
    const struct {
        const char *Name;
        std::vector<float> Row0, Row1; // positions (m) at depth 0.57 m and 1.14 m
        std::vector<TCells> Expected;  // Row0 then Row1, in that order
    } cases[] = {
        // Column keys 0, 100, 200: mid 100 ends the first point at column 1.
        {"mid on a column key", {0, 2}, {1}, {{0, 0, 1}, {0, 2, 2}, {1, 0, 2}}},
        // A single position in a row covers every column.
        {"single position", {0, 1, 2, 3}, {1.5f}, {{0, 0, 0}, {0, 1, 2}, {0, 3, 3}, {0, 4, 4}, {1, 0, 4}}},
        // Keys -99 and -49 (positions -1.0 and -0.5 m): mid -74.
        // Keys -99 and -49 (positions -1.0 and -0.5 m) around -74 of the other row.
        {"negative keys", {-1.0f, -0.5f}, {-0.75f}, {{0, 0, 1}, {0, 2, 2}, {1, 0, 2}}},
        // Keys 0, 2, 4 against columns 0 to 4 from the other row.
        {"interleaved rows", {0, 0.02f, 0.04f}, {0.01f, 0.03f}, {{0, 0, 1}, {0, 2, 3}, {0, 4, 4}, {1, 0, 2}, {1, 3, 4}}},
        // Keys -4, -3, -2: truncation toward zero puts both midpoints on the
        // next key, so the last position is left with no column.
        {"empty stretch", {-0.05f, -0.04f, -0.03f}, {}, {{0, 0, 1}, {0, 2, 2}, {0, 3, 2}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        TSurveyBuilder b;
        std::vector<int> quads;
        for (float x : c.Row0)
            quads.push_back(b.Wenner(x, 0, 1));
        for (float x : c.Row1)
            quads.push_back(b.Wenner(x, 0, 2));
        TPseudoSection model(*b.Survey);
        ASSERT_TRUE(model.Build());
        ASSERT_EQ(model.sectionLists[TPseudoSection::PlaneXZ].size(), 1u);
        for (std::size_t k = 0; k < quads.size(); ++k)
            EXPECT_EQ(CellsOrDie(model, quads[k], TPseudoSection::PlaneXZ, 0), c.Expected[k]) << "point " << k;
    }
}

TEST(PseudoSectionBuild, membershipOfTheVerticalPlanes)
{
    TSurveyBuilder b;
    const int alongX = b.Wenner(10, 5, 1, true);
    const int alongY = b.Wenner(10, 5, 1, false);
    const int farX = b.Wenner(1500, 5, 1, true); // a line along X in projected coordinates, beyond 1 km
    // A pole-dipole: B at the remote node 0, other electrodes on a line along X.
    const int remote = b.AddQuad(b.AddNode(0, 3), 0, b.AddNode(1, 3), b.AddNode(2, 3));
    const int apart = b.Wenner(20, 7, 1, true, -1);
    TPseudoSection model(*b.Survey);
    ASSERT_TRUE(model.Build());

    const struct {
        int Quad;
        bool YZ, XZ, XY;
    } cases[] = {
        {alongX, false, true, true}, {alongY, true, false, true}, {farX, false, true, true},
        {remote, true, true, true},  {apart, false, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Quad);
        EXPECT_EQ(model.InPlane(c.Quad, TPseudoSection::PlaneYZ), c.YZ);
        EXPECT_EQ(model.InPlane(c.Quad, TPseudoSection::PlaneXZ), c.XZ);
        EXPECT_EQ(model.InPlane(c.Quad, TPseudoSection::PlaneXY), c.XY);
    }
    // The remote electrode is left out of the plotting position: midpoint
    // between A (0 m) and the centre of M and N (1.5 m).
    const auto pos = model.Position(remote, TPseudoSection::PlaneXZ);
    EXPECT_DOUBLE_EQ(pos.Horizontal, 0.75);
    EXPECT_EQ(model.quadCoords[std::size_t(remote)][1], 9999900) << "X key of B";

    // Level -1: its keys are kept, it is in no section and fills nothing.
    ASSERT_EQ(model.quadCoords.size(), 5u);
    EXPECT_EQ(model.quadCoords[std::size_t(apart)][0], 1850);
    for (int plane = 0; plane < TPseudoSection::PlaneCount; ++plane)
        for (std::size_t s = 0; s < model.sectionLists[std::size_t(plane)].size(); ++s)
            EXPECT_FALSE(model.CellsOf(apart, plane, int(s)).has_value());
    for (const auto &section : model.sectionLists[TPseudoSection::PlaneXZ])
        EXPECT_NE(section.key, 700) << "the Level -1 quadripole is alone on its line";
}

TEST(PseudoSectionBuild, negativeSectionKeysSortAndSameCellsAreShared)
{
    TSurveyBuilder b;
    const int first = b.Wenner(0, -1.234f, 1);
    const int twin = b.Wenner(0, -1.234f, 1);
    b.Wenner(0, 2, 1);
    b.Wenner(0, -3, 1);
    TPseudoSection model(*b.Survey);
    ASSERT_TRUE(model.Build());
    const auto &lines = model.sectionLists[TPseudoSection::PlaneXZ];
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].key, -299);
    EXPECT_EQ(lines[1].key, -122);
    EXPECT_EQ(lines[2].key, 200);
    EXPECT_EQ(CellsOrDie(model, first, TPseudoSection::PlaneXZ, 1), CellsOrDie(model, twin, TPseudoSection::PlaneXZ, 1));
}

TEST(PseudoSectionBuild, noSectionWhenEveryQuadripoleIsApartOrTheSurveyIsEmpty)
{
    TSurveyBuilder b;
    TPseudoSection empty(*b.Survey);
    EXPECT_FALSE(empty.Build());
    b.Wenner(0, 0, 1, true, -1);
    TPseudoSection apart(*b.Survey);
    EXPECT_FALSE(apart.Build());
    EXPECT_FALSE(apart.HasSections());
    EXPECT_EQ(apart.quadCoords.size(), 1u);
}

TEST(PseudoSectionRho, storeRhoKeepsMarkersApartAndTracksTheRange)
{
    TSurveyBuilder b;
    for (int k = 0; k < 4; ++k)
        b.Wenner(float(k), 0, 1);
    TPseudoSection model(*b.Survey);
    EXPECT_EQ(model.rhoMin, 0.0f) << "before the first build";
    ASSERT_TRUE(model.Build());
    EXPECT_EQ(model.rhoMin, 9e30f);
    EXPECT_EQ(model.rhoMax, -9e30f);
    for (float v : model.rhoValues)
        EXPECT_EQ(v, TPseudoSection::NoValue);

    model.StoreRho(0, 120.5f);
    model.StoreRho(1, 33.0f);
    EXPECT_EQ(model.rhoMin, 33.0f);
    EXPECT_EQ(model.rhoMax, 120.5f);

    // A measured value equal to the marker stays distinguishable from "not measured".
    model.StoreRho(2, -9e30f);
    EXPECT_EQ(model.rhoValues[2], -8e30f);
    EXPECT_EQ(model.rhoMin, -8e30f);

    // Values that are not numbers are kept in their slot but leave the range alone.
    model.StoreRho(3, std::numeric_limits<float>::quiet_NaN());
    model.StoreRho(3, std::numeric_limits<float>::infinity());
    EXPECT_EQ(model.rhoMin, -8e30f);
    EXPECT_EQ(model.rhoMax, 120.5f);
    EXPECT_TRUE(std::isinf(model.rhoValues[3]));

    model.StoreRho(4, 1.0f); // past the survey
    model.StoreRho(-1, 1.0f);
    EXPECT_EQ(model.rhoMin, -8e30f);

    // A new build forgets values, range and what was drawn.
    model.lastPlane = 1;
    model.lastSection = 0;
    ASSERT_TRUE(model.Build());
    EXPECT_EQ(model.rhoValues[0], TPseudoSection::NoValue);
    EXPECT_EQ(model.rhoMin, 9e30f);
    EXPECT_EQ(model.lastPlane, -1);
    EXPECT_EQ(model.lastSection, -1);
}
