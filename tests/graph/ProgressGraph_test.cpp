// The progress graph's layout and its block highlight, on the in-memory 3-D graph.
#include "graph/ProgressGraph.h"

#include "graph/MemoryGraph.h"
#include "graph/SurveyBuilder.h"

#include <gtest/gtest.h>

namespace {

constexpr int Q = TProgressGraph::QuadSubset;
constexpr int N = TProgressGraph::NodeSubset;

// 100 quadripoles on a line of 48 nodes 2 m apart, in blocks of eight that
// share A and B; quadripole 9 has a negative Level.
struct TLine {
    TSurveyBuilder Builder;
    TMemoryGraph3D Graph;
    bool Showing = false;
    TProgressGraph Progress{*Builder.Survey, Graph, [this] { return Showing; }};

    TLine()
    {
        for (int n = 1; n <= 48; ++n)
            Builder.AddNode(2.0f * float(n), 1.0f);
        for (int i = 0; i < 100; ++i) {
            const int block = i / 8, k = i % 8;
            Builder.AddQuad(1 + block, 2 + block, 3 + block + k, 4 + block + k, i == 9 ? -1 : 0);
        }
        Progress.InitProgressGraph();
    }
    int Type(int subset, int point) const { return Graph.PointType(subset, point); }
    TGraphColor Color(int subset, int point) const { return Graph.PointColor(subset, point, 0xDEADBEEF); }
    const Quadripole &Quad(int i) const { return Builder.Survey->Quads[std::size_t(i)]; }

    // Type and colour of every node and quadripole point of a block.
    void ExpectBlock(int first, int count, int quadType, TGraphColor quadColor, int nodeType, TGraphColor ab,
                     TGraphColor mn) const
    {
        EXPECT_EQ(Type(N, Quad(first).A), nodeType);
        EXPECT_EQ(Color(N, Quad(first).A), ab);
        EXPECT_EQ(Color(N, Quad(first).B), ab);
        for (int j = first; j < first + count; ++j) {
            SCOPED_TRACE(j);
            EXPECT_EQ(Type(Q, j), quadType);
            EXPECT_EQ(Color(Q, j), quadColor);
            EXPECT_EQ(Type(N, Quad(j).M), nodeType);
            EXPECT_EQ(Color(N, Quad(j).M), mn);
            EXPECT_EQ(Color(N, Quad(j).N), mn);
        }
    }
};

} // namespace

TEST(ProgressGraphLayout, quadripolesAndDefinedNodesPlacedTheRestUnset)
{
    TLine line;
    const TMemoryGraph3D &g = line.Graph;
    EXPECT_EQ(g.Subsets(), 2);
    EXPECT_EQ(g.Points(), 100);
    EXPECT_EQ(g.Title("XAxisLabel"), "X spacing (m)");
    EXPECT_EQ(g.Title("YAxisLabel"), "Report point (m)");
    EXPECT_EQ(g.Title("ZAxisLabel"), "Y spacing (m)");
    EXPECT_EQ(g.Distance, -22.0f);
    EXPECT_EQ(g.ZAxis, TZAxisStyle::tdGridPlusAxisLabels);
    EXPECT_EQ(g.Actions.back(), TGraph3DAction::tdReinitAndReset);
    EXPECT_EQ(line.Progress.progressBlock, 0);

    // Quadripole 0: A at 2 m, B at 4 m, M at 6 m, N at 8 m; X, Y, Z negated.
    EXPECT_FLOAT_EQ(g.XData(Q, 0), -5.0f);
    EXPECT_FLOAT_EQ(g.YData(Q, 0), -1.14f);
    EXPECT_FLOAT_EQ(g.ZData(Q, 0), -1.0f);
    EXPECT_EQ(line.Type(Q, 99), TProgressGraph::TypeQuadIdle);
    EXPECT_EQ(line.Color(Q, 99), PEargb(0, 192, 192, 192));

    EXPECT_FLOAT_EQ(g.XData(N, 48), -96.0f);
    EXPECT_EQ(g.YData(N, 48), 0.0f);
    EXPECT_FLOAT_EQ(g.ZData(N, 48), -1.0f);
    EXPECT_EQ(line.Type(N, 48), TProgressGraph::TypeNodeIdle);
    for (int p : {0, 49, 99}) {
        EXPECT_EQ(g.XData(N, p), 99999.0f) << p;
        EXPECT_EQ(g.YData(N, p), 99999.0f) << p;
        EXPECT_EQ(g.ZData(N, p), 99999.0f) << p;
    }
}

