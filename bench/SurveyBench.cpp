// Loading a full-size survey and walking it group by group, as the
// acquisition does: 15998 quadripoles (chained dipoles, eight per line) and
// 2001 nodes.
#include "survey/Sequence.h"

#include "support/ScriptedUi.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace {

struct TSurveyFiles {
    QTemporaryDir Dir;
    QString Quadripoles = Dir.filePath("Quadripoles.txt");
    QString Coordinates = Dir.filePath("Coordinates.txt");

    TSurveyFiles()
    {
        QByteArray quads = "# Num A B M N\r\n";
        int held = 0;
        for (int line = 1; held < TSequence::MaxQuadCount; ++line) {
            const int a = 1 + line % 1990;
            const int dipoles = std::min(8, TSequence::MaxQuadCount - held);
            quads += QByteArray::number(line) + ' ' + QByteArray::number(a) + ' ' + QByteArray::number(a + 1);
            for (int p = 0; p <= dipoles; ++p)
                quads += ' ' + QByteArray::number(a + 2 + p);
            quads += "\r\n";
            held += dipoles;
        }
        QByteArray nodes = "# Num X Y Z\r\n";
        for (int n = 1; n <= TSequence::MaxNodeNumber; ++n)
            nodes += QByteArray::number(n) + ' ' + QByteArray::number(n * 2.5, 'f', 2) + " -3.25 "
                     + QByteArray::number(100.0 + n % 17 * 0.125, 'f', 3) + "\r\n";
        Write(Quadripoles, quads);
        Write(Coordinates, nodes);
    }

    static void Write(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            std::abort();
    }
};

const TSurveyFiles &Files()
{
    static const TSurveyFiles files;
    return files;
}

void BM_LoadSurvey(benchmark::State &state)
{
    const TSurveyFiles &files = Files();
    auto sequence = std::make_unique<TSequence>();
    bool failed = false;
    for (auto _ : state) {
        failed |= sequence->ReadQuadripoleFile(files.Quadripoles).Failed;
        failed |= sequence->ReadCoordinateFile(files.Coordinates).Failed;
        benchmark::DoNotOptimize(sequence->Quads.data());
    }
    if (sequence->QuadCount != TSequence::MaxQuadCount || sequence->NodeCount != TSequence::MaxNodeNumber || failed)
        state.SkipWithError("the generated survey did not load whole");
}
BENCHMARK(BM_LoadSurvey)->Unit(benchmark::kMillisecond);

void BM_GroupChannelsWalk(benchmark::State &state)
{
    auto sequence = std::make_unique<TSequence>();
    sequence->ReadQuadripoleFile(Files().Quadripoles);
    TSequence::ElectrodeList electrodes{};
    int groups = 0;
    for (auto _ : state) {
        groups = 0;
        for (int first = 0; first < sequence->QuadCount; ++groups) {
            int channels = TSequence::MaxChannels;
            sequence->GroupChannels(first, channels, electrodes);
            benchmark::DoNotOptimize(electrodes.data());
            first += channels;
        }
    }
    state.counters["groups"] = groups;
}
BENCHMARK(BM_GroupChannelsWalk)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
