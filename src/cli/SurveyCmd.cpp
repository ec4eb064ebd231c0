// tarnelpro-cli survey: loads a sequence the way the window does and prints
// its table or the groups an acquisition would measure, so that a crew can
// check a survey before going out.
#include "cli/Commands.h"

#include "cli/Console.h"
#include "cli/OptionParser.h"
#include "survey/Geometry.h"
#include "survey/Sequence.h"

#include <QFileInfo>
#include <QLocale>

#include <charconv>
#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr const char *SurveyUsage =
    "usage: tarnelpro-cli survey --quadripoles Q.txt [--coordinates C.txt] [--groups N]\n"
    "  N: the most channels per group, 1 to 10\n";

// %.6g whatever the process locale: the output is read by other tools.
std::string Real(double v)
{
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 6).ptr;
    return std::string(buffer, end);
}

void PrintTable(const TSequence &s)
{
    std::fputs("index,A,B,M,N,Level,K,MidX,MidY,Depth\n", stdout);
    for (int i = 0; i < s.QuadCount; ++i) {
        const Quadripole &q = s.Quads[std::size_t(i)];
        const ElectrodeCoords c = GetQuadCoords(s, i);
        std::printf("%d,%d,%d,%d,%d,%d,%s,%s,%s,%s\n", i, q.A, q.B, q.M, q.N, q.Level,
                    Real(GeometricFactor(s, i)).c_str(), Real(MidPoint(c, AxisX)).c_str(),
                    Real(MidPoint(c, AxisY)).c_str(), Real(PseudoDepth(c)).c_str());
    }
}

// The groups in the order an acquisition measures them.
void PrintGroups(const TSequence &s, int most)
{
    TSequence::ElectrodeList electrodes{};
    int first = 0;
    while (first < s.QuadCount) {
        int count = most;
        s.GroupChannels(first, count, electrodes);
        if (count <= 0)
            break;
        std::printf("%d,%d", first, count);
        for (std::int16_t e : electrodes)
            std::printf(",%d", int(e));
        std::fputc('\n', stdout);
        first += count;
    }
}

} // namespace

int RunSurveyCommand(const QStringList &args)
{
    TOptionParser options("survey", SurveyUsage);
    if (!options.Parse(args, {"--quadripoles", "--coordinates", "--groups"}))
        return 2;
    if (!options.Has("--quadripoles"))
        return options.UsageError("--quadripoles is required");
    const QString quadripoles = options.Value("--quadripoles");
    const QString coordinates = options.Value("--coordinates");
    const bool haveCoordinates = options.Has("--coordinates");
    const bool haveGroups = options.Has("--groups");
    int groups = 0;
    if (!options.Int("--groups", groups, 1, TSequence::MaxChannels, "a number of channels from 1 to 10"))
        return 2;

    // The window silently ignores a missing file; here it is the mistake to report.
    for (const QString &path : {quadripoles, coordinates}) {
        if (path.isNull())
            continue;
        if (!QFileInfo::exists(path)) {
            std::fprintf(stderr, "tarnelpro-cli survey: cannot find file '%s'\n", qPrintable(path));
            return 1;
        }
    }

    auto sequence = std::make_unique<TSequence>();
    // What was read is printed even when a file is refused; the status says it.
    bool failed = false;
    const auto say = [&failed](const QString &title, const QString &path, const TLoadReport &report) {
        for (const QString &ignored : report.Ignored)
            PrintError(QStringLiteral("tarnelpro-cli survey: %1: %2").arg(path, ignored));
        if (report.Failed) {
            PrintError(QStringLiteral("tarnelpro-cli survey: %1: %2: %3").arg(title, path, report.Error));
            failed = true;
        }
    };
    say(TSequence::QuadripoleFileError, quadripoles, sequence->ReadQuadripoleFile(quadripoles));
    if (haveCoordinates) {
        const TLoadReport nodes = sequence->ReadCoordinateFile(coordinates);
        say(TSequence::CoordinateFileError, coordinates, nodes);
        // An electrode without a position would give every quadripole that
        // uses it a wrong geometric factor.
        if (const QString missing = sequence->UndefinedElectrodes(); !nodes.Failed && !missing.isEmpty()) {
            PrintError(QStringLiteral("tarnelpro-cli survey: %1: %2: %3").arg(TSequence::CoordinateFileError, coordinates, missing));
            failed = true;
        }
    }

    std::printf("QuadCount=%d NodeCount=%d\n", int(sequence->QuadCount), int(sequence->NodeCount));
    if (haveGroups)
        PrintGroups(*sequence, groups);
    else
        PrintTable(*sequence);
    std::fflush(stdout);
    return failed ? 1 : 0;
}
