// Frames per second of the 3-D progress view while it turns: 16000
// quadripoles and 2000 nodes (18000 points), the camera turned one degree
// every 10 ms for a few seconds. Needs a display with OpenGL:
//   xvfb-run -a build/bin/bench_scatter_rotate [seconds [quadripoles]]
#include "ui/ScatterGraph.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, atoi(argv[1])) : 6;
    const int quads = argc > 2 ? std::clamp(atoi(argv[2]), 1, 16000) : 16000;
    TScatterGraph graph;
    graph.resize(900, 480);
    graph.Subsets(2);
    graph.Points(16000);
    graph.SubsetPointTypes(0, 1);
    graph.SubsetPointTypes(1, 0);
    for (int p = 0; p < 16000; ++p) {
        graph.XData(0, p, p < quads ? -float(p % 400) * 0.5f : TScatterGraph::NullValue);
        graph.YData(0, p, -float(p / 400) * 0.5f);
        graph.ZData(0, p, -float(p % 7));
        graph.PointColors(0, p, p < 8000 ? 0x808080u : 0xC0C0C0u);
        const bool node = p >= 1 && p <= 2000;
        graph.XData(1, p, node ? -float(p % 400) * 0.5f : TScatterGraph::NullValue);
        graph.YData(1, p, node ? 0.0f : TScatterGraph::NullValue);
        graph.ZData(1, p, node ? -float(p / 400) : TScatterGraph::NullValue);
        graph.PointColors(1, p, 0xC0C0C0u);
    }
    graph.show();
    QApplication::processEvents();
    if (!graph.CanRender()) {
        std::fprintf(stderr, "bench_scatter_rotate: no OpenGL context (run under xvfb-run)\n");
        return 1;
    }
    graph.RebuildNow();
    graph.MeasureFps(true);
    std::vector<double> readings;
    // CPU of this process (the software renderer runs in it) per frame tells
    // the rate a free machine reaches when other work shares the cores.
    double cpuAtFirstReading = 0;
    const auto cpuSeconds = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, [&] { graph.Rotate(1.0f); });
    turn.start(10);
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] {
        readings.push_back(graph.CurrentFps());
        if (readings.size() == 1)
            cpuAtFirstReading = cpuSeconds();
    });
    sample.start(1000);
    QTimer::singleShot(seconds * 1000 + 100, &app, &QApplication::quit);
    app.exec();
    // The first second includes building the view.
    double sum = 0;
    int n = 0;
    for (std::size_t i = 1; i < readings.size(); ++i, ++n)
        sum += readings[i];
    std::printf("points %d, frames per second while rotating: %.1f (readings:", graph.DrawnPoints(), n ? sum / n : 0.0);
    for (double r : readings)
        std::printf(" %.1f", r);
    const double cpu = cpuSeconds() - cpuAtFirstReading;
    std::printf(")\nCPU per frame %.1f ms: %.1f frames per CPU second\n", n && sum > 0 ? cpu * 1000.0 / sum : 0.0,
                cpu > 0 ? sum / cpu : 0.0);
    return 0;
}
