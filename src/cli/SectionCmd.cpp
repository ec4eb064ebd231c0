// tarnelpro-cli section: builds the pseudo-section of a survey as Start does
// and prints its planes, sections and cells; with a data file, stores its
// Rho values as the acquisition would and prints them with the colour range.
#include "cli/Commands.h"

#include "base/TarnelError.h"
#include "cli/Console.h"
#include "cli/OptionParser.h"
#include "graph/PseudoSection.h"
#include "graph/SectionPresenter.h"
#include "instrument/DataFileReader.h"
#include "survey/Sequence.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr const char *SectionUsage = "usage: tarnelpro-cli section --quadripoles Q.txt --coordinates C.txt "
                                     "[--data FILE.bin]\n";

// Whatever the process locale: the output is read by other tools.
std::string Fixed3(double v)
{
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, 3).ptr;
    return std::string(buffer, end);
}

std::string Significant7(double v)
{
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 7).ptr;
    return std::string(buffer, end);
}

const char *PlaneName(int plane)
{
    switch (plane) {
    case TPseudoSection::PlaneYZ:
        return "YZ";
    case TPseudoSection::PlaneXZ:
        return "XZ";
    default:
        return "XY";
    }
}

void PrintModel(const TPseudoSection &model, int quadCount)
{
    for (int plane = 0; plane < TPseudoSection::PlaneCount; ++plane) {
        const auto &sections = model.sectionLists[std::size_t(plane)];
        std::printf("plane %d %s sections %zu\n", plane, PlaneName(plane), sections.size());
        const auto &lo = model.planeMin[std::size_t(plane)];
        const auto &hi = model.planeMax[std::size_t(plane)];
        if (lo[0] > hi[0])
            std::fputs("extent none\n", stdout);
        else
            std::printf("extent %s %s %s %s\n", Fixed3(lo[0]).c_str(), Fixed3(hi[0]).c_str(), Fixed3(lo[1]).c_str(),
                        Fixed3(hi[1]).c_str());
        for (std::size_t s = 0; s < sections.size(); ++s) {
            const auto &section = sections[s];
            std::printf("section %d rows %d columns %d\n", int(section.key), int(section.rowCount),
                        int(section.columnCount));
            for (int i = 0; i < quadCount; ++i)
                if (const auto cells = model.CellsOf(i, plane, int(s)))
                    std::printf("cell %d %d %d %d\n", i, int(cells->row), int(cells->firstColumn),
                                int(cells->lastColumn));
        }
    }
}

} // namespace

int RunSectionCommand(const QStringList &args)
{
    TOptionParser options("section", SectionUsage);
    if (!options.Parse(args, {"--quadripoles", "--coordinates", "--data"}))
        return 2;
    if (!options.Has("--quadripoles"))
        return options.UsageError("--quadripoles is required");
    if (!options.Has("--coordinates"))
        return options.UsageError("--coordinates is required");
    const QString quadripoles = options.Value("--quadripoles");
    const QString coordinates = options.Value("--coordinates");
    const QString data = options.Value("--data");
    const bool haveData = options.Has("--data");

    // The window silently ignores a missing survey file; here it is the mistake to report.
    for (const QString &path : {quadripoles, coordinates}) {
        if (!QFileInfo::exists(path)) {
            std::fprintf(stderr, "tarnelpro-cli section: cannot find file '%s'\n", qPrintable(path));
            return 1;
        }
    }

    auto survey = std::make_unique<TSequence>();
    const TLoadReport quadReport = survey->ReadQuadripoleFile(quadripoles);
    const TLoadReport nodeReport = survey->ReadCoordinateFile(coordinates);
    const auto say = [](const TLoadReport &report, const QString &title, const QString &path) {
        if (report.Failed)
            std::fprintf(stderr, "tarnelpro-cli section: %s\n",
                         qPrintable(report.Message(title, path).replace(QLatin1Char('\n'), QLatin1String(": "))));
    };
    say(quadReport, TSequence::QuadripoleFileError, quadripoles);
    say(nodeReport, TSequence::CoordinateFileError, coordinates);
    if (quadReport.Failed || nodeReport.Failed)
        return 1;

    TDataFileReader reader;
    if (haveData) {
        try {
            reader.Read(data);
        } catch (const ETarnelError &e) {
            std::fprintf(stderr, "tarnelpro-cli section: %s\n", qPrintable(e.Message()));
            return 1;
        }
        if (reader.Records().empty()) {
            std::fprintf(stderr, "tarnelpro-cli section: '%s' holds no record\n", qPrintable(data));
            return 1;
        }
        if (reader.TornBytes() > 0)
            std::fprintf(stderr, "tarnelpro-cli section: '%s' ends with %lld bytes of a partial record, left out\n",
                         qPrintable(data), static_cast<long long>(reader.TornBytes()));
    }

    TPseudoSection model(*survey);
    model.Build();
    const int quadCount = static_cast<int>(model.quadCoords.size());
    PrintModel(model, quadCount);

    if (haveData) {
        const auto &records = reader.Records();
        const int reached = std::min(quadCount, static_cast<int>(records.size()));
        for (int i = 0; i < reached; ++i)
            if (survey->Quads[std::size_t(i)].Level >= 0)
                model.StoreRho(i, records[std::size_t(i)].Rho);
        for (int i = 0; i < reached; ++i)
            if (survey->Quads[std::size_t(i)].Level >= 0)
                std::printf("rho %d %s\n", i, Significant7(model.rhoValues[std::size_t(i)]).c_str());
        std::printf("range %s %s\n", Significant7(model.rhoMin).c_str(), Significant7(model.rhoMax).c_str());
        const auto scale = TSectionPresenter::RunningScale(model.rhoMin, model.rhoMax);
        std::printf("scale %s %s %s\n", Significant7(scale.Min).c_str(), Significant7(scale.Max).c_str(),
                    Significant7(scale.Step).c_str());
        if (static_cast<int>(records.size()) > quadCount)
            std::fprintf(stderr, "tarnelpro-cli section: '%s' holds %zu records for %d quadripoles; the rest left out\n",
                         qPrintable(data), records.size(), quadCount);
    }
    std::fflush(stdout);
    return 0;
}
