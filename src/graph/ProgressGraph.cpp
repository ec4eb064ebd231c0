#include "graph/ProgressGraph.h"

#include "survey/Geometry.h"
#include "survey/Sequence.h"

#include <QString>

#include <algorithm>
#include <exception>
#include <utility>

namespace {

// Node numbers the file may define and draw.
constexpr int FirstNode = 1;
constexpr int LastNode = 2000;

int QuadTotal(const TSequence &s)
{
    return std::clamp(int(s.QuadCount), 0, TSequence::QuadTableSize);
}

bool ValidNode(int n)
{
    return n >= 0 && n < TSequence::NodeTableSize;
}

} // namespace

TProgressGraph::TProgressGraph(const TSequence &survey, TGraph3D &graph, std::function<bool()> pageShowing)
    : Survey(survey), Graph(graph), PageShowing(std::move(pageShowing))
{
}

void TProgressGraph::InitProgressGraph()
{
    progressBlock = 0;
    try {
        Graph.MainTitle(QString());
        Graph.SubTitle(QString());
        Graph.XAxisLabel(QStringLiteral("X spacing (m)"));
        Graph.XData(QuadSubset, -1, 0.0f);
        Graph.YData(QuadSubset, -1, 0.0f);
        Graph.ZData(QuadSubset, -1, 0.0f);

        // Nodes are addressed by number: every number in use gets its slot,
        // however few quadripoles there are.
        const int quads = QuadTotal(Survey);
        int highest = std::clamp(int(Survey.NodeCount), 0, TSequence::NodeTableSize) - 1;
        for (int n = FirstNode; n <= LastNode; ++n)
            if (Survey.Nodes[std::size_t(n)].Number == n)
                highest = std::max(highest, n);
        for (int i = 0; i < quads; ++i) {
            const Quadripole &q = Survey.Quads[std::size_t(i)];
            for (int n : {q.A, q.B, q.M, q.N})
                if (ValidNode(n))
                    highest = std::max(highest, n);
        }
        Points = std::max({1, quads, highest + 1});

        Graph.Subsets(2);
        Graph.Points(Points);
        Graph.ZDistance(-22.0f);
        Graph.PEactions(TGraph3DAction::tdReinitAndReset);
        Graph.ZAxisLabel(QStringLiteral("Y spacing (m)"));
        Graph.YAxisLabel(QStringLiteral("Report point (m)"));
        Graph.ShowZAxis(TZAxisStyle::tdGridPlusAxisLabels);

        Graph.SubsetPointTypes(QuadSubset, TypeQuadIdle);
        for (int p = 0; p < Points; ++p) {
            Graph.XData(QuadSubset, p, Unset);
            Graph.YData(QuadSubset, p, Unset);
            Graph.ZData(QuadSubset, p, Unset);
        }
        for (int i = 0; i < quads; ++i) {
            const ElectrodeCoords c = GetQuadCoords(Survey, i);
            Graph.XData(QuadSubset, i, static_cast<float>(-MidPoint(c, AxisX)));
            Graph.YData(QuadSubset, i, static_cast<float>(-PseudoDepth(c)));
            Graph.ZData(QuadSubset, i, static_cast<float>(-MidPoint(c, AxisY)));
            Graph.PointColors(QuadSubset, i, LightGrey);
        }

        Graph.SubsetPointTypes(NodeSubset, TypeNodeIdle);
        for (int p = 0; p < Points; ++p) {
            Graph.XData(NodeSubset, p, Unset);
            Graph.YData(NodeSubset, p, Unset);
            Graph.ZData(NodeSubset, p, Unset);
        }
        // Only the nodes the coordinate file defined (their entry carries their number).
        for (int n = FirstNode; n <= LastNode; ++n) {
            const Node &node = Survey.Nodes[std::size_t(n)];
            if (node.Number != n)
                continue;
            Graph.XData(NodeSubset, n, -node.X);
            Graph.YData(NodeSubset, n, 0.0f);
            Graph.ZData(NodeSubset, n, -node.Y);
            Graph.PointColors(NodeSubset, n, LightGrey);
        }
        Graph.PEactions(TGraph3DAction::tdReinitAndReset);
    } catch (const std::exception &) {
        // The graph is only a picture of the progress: the run goes on without it.
    }
}

void TProgressGraph::SetNode(int node, int type, TGraphColor color)
{
    if (node < 0 || node >= Points)
        return;
    Graph.PointTypes(NodeSubset, node, type);
    Graph.PointColors(NodeSubset, node, color);
}

void TProgressGraph::SetQuad(int quad, int type, TGraphColor color)
{
    if (quad < 0 || quad >= Points)
        return;
    Graph.PointTypes(QuadSubset, quad, type);
    Graph.PointColors(QuadSubset, quad, color);
}

void TProgressGraph::UpdateProgressGraph(int n, int s)
{
    try {
        const int quads = QuadTotal(Survey);
        const auto quad = [&](int j) -> const Quadripole & { return Survey.Quads[std::size_t(j)]; };
        if (s > 0 && s <= quads) {
            const int j0 = std::max(0, s - progressBlock);
            SetNode(quad(j0).A, TypeNodeIdle, LightGrey);
            SetNode(quad(j0).B, TypeNodeIdle, LightGrey);
            for (int j = j0; j < s; ++j) {
                SetNode(quad(j).M, TypeNodeIdle, LightGrey);
                SetNode(quad(j).N, TypeNodeIdle, LightGrey);
                SetQuad(j, TypeQuadDone, Grey);
            }
        }
        if (s >= 0 && s < quads) {
            // A multi-channel block shares A and B: the first quadripole's stand for all.
            SetNode(quad(s).A, TypeNodeCurrent, Red);
            SetNode(quad(s).B, TypeNodeCurrent, Red);
            for (int j = s; j < std::min(quads, s + std::max(0, n)); ++j) {
                SetNode(quad(j).M, TypeNodeCurrent, Navy);
                SetNode(quad(j).N, TypeNodeCurrent, Navy);
                SetQuad(j, quad(j).Level < 0 ? TypeQuadCurrentApart : TypeQuadCurrent, Black);
            }
        }
        if (PageShowing && PageShowing())
            Graph.PEactions(TGraph3DAction::tdInvalidateImage);
    } catch (const std::exception &) {
    }
    progressBlock = n;
}

void TProgressGraph::RedrawProgressGraph()
{
    try {
        Graph.PEactions(TGraph3DAction::tdInvalidateImage);
    } catch (const std::exception &) {
    }
}
