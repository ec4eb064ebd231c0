// tarnelpro-cli qc: the quality summary of a data file.
#include "base/TarnelError.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OptionParser.h"
#include "instrument/DataFileReader.h"
#include "instrument/ConfigFile.h"
#include "instrument/QualityControl.h"
#include "instrument/ResistanceTable.h"

#include <QFileInfo>

#include <cstdio>

int RunQcCommand(const QStringList &args)
{
    TOptionParser options("qc", "usage: tarnelpro-cli qc FILE.bin [--config FILE.ini]\n");
    if (!options.Parse(args, {"--config"}, {}, 1))
        return 2;
    if (options.Positionals().isEmpty())
        return options.UsageError("no data file given");
    const QString input = options.Positionals().first();
    const QString config = options.Value("--config");
    // Judged as the run judged it: Q max of the acquisition parameters, the
    // floors of [Quality], the electrodes of the resistance check beside the file.
    TConfigValues values;
    if (!config.isEmpty()) {
        QString error;
        if (!QFileInfo(config).isFile()) {
            PrintError(QStringLiteral("%1: no such configuration file").arg(config));
            return 1;
        }
        if (!TConfigFile::Read(config, values, values, &error)) {
            PrintError(QStringLiteral("%1: %2").arg(config, error));
            return 1;
        }
    }
    const TQualitySettings s = TQualitySettings::FromConfig(values);
    // A damaged table costs the bad_electrode judgement, not the summary.
    TResistanceTable resistances;
    if (const QString table = TResistanceTable::FileFor(input); QFileInfo::exists(table)) {
        if (const QString error = resistances.Read(table); !error.isEmpty())
            PrintError(QStringLiteral("warning: %1: %2; judged without bad_electrode").arg(table, error));
    }
    try {
        TDataFileReader reader;
        reader.Read(input);
        if (reader.TornBytes() > 0)
            PrintError(QStringLiteral("%1: the last %2 bytes are a partial record and were left out")
                           .arg(input)
                           .arg(reader.TornBytes()));
        if (reader.Records().empty()) {
            PrintError(QStringLiteral("%1: no record to judge").arg(input));
            return 1;
        }
        TQualityControl qc(s);
        qc.SetBadElectrodes(resistances.BadPositions());
        for (const TDataRecord &r : reader.Records())
            qc.Add(r);
        std::printf("records %d\n", qc.Records());
        for (int b = 0; b < TQualityControl::FlagCount; ++b)
            std::printf("flag %s %d\n", TQualityControl::FlagName(b), qc.Count(b));
        const auto &e = qc.ReciprocalErrors();
        // Without a pair there is no spread to state.
        if (e.empty())
            std::printf("reciprocals 0\n");
        else
            std::printf("reciprocals %d median %.3f p95 %.3f\n", int(e.size()), TQualityControl::Percentile(e, 50),
                        TQualityControl::Percentile(e, 95));
        // The models the exports write: errormodel A B is |dR| = A + B |R|
        // (A >= 0), ipmodel C D is |dM| = C / |R| + D; an exported error is never
        // below its |R| bin's mean nor the floor.
        if (const auto m = qc.ResistanceModel(); m.Valid()) {
            std::printf("errormodel %.6g %.6g\n", m.Q, m.P);
            std::printf("errorfloor %.6g\n", m.Floor);
            for (const auto &bin : m.Bins)
                std::printf("errorbin %.6g %.6g pairs %d mean %.3f %%\n", bin.Low, bin.High, bin.Pairs,
                            100 * bin.MeanError);
        }
        if (const auto m = qc.ChargeabilityModel(); m.Valid()) {
            std::printf("ipmodel %.6g %.6g\n", m.Q, m.P);
            for (const auto &bin : m.Bins)
                std::printf("ipbin %.6g %.6g pairs %d mean %.6g mV/V\n", bin.Low, bin.High, bin.Pairs, bin.MeanError);
        }
        for (const auto &[p, count] : qc.WorstElectrodes(10))
            std::printf("electrode %g %g %g flagged %d\n", double(p[0]), double(p[1]), double(p[2]), count);
        return 0;
    } catch (const ETarnelError &e) {
        PrintError(e.Message());
        return 1;
    }
}
