// The progress graph widget: what it keeps without OpenGL, and under a real
// display (xvfb-run) what it draws, with the progress logic driving it.
#include "graph/ProgressGraph.h"
#include "graph/SurveyBuilder.h"
#include "ui/ScatterGraph.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

namespace {
// Eight Wenner soundings along X, one block of four and the rest idle.
TSurveyBuilder EightSoundings()
{
    TSurveyBuilder b;
    for (int k = 0; k < 8; ++k)
        b.Wenner(10.0f + 5.0f * float(k), 0, 2.0f + float(k % 2));
    return b;
}

int CountPixels(const QImage &image, QColor colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelColor(x, y) == colour;
    return n;
}
} // namespace

TEST(ScatterGraph, keepsPointTypesAndColoursAndDropsWritesOutsideTheGrid)
{
    TScatterGraph g;
    g.Subsets(2);
    g.Points(4);
    g.SubsetPointTypes(0, 1);
    g.PointTypes(0, 2, 5);
    g.PointColors(0, 2, PEargb(0, 0, 0, 128));
    g.PointTypes(1, 4, 11); // a node number beyond the points
    g.PointColors(1, 9, PEargb(0, 255, 0, 0));
    EXPECT_EQ(g.PointType(0, 2), 5);
    EXPECT_EQ(g.PointType(0, 3), 1);
    EXPECT_EQ(g.PointColor(0, 2), PEargb(0, 0, 0, 128));
    EXPECT_EQ(g.PointType(1, 4), -1);
    // The whole subset's type replaces the types of its points.
    g.SubsetPointTypes(0, 2);
    EXPECT_EQ(g.PointType(0, 2), 2);
    // Highlighted points stand out from the idle ones.
    EXPECT_NE(TScatterGraph::StyleOf(11).Mesh, TScatterGraph::StyleOf(1).Mesh);
    EXPECT_NE(TScatterGraph::StyleOf(5).Mesh, TScatterGraph::StyleOf(3).Mesh);
    EXPECT_GE(TScatterGraph::StyleOf(3).Size, 2 * TScatterGraph::StyleOf(5).Size) << "Level < 0 stands out";
    EXPECT_GT(TScatterGraph::StyleOf(1).Size, TScatterGraph::StyleOf(0).Size);
}

TEST(ScatterGraph, axisTicksFallOnRoundValues)
{
    const struct {
        double Lo, Hi;
        int Segments;
        double First, Last, Step;
        int Decimals;
    } cases[] = {
        {47, 235, 5, 0, 250, 50, 0},      // the demo line
        {-235, -47, 5, -250, 0, 50, 0},
        {-30.4, 0, 4, -40, 0, 10, 0},
        {-1.2, 1.2, 2, -2, 2, 2, 0},
        {0.3, 1.1, 4, 0.2, 1.2, 0.2, 1},
        {0, 1, 4, 0, 1, 0.25, 2},
        {5, 5, 2, 4, 6, 1, 0},            // a single value
    };
    for (const auto &c : cases) {
        const auto t = TScatterGraph::RoundTicks(c.Lo, c.Hi, c.Segments);
        EXPECT_DOUBLE_EQ(t.Lo, c.First) << c.Lo << ".." << c.Hi;
        EXPECT_DOUBLE_EQ(t.Hi, c.Last) << c.Lo << ".." << c.Hi;
        EXPECT_DOUBLE_EQ(t.Step, c.Step) << c.Lo << ".." << c.Hi;
        EXPECT_EQ(t.Decimals, c.Decimals) << c.Lo << ".." << c.Hi;
        EXPECT_NEAR(t.Lo + t.Segments * t.Step, t.Hi, 1e-9);
    }
}

TEST(ScatterGraph, withoutOpenGlTheDataIsKeptAndNothingIsDrawn)
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        GTEST_SKIP() << "runs on the offscreen platform";
    TSurveyBuilder survey = EightSoundings();
    TScatterGraph g;
    g.resize(400, 300);
    g.show();
    TProgressGraph progress(*survey.Survey, g, [] { return true; });
    progress.InitProgressGraph();
    progress.UpdateProgressGraph(4, 0);
    QApplication::processEvents();
    EXPECT_FALSE(g.CanRender());
    EXPECT_TRUE(g.Picture(QSize(100, 100)).isNull());
    EXPECT_EQ(g.PointType(0, 0), 5);
    EXPECT_EQ(g.Title("XAxisLabel"), "X spacing (m)");
}

TEST(ScatterGraphGl, drawsOneSeriesPerTypeAndColourWithExactColours)
{
    TSurveyBuilder survey = EightSoundings();
    TScatterGraph g;
    g.resize(640, 480);
    g.show();
    QApplication::processEvents();
    if (!g.CanRender())
        GTEST_SKIP() << "no OpenGL context (run under xvfb-run)";
    TProgressGraph progress(*survey.Survey, g, [] { return true; });
    progress.InitProgressGraph();
    g.RebuildNow();
    // Idle quadripoles and idle nodes, both light grey.
    EXPECT_EQ(g.SeriesCount(), 2);
    EXPECT_EQ(g.DrawnPoints(), 8 + 32);

    progress.UpdateProgressGraph(4, 0);
    g.RebuildNow();
    // Current quadripoles black, A/B red, M/N navy, the rest idle.
    EXPECT_EQ(g.SeriesCount(), 5);
    const QImage picture = g.Picture(QSize(640, 480)).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(CountPixels(picture, QColor(255, 0, 0)), 0) << "A and B in red";
    EXPECT_GT(CountPixels(picture, QColor(0, 0, 128)), 0) << "M and N in navy";
    EXPECT_GT(CountPixels(picture, QColor(192, 192, 192)), 0) << "idle points in light grey";

    // A finished run: everything grey, nothing highlighted.
    progress.UpdateProgressGraph(4, 4);
    progress.UpdateProgressGraph(4, 8);
    const QImage done = g.Picture(QSize(640, 480)).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(CountPixels(done, QColor(255, 0, 0)), 0);
    EXPECT_GT(CountPixels(done, QColor(128, 128, 128)), 0);
}
