// AppendRecords of one group of ten channels, file open, seek, write and
// close included, with the geometric factor of each quadripole.
#include "base/Clock.h"
#include "base/SilentUi.h"
#include "instrument/VoltixProGen.h"
#include "instrument/Wire.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstring>
#include <memory>

namespace {
void AppendGroup(benchmark::State &state)
{
    TSilentUi ui;
    auto model = std::make_unique<TVoltixPro>(ui, SystemClock());
    model->NodeCount = 48;
    for (int n = 1; n <= 48; ++n)
        model->Nodes[std::size_t(n)] = Node{5.0f * float(n), 0.0f, 0.1f * float(n), n};
    model->QuadCount = 10;
    for (int k = 0; k < 10; ++k)
        model->Quads[std::size_t(k)] = Quadripole{1, 2, 3 + k, 4 + k, 0};
    model->ChooseProtocol(TypeCodeV2);
    auto &gen = static_cast<TVoltixProGen &>(model->Protocol());
    for (int k = 0; k < 10; ++k) {
        auto r = gen.ChannelRecord(k);
        r[0] = std::uint8_t(0xA0 + k);
        PutLE<float>(r, Generation2.OffVp, 123.4f);
        PutLE<float>(r, Generation2.OffIn, 87.6f);
    }
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/bench.bin");
    gen.CreateDataFile(path, "benchmark");
    TRecordArray records{};
    long groups = 0;
    for (auto _ : state) {
        gen.AppendRecords(path, 10, 0, records, false);
        benchmark::DoNotOptimize(records[9].Rho);
        // Keeps the file small so the figure is the per-group cost, not the disk's.
        if (++groups % 1000 == 0) {
            state.PauseTiming();
            gen.CreateDataFile(path, "benchmark");
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(AppendGroup)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
