// A full redraw of a pseudo-section on the window's contour graph: every cell
// and marker of a 2000-cell section handed to the widget, then one repaint
// (offscreen platform). Run with QT_QPA_PLATFORM=offscreen.
#include "base/SilentUi.h"
#include "graph/PseudoSection.h"
#include "graph/SectionPresenter.h"
#include "survey/Sequence.h"
#include "ui/RhoPage.h"
#include "ui/ContourGraph.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QProgressBar>

#include <qcustomplot.h>

namespace {
// Wenner soundings: 100 positions at 20 spacings on one line, a section of
// 20 rows by 100 columns.
std::unique_ptr<TSequence> Soundings()
{
    auto s = std::make_unique<TSequence>();
    // Electrodes every 0.5 m from 60 m to 240 m.
    for (int n = 1; n <= 361; ++n)
        s->Nodes[std::size_t(n)] = Node{60.0f + 0.5f * float(n - 1), 0.0f, 0.0f, n};
    s->NodeCount = 361;
    auto node = [](float x) { return int((x - 60.0f) * 2.0f) + 1; };
    for (int k = 1; k <= 20; ++k)
        for (int p = 0; p < 100; ++p) {
            const float a = float(k), x = 100.0f + float(p);
            s->Quads[std::size_t(s->QuadCount++)] =
                Quadripole{node(x - 1.5f * a), node(x + 1.5f * a), node(x - 0.5f * a), node(x + 0.5f * a), 0};
        }
    return s;
}

void BM_FullSectionRedraw(benchmark::State &state)
{
    auto survey = Soundings();
    TSilentUi ui;
    QProgressBar bar;
    TRhoPage page([] { return true; });
    page.AttachProgressBar(&bar);
    page.resize(900, 500);
    page.show();
    TPseudoSection model(*survey);
    TSectionPresenter presenter(model, *page.PESGraph1, page, ui);
    page.Attach(&presenter, &ui);
    presenter.BuildPseudoSection();
    for (int i = 0; i < survey->QuadCount; ++i)
        model.StoreRho(i, 50.0f + float(i % 97) * 10.0f);
    auto *plot = page.PESGraph1->findChild<QCustomPlot *>();
    presenter.UpdatePseudoSection(nullptr, 0, 0);
    const auto &section = model.sectionLists[TPseudoSection::PlaneXZ][0];
    for (auto _ : state) {
        model.lastPlane = -1;
        presenter.UpdatePseudoSection(nullptr, 0, 0);
        plot->replot(QCustomPlot::rpImmediateRefresh);
    }
    state.counters["cells"] = double(section.rowCount) * double(section.columnCount);
}
BENCHMARK(BM_FullSectionRedraw)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
