#pragma once
// The "Progress status" page's logic: every quadripole at its plotting
// position and report-point depth and every electrode node on the surface, in
// a 3-D scatter; the block being measured highlighted, finished blocks greyed.
#include "graph/GraphIntf.h"

#include <functional>

class TSequence;

class TProgressGraph {
public:
    // Point type codes; the widget gives each a distinct size or shape.
    enum : int {
        TypeNodeIdle = 0,
        TypeQuadIdle = 1,
        TypeQuadDone = 2,
        TypeQuadCurrentApart = 3,  // Level < 0
        TypeQuadCurrent = 5,
        TypeNodeCurrent = 11,
    };
    // Colours as the 3-D graph takes them: red in the low byte, top byte zero.
    static constexpr TGraphColor LightGrey = PEargb(0, 192, 192, 192);
    static constexpr TGraphColor Grey = PEargb(0, 128, 128, 128);
    static constexpr TGraphColor Black = PEargb(0, 0, 0, 0);
    static constexpr TGraphColor Red = PEargb(0, 255, 0, 0);
    static constexpr TGraphColor Navy = PEargb(0, 0, 0, 128);
    // Coordinates of a point not set: the graph's null value.
    static constexpr float Unset = 99999.0f;

    static constexpr int QuadSubset = 0;
    static constexpr int NodeSubset = 1;

    // pageShowing tells whether "Progress status" is the page shown; a
    // block change repaints only then.
    TProgressGraph(const TSequence &survey, TGraph3D &graph, std::function<bool()> pageShowing = {});

    // Lays out every quadripole and node, all idle.
    void InitProgressGraph();
    // Greys the block highlighted last (its size is progressBlock) and
    // highlights the n quadripoles from s.
    void UpdateProgressGraph(int n, int s);
    // Repaint request of the connect, stop and pause handlers.
    void RedrawProgressGraph();

    // Size of the block highlighted last; 0 after InitProgressGraph.
    int progressBlock = 0;
    // Points per subset: QuadCount, or the highest node number + 1 when
    // larger, so that every node has its slot.
    int PointCount() const { return Points; }

private:
    void SetNode(int node, int type, TGraphColor color);
    void SetQuad(int quad, int type, TGraphColor color);

    const TSequence &Survey;
    TGraph3D &Graph;
    std::function<bool()> PageShowing;
    int Points = 1;
};
