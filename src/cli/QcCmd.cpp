// tarnelpro-cli qc: the quality summary of a data file.
#include "base/TarnelError.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "instrument/DataFileReader.h"
#include "instrument/QualityControl.h"

#include <QFileInfo>
#include <QSettings>

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
    TQualitySettings s;
    if (!config.isEmpty()) {
        if (!QFileInfo(config).isFile()) {
            PrintError(QStringLiteral("%1: no such configuration file").arg(config));
            return 1;
        }
        QSettings ini(config, QSettings::IniFormat);
        ini.beginGroup(QStringLiteral("Quality"));
        const auto read = [&ini](const char *key, double &value) {
            bool ok = false;
            const QVariant v = ini.value(QLatin1String(key));
            if (!v.isValid())
                return true;
            const double d = v.toString().toDouble(&ok);
            if (ok && d >= 0)
                value = d;
            return ok && d >= 0;
        };
        for (auto [key, value] : {std::pair{"MaxQ", &s.MaxQ}, std::pair{"MinCurrent", &s.MinIn},
                                  std::pair{"MinVoltage", &s.MinVp},
                                  std::pair{"MaxReciprocalError", &s.MaxReciprocalError}})
            if (!read(key, *value)) {
                PrintError(QStringLiteral("%1: [Quality] %2 is not a number >= 0").arg(config, key));
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
