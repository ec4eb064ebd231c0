// tarnelpro-cli export: a data file in the format of a processing tool.
#include "base/TarnelError.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "instrument/DataExporter.h"

int RunExportCommand(const QStringList &args)
{
    const auto usage = [] {
        PrintError(QStringLiteral("usage: tarnelpro-cli export FILE.bin --format %1 [-o OUT]")
                       .arg(TDataExporter::FormatNames().join(QLatin1Char('|'))));
        return 2;
    };
    QString input, formatName, output;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if ((a == QLatin1String("--format") || a == QLatin1String("-o")) && i + 1 < args.size())
            (a == QLatin1String("-o") ? output : formatName) = args[++i];
        else if (input.isEmpty() && !a.startsWith(QLatin1Char('-')))
            input = a;
        else
            return usage();
    }
    const auto format = TDataExporter::FormatOf(formatName);
    if (input.isEmpty() || !format)
        return usage();
    if (output.isEmpty())
        output = DefaultExportPath(input, *format);
    try {
        const TExportResult result = ExportDataFile(input, *format, output);
        if (result.TornBytes > 0)
            PrintError(QStringLiteral("%1: the last %2 bytes are a partial record and were left out")
                           .arg(input)
                           .arg(result.TornBytes));
        if (output != QLatin1String("-"))
            PrintError(QStringLiteral("%1 records written to %2").arg(result.Records).arg(output));
        return 0;
    } catch (const ETarnelError &e) {
        PrintError(e.Message());
        return 1;
    }
}
