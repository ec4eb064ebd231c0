#include "graph/MemoryGraph.h"

#include <gtest/gtest.h>

TEST(GraphColor, alphaOnTopThenBlueGreenRed)
{
    constexpr TGraphColor c = PEargb(0xFF, 0x11, 0x22, 0x33);
    static_assert(c == 0xFF332211u);
    EXPECT_EQ(ColorRed(c), 0x11);
    EXPECT_EQ(ColorGreen(c), 0x22);
    EXPECT_EQ(ColorBlue(c), 0x33);
    EXPECT_EQ(ColorAlpha(c), 0xFF);
}

TEST(MemoryGraph, gridResizesStoresAndResetsWithPointMinusOne)
{
    TMemoryGraph2D g;
    g.Subsets(3);
    g.Points(4);
    g.ZData(2, 3, 7.5f);
    g.XData(0, 0, 1.0f);
    EXPECT_EQ(g.ZData(2, 3), 7.5f);
    // Cells outside the grid are neither written nor read.
    g.ZData(3, 0, 9.0f);
    g.ZData(0, 4, 9.0f);
    EXPECT_EQ(g.ZData(3, 0), 0.0f);
    g.ZData(0, -1, -1.0f);
    for (int s = 0; s < 3; ++s)
        for (int p = 0; p < 4; ++p)
            EXPECT_EQ(g.ZData(s, p), -1.0f);
    EXPECT_EQ(g.XData(0, 0), 1.0f) << "resetting Z leaves X alone";
}

TEST(MemoryGraph, annotationsGrowByIndexAndMinusOneClears)
{
    TMemoryGraph2D g;
    g.GraphAnnotationX(2, 10.0);
    g.GraphAnnotationText(2, "A1");
    ASSERT_EQ(g.Annotations.size(), 3u);
    EXPECT_EQ(g.Annotations[2].Text, "A1");
    g.GraphAnnotationX(-1, 0);
    EXPECT_TRUE(g.Annotations.empty());
    g.SubsetColors(50, PEargb(255, 1, 2, 3));
    g.SubsetColors(51, 1);
    EXPECT_EQ(g.Colors[50], PEargb(255, 1, 2, 3));
    EXPECT_EQ(g.Colors.size(), 51u);
}
