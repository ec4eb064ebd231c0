// The pseudo-section and progress graph logic on a full-size 3-D survey:
// 2000 electrodes on a 40 x 50 grid (2 m along X, 5 m along Y) and 15998
// dipole-dipole quadripoles on its lines in both directions. The graphs are
// the in-memory ones: the widgets' drawing is measured with the widgets.
#include "base/SilentUi.h"
#include "graph/FakeSectionControls.h"
#include "graph/MemoryGraph.h"
#include "graph/ProgressGraph.h"
#include "graph/PseudoSection.h"
#include "graph/SectionPresenter.h"
#include "instrument/DataRecord.h"
#include "survey/Sequence.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr int Columns = 40, Rows = 50;

int NodeAt(int column, int row)
{
    return 1 + row * Columns + column;
}

std::unique_ptr<TSequence> GridSurvey()
{
    auto s = std::make_unique<TSequence>();
    for (int r = 0; r < Rows; ++r)
        for (int c = 0; c < Columns; ++c)
            s->Nodes[std::size_t(NodeAt(c, r))] = Node{2.0f * float(c), 5.0f * float(r), 0.1f * float(c % 7), NodeAt(c, r)};
    s->NodeCount = Rows * Columns;
    // Lines along X (one per row), then along Y (one per column), until the table is full.
    const auto line = [&](int length, auto node) {
        for (int n = 1; n <= 8; ++n)
            for (int k = 0; k + n + 3 < length && s->QuadCount < TSequence::MaxQuadCount; ++k)
                s->Quads[std::size_t(s->QuadCount++)] =
                    Quadripole{node(k), node(k + 1), node(k + n + 2), node(k + n + 3), 0};
    };
    for (int pass = 0; s->QuadCount < TSequence::MaxQuadCount; ++pass) {
        for (int r = 0; r < Rows && s->QuadCount < TSequence::MaxQuadCount; ++r)
            line(Columns, [&](int k) { return NodeAt(k, (r + pass) % Rows); });
        for (int c = 0; c < Columns && s->QuadCount < TSequence::MaxQuadCount; ++c)
            line(Rows, [&](int k) { return NodeAt(c, k); });
    }
    return s;
}

const TSequence &Survey()
{
    static const auto survey = GridSurvey();
    return *survey;
}

void BM_BuildPseudoSection(benchmark::State &state)
{
    TPseudoSection model(Survey());
    for (auto _ : state) {
        model.Build();
        benchmark::DoNotOptimize(model.planePoints.data());
    }
    std::size_t sections = 0;
    for (const auto &l : model.sectionLists)
        sections += l.size();
    state.counters["sections"] = double(sections);
    state.counters["quadripoles"] = double(Survey().QuadCount);
}
BENCHMARK(BM_BuildPseudoSection)->Unit(benchmark::kMillisecond);

// The whole build as Start runs it: model, plane selector, graph configuration.
void BM_BuildWithPresenter(benchmark::State &state)
{
    TPseudoSection model(Survey());
    TMemoryGraph2D graph;
    TFakeSectionControls controls;
    TSilentUi ui;
    TSectionPresenter presenter(model, graph, controls, ui);
    for (auto _ : state)
        benchmark::DoNotOptimize(presenter.BuildPseudoSection());
}
BENCHMARK(BM_BuildWithPresenter)->Unit(benchmark::kMillisecond);

struct TDrawnSection {
    TPseudoSection Model{Survey()};
    TMemoryGraph2D Graph;
    TFakeSectionControls Controls;
    TSilentUi Ui;
    TSectionPresenter Presenter{Model, Graph, Controls, Ui};
    std::vector<int> Members; // quadripoles of the drawn section

    TDrawnSection()
    {
        Presenter.BuildPseudoSection();
        Presenter.UpdatePseudoSection(nullptr, 0, 0);
        for (int i = 0; i < Survey().QuadCount; ++i)
            if (Model.CellsOf(i, Model.lastPlane, Model.lastSection))
                Members.push_back(i);
    }
};

// A measured group of ten records in the drawn section, colour range re-applied.
void BM_UpdatePseudoSection(benchmark::State &state)
{
    TDrawnSection page;
    TRecordArray records{};
    for (std::size_t k = 0; k < records.size(); ++k)
        records[k].Rho = 10.0f + float(k);
    std::size_t at = 0;
    for (auto _ : state) {
        const int first = page.Members[at];
        at = (at + 10) % (page.Members.size() - 10);
        page.Presenter.UpdatePseudoSection(records.data(), first, 10);
    }
    state.counters["cells"] = double(page.Graph.Subsets() * page.Graph.Points());
}
BENCHMARK(BM_UpdatePseudoSection)->Unit(benchmark::kMicrosecond);

// Drawing a whole section again (a click on another section).
void BM_RedrawSection(benchmark::State &state)
{
    TDrawnSection page;
    for (auto _ : state) {
        page.Model.lastSection = -1;
        page.Presenter.UpdatePseudoSection(nullptr, 0, 0);
    }
    state.counters["members"] = double(page.Members.size());
    state.counters["cells"] = double(page.Graph.Subsets() * page.Graph.Points());
}
BENCHMARK(BM_RedrawSection)->Unit(benchmark::kMillisecond);

void BM_InitProgressGraph(benchmark::State &state)
{
    TMemoryGraph3D graph;
    TProgressGraph progress(Survey(), graph);
    for (auto _ : state)
        progress.InitProgressGraph();
}
BENCHMARK(BM_InitProgressGraph)->Unit(benchmark::kMillisecond);

// One block of ten moved on, as each group of a run does.
void BM_UpdateProgressGraph(benchmark::State &state)
{
    TMemoryGraph3D graph;
    TProgressGraph progress(Survey(), graph, [] { return true; });
    progress.InitProgressGraph();
    int s = 0;
    for (auto _ : state) {
        progress.UpdateProgressGraph(10, s);
        s = s + 10 < Survey().QuadCount ? s + 10 : 0;
    }
}
BENCHMARK(BM_UpdateProgressGraph)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
