// tarnelpro-cli qc: the quality summary of a data file.
#include "base/TarnelError.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "instrument/DataFileReader.h"
#include "instrument/ConfigFile.h"
#include "instrument/QualityControl.h"
#include "instrument/ResistanceTable.h"

#include <QFileInfo>

#include <cstdio>

int RunQcCommand(const QStringList &args)
{
    const auto usage = [] {
        PrintError(QStringLiteral("usage: tarnelpro-cli qc FILE.bin [--config FILE.ini]"));
        return 2;
    };
    QString input, config;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--config") && i + 1 < args.size())
            config = args[++i];
        else if (input.isEmpty() && !a.startsWith(QLatin1Char('-')))
            input = a;
        else
            return usage();
    }
    if (input.isEmpty())
        return usage();
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
    TResistanceTable resistances;
    if (const QString table = TResistanceTable::FileFor(input); QFileInfo::exists(table)) {
        if (const QString error = resistances.Read(table); !error.isEmpty()) {
            PrintError(QStringLiteral("%1: %2").arg(table, error));
            return 1;
        }
    }
    try {
        TDataFileReader reader;
        reader.Read(input);
        if (reader.TornBytes() > 0)
            PrintError(QStringLiteral("%1: the last %2 bytes are a partial record and were left out")
                           .arg(input)
                           .arg(reader.TornBytes()));
        TQualityControl qc(s);
        qc.SetBadElectrodes(resistances.BadPositions());
        for (const TDataRecord &r : reader.Records())
            qc.Add(r);
        std::printf("records %d\n", qc.Records());
        for (int b = 0; b < TQualityControl::FlagCount; ++b)
            std::printf("flag %s %d\n", TQualityControl::FlagName(b), qc.Count(b));
        const auto &e = qc.ReciprocalErrors();
        std::printf("reciprocals %d median %.3f p95 %.3f\n", int(e.size()), TQualityControl::Percentile(e, 50),
                    TQualityControl::Percentile(e, 95));
        double a = 0, b = 0;
        if (qc.ErrorModel(a, b))
            std::printf("errormodel %.6g %.6g\n", a, b);
        for (const auto &[p, count] : qc.WorstElectrodes(10))
            std::printf("electrode %g %g %g flagged %d\n", double(p[0]), double(p[1]), double(p[2]), count);
        return 0;
    } catch (const ETarnelError &e) {
        PrintError(e.Message());
        return 1;
    }
}
