// tarnelpro-cli export: a data file in the format of a processing tool.
#include "base/TarnelError.h"
#include "base/TextCodec.h"
#include "cli/Commands.h"
#include "cli/Console.h"
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
    const auto usage = [](const QString &why) {
        PrintError(QStringLiteral("tarnelpro-cli export: %1").arg(why));
        PrintError(QStringLiteral("usage: tarnelpro-cli export FILE.bin --format %1 [-o OUT|-] [--overwrite] "
                                  "[--line] [--ip none|chargeability|phase:F] [--config FILE.ini] [--survey FILE.txt] [--reverse]")
                       .arg(TDataExporter::FormatNames().join(QLatin1Char('|'))));
        return 2;
    };
    QString input, formatName, output, survey, configSurvey;
    bool overwrite = false;
    TExportOptions options;
    TExportQuality quality;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool takesValue = a == QLatin1String("--format") || a == QLatin1String("-o") || a == QLatin1String("--ip") ||
                                a == QLatin1String("--config") || a == QLatin1String("--survey");
        if (takesValue && i + 1 >= args.size())
            return usage(QStringLiteral("%1 needs a value").arg(a));
        if (a == QLatin1String("--format"))
            formatName = args[++i];
        else if (a == QLatin1String("-o"))
            output = args[++i];
        else if (a == QLatin1String("--config")) {
            // The limits the qc column judges by, as the run and `qc` read them.
            TConfigValues values;
            QString error;
            const QString config = args[++i];
            if (!QFileInfo(config).isFile() || !TConfigFile::Read(config, values, values, &error)) {
                PrintError(QStringLiteral("%1: %2").arg(
                    config, error.isEmpty() ? QStringLiteral("no such configuration file") : error));
                return 1;
            }
            quality.Settings = TQualitySettings::FromConfig(values);
            // Its survey names the electrodes, as the run numbered them.
            configSurvey = !values.CoordinateFile.isEmpty() ? values.CoordinateFile : values.QuadripoleFile;
        } else if (a == QLatin1String("--survey"))
            survey = args[++i];
        else if (a == QLatin1String("--reverse"))
            options.Reverse = true;
        else if (a == QLatin1String("--ip")) {
            if (!ParseIp(args[++i], options))
                return usage(QStringLiteral("--ip takes none, chargeability or phase:F with F > 0 (mrad per mV/V), not \"%1\"")
                                 .arg(args[i]));
        } else if (a == QLatin1String("--overwrite"))
            overwrite = true;
        else if (a == QLatin1String("--line"))
            options.Line = true;
        else if (input.isEmpty() && !a.startsWith(QLatin1Char('-')))
            input = a;
        else
            return usage(QStringLiteral("unexpected argument \"%1\"").arg(a));
    }
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
