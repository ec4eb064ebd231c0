// tarnelpro-cli export: a data file in the format of a processing tool.
#include "base/TarnelError.h"
#include "base/TextCodec.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OptionParser.h"
#include "instrument/ConfigFile.h"
#include "instrument/DataExporter.h"
#include "survey/Sequence.h"

#include <QFileInfo>

#include <memory>

namespace {
// "none", "chargeability" or "phase:F" (mrad per mV/V).
bool ParseIp(const QString &text, TExportOptions &options)
{
    if (text == QLatin1String("none")) {
        options.Ip = TIpColumn::None;
        return true;
    }
    if (text == QLatin1String("chargeability")) {
        options.Ip = TIpColumn::Chargeability;
        return true;
    }
    if (text.startsWith(QLatin1String("phase:"))) {
        bool ok = false;
        const double factor = ParseFileReal(QStringView(text).mid(6), &ok);
        if (!ok || !(factor > 0))
            return false;
        options.Ip = TIpColumn::Phase;
        options.PhasePerChargeability = factor;
        return true;
    }
    return false;
}

// The field numbers of a survey's coordinates (a coordinate file, or a
// quadripole file that holds them); an error message when they cannot be read.
QString ReadNumbers(const QString &path, TExportOptions &options)
{
    if (!QFileInfo(path).isFile())
        return QStringLiteral("%1: no such survey file").arg(path);
    auto survey = std::make_unique<TSequence>();
    const TLoadReport report = survey->ReadCoordinateFile(path);
    if (report.Failed)
        return QStringLiteral("%1: %2").arg(path, report.Error);
    if (survey->NodeCount == 0)
        return QStringLiteral("%1: no electrode coordinates read").arg(path);
    options.Numbers = FieldNumbersOf(*survey);
    options.NumbersFrom = QFileInfo(path).fileName();
    return {};
}
} // namespace

int RunExportCommand(const QStringList &args)
{
    TOptionParser o("export", QStringLiteral("usage: tarnelpro-cli export FILE.bin --format %1 [-o OUT|-] [--overwrite] "
                                             "[--line] [--ip none|chargeability|phase:F] [--config FILE.ini] [--survey FILE.txt] "
                                             "[--reverse]\n")
                                  .arg(TDataExporter::FormatNames().join(QLatin1Char('|'))));
    if (!o.Parse(args, {"--format", "-o", "--ip", "--config", "--survey"}, {"--overwrite", "--line", "--reverse"}, 1))
        return 2;
    const auto usage = [&o](const QString &why) { return o.UsageError(why); };
    const QString input = o.Positionals().value(0), formatName = o.Value("--format"), survey = o.Value("--survey");
    QString output = o.Value("-o"), configSurvey;
    const bool overwrite = o.Has("--overwrite");
    TExportOptions options;
    options.Reverse = o.Has("--reverse");
    options.Line = o.Has("--line");
    TExportQuality quality;
    if (o.Has("--ip") && !ParseIp(o.Value("--ip"), options))
        return usage(QStringLiteral("--ip takes none, chargeability or phase:F with F > 0 (mrad per mV/V), not \"%1\"")
                         .arg(o.Value("--ip")));
    if (input.isEmpty())
        return usage(QStringLiteral("no data file given"));
    const auto format = TDataExporter::FormatOf(formatName);
    if (!format)
        return usage(formatName.isEmpty() ? QStringLiteral("no --format given")
                                          : QStringLiteral("unknown format \"%1\"").arg(formatName));
    if (options.Line && *format != TExportFormat::Unified)
        return usage(QStringLiteral("--line is for the unified format (res2dinv and protocol are always along the line)"));
    if (options.Ip != TIpColumn::None && *format != TExportFormat::Unified)
        return usage(QStringLiteral("--ip is for the unified format"));
    if (output.isEmpty())
        output = DefaultExportPath(input, *format);
    if (o.Has("--config")) {
        // The limits the qc column judges by, as the run and `qc` read them.
        TConfigValues values;
        QString error;
        const QString config = o.Value("--config");
        if (!QFileInfo(config).isFile() || !TConfigFile::Read(config, values, values, &error)) {
            PrintError(QStringLiteral("%1: %2").arg(
                config, error.isEmpty() ? QStringLiteral("no such configuration file") : error));
            return 1;
        }
        quality.Settings = TQualitySettings::FromConfig(values);
        // Its survey names the electrodes, as the run numbered them.
        configSurvey = !values.CoordinateFile.isEmpty() ? values.CoordinateFile : values.QuadripoleFile;
    }
    if (!survey.isEmpty()) {
        if (const QString error = ReadNumbers(survey, options); !error.isEmpty()) {
            PrintError(error);
            return 1;
        }
    } else if (!configSurvey.isEmpty()) {
        if (const QString error = ReadNumbers(configSurvey, options); !error.isEmpty())
            PrintError(QStringLiteral("%1 (the configuration's survey); electrodes numbered without it").arg(error));
    }
    try {
        const TExportResult result = ExportDataFile(input, *format, output, overwrite, options, quality);
        if (!result.Warning.isEmpty())
            PrintError(QStringLiteral("warning: %1").arg(result.Warning));
        if (!result.Numbering.isEmpty())
            PrintError(result.Numbering);
        if (result.TornBytes > 0)
            PrintError(QStringLiteral("%1: the last %2 bytes are a partial or zero-filled record and were left out")
                           .arg(input)
                           .arg(result.TornBytes));
        const auto records = [](qint64 n) { return QStringLiteral("%1 record%2").arg(n).arg(n == 1 ? "" : "s"); };
        if (result.LeftOut > 0)
            PrintError(QStringLiteral("%1 without a current, with Rho <= 0, without a geometric factor or with damaged values left out")
                           .arg(records(result.LeftOut)));
        if (!result.ElectrodesPath.isEmpty())
            PrintError(QStringLiteral("electrode positions written to %1").arg(result.ElectrodesPath));
        if (output != QLatin1String("-"))
            PrintError(QStringLiteral("%1 written to %2").arg(records(result.Written), output));
        return 0;
    } catch (const ETarnelError &e) {
        PrintError(e.Message());
        return 1;
    }
}