TEST(ProgressGraphLayout, undefinedNodeIsNotDrawnAndEveryNodeNumberHasItsSlot)
{
    // Three quadripoles, nodes up to number 60 (57 undefined): the graph has a
    // slot for node 60, though QuadCount and NodeCount are smaller.
    TSurveyBuilder b;
    for (int n = 1; n <= 56; ++n)
        b.AddNode(float(n), 0);
    b.Survey->Nodes[60] = Node{60.0f, 2.0f, 0.0f, 60};
    b.Survey->NodeCount = 57;
    b.AddQuad(1, 2, 3, 4);
    b.AddQuad(1, 2, 4, 57);
    b.AddQuad(1, 2, 4, 60);
    TMemoryGraph3D g;
    TProgressGraph progress(*b.Survey, g);
    progress.InitProgressGraph();

    EXPECT_EQ(progress.PointCount(), 61);
    EXPECT_EQ(g.Points(), 61);
    EXPECT_FLOAT_EQ(g.XData(N, 60), -60.0f);
    EXPECT_FLOAT_EQ(g.ZData(N, 60), -2.0f);
    EXPECT_EQ(g.XData(N, 57), 99999.0f) << "not defined by the coordinate file";

    progress.UpdateProgressGraph(3, 0);
    EXPECT_EQ(g.PointColor(N, 60, 0), TProgressGraph::Navy);
}

TEST(ProgressGraphHighlight, blockSequenceThroughACompleteRun)
{
    TLine line;
    const TGraphColor light = PEargb(0, 192, 192, 192), grey = PEargb(0, 128, 128, 128), black = 0,
                      red = PEargb(0, 255, 0, 0), navy = PEargb(0, 0, 0, 128);

    // First block: nothing to close.
    line.Progress.UpdateProgressGraph(8, 0);
    line.ExpectBlock(0, 8, TProgressGraph::TypeQuadCurrent, black, TProgressGraph::TypeNodeCurrent, red, navy);
    EXPECT_EQ(line.Type(Q, 8), TProgressGraph::TypeQuadIdle);
    EXPECT_EQ(line.Progress.progressBlock, 8);

    // Next block: the first greyed with type 2, its nodes back to idle; the
    // quadripole with a negative Level is drawn with type 3.
    line.Progress.UpdateProgressGraph(8, 8);
    EXPECT_EQ(line.Type(Q, 0), TProgressGraph::TypeQuadDone);
    EXPECT_EQ(line.Color(Q, 7), grey);
    EXPECT_EQ(line.Color(N, line.Quad(0).A), light);
    EXPECT_EQ(line.Type(N, line.Quad(0).A), TProgressGraph::TypeNodeIdle);
    EXPECT_EQ(line.Color(N, line.Quad(7).N), navy) << "node 11 is also M of the next block";
    EXPECT_EQ(line.Color(N, line.Quad(0).M), red) << "node 3 is also B of the next block";
    EXPECT_EQ(line.Type(Q, 9), TProgressGraph::TypeQuadCurrentApart);
    EXPECT_EQ(line.Type(Q, 10), TProgressGraph::TypeQuadCurrent);
    EXPECT_EQ(line.Color(Q, 9), black);
    EXPECT_EQ(line.Color(N, line.Quad(8).A), red);

    for (int s = 16; s < 96; s += 8)
        line.Progress.UpdateProgressGraph(8, s);
    line.Progress.UpdateProgressGraph(4, 96);
    // The final call of a complete run: the last block greyed, nothing highlighted.
    line.Progress.UpdateProgressGraph(4, 100);
    for (int j = 0; j < 100; ++j)
        EXPECT_EQ(line.Type(Q, j), TProgressGraph::TypeQuadDone) << j;
    for (int n = 1; n <= 48; ++n)
        EXPECT_EQ(line.Color(N, n), light) << n;
    EXPECT_TRUE(line.Graph.Actions.back() == TGraph3DAction::tdReinitAndReset) << "no repaint while not shown";
}

TEST(ProgressGraphHighlight, stoppedRunKeepsTheNextBlockHighlightedAndRepaintsOnlyWhenShown)
{
    TLine line;
    line.Showing = true;
    line.Progress.UpdateProgressGraph(8, 0);
    EXPECT_EQ(line.Graph.Actions.back(), TGraph3DAction::tdInvalidateImage);
    // Stopped after the first block: the final call closes it and highlights
    // again from 8, sized by the last count.
    line.Progress.UpdateProgressGraph(8, 8);
    line.Progress.UpdateProgressGraph(8, 8);
    EXPECT_EQ(line.Type(Q, 7), TProgressGraph::TypeQuadDone);
    EXPECT_EQ(line.Type(Q, 8), TProgressGraph::TypeQuadCurrent);
    EXPECT_EQ(line.Color(N, line.Quad(8).A), TProgressGraph::Red);

    // A new layout forgets the block.
    line.Progress.InitProgressGraph();
    EXPECT_EQ(line.Progress.progressBlock, 0);
    line.Progress.UpdateProgressGraph(8, 16);
    EXPECT_EQ(line.Type(Q, 15), TProgressGraph::TypeQuadIdle) << "nothing closed after a new layout";
}
