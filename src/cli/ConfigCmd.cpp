// tarnelpro-cli config: shows the configuration a file gives once the
// defaults are applied, or saves it as the window's "Save file" would.
#include "base/Folders.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "instrument/ConfigFile.h"

#include <cstdio>

namespace {
int Usage()
{
    PrintError(QStringLiteral("usage: tarnelpro-cli config FILE.ini --print\n"
                              "       tarnelpro-cli config FILE.ini --save OUT.ini"));
    return 2;
}
} // namespace

int RunConfigCommand(const QStringList &args)
{
    const bool print = args.size() == 2 && args[1] == QLatin1String("--print");
    const bool save = args.size() == 3 && args[1] == QLatin1String("--save");
    if ((!print && !save) || args[0].startsWith(QLatin1String("--")))
    {
        PrintError(QStringLiteral("tarnelpro-cli config: expected FILE.ini then --print, or --save OUT.ini; got \"%1\"")
                       .arg(args.join(QLatin1Char(' '))));
        return Usage();
    }
    const QString &file = args[0];

    // The paths a missing key leaves as they are: the window's start values.
    TConfigValues current;
    current.AcquisitionFile = DataFolder() + QStringLiteral("Tarnel.bin");
    TConfigValues values;
    QString error;
    if (!TConfigFile::Read(file, current, values, &error)) {
        PrintError(QStringLiteral("tarnelpro-cli: cannot read \"%1\": %2").arg(file, error));
        return 1;
    }
    if (print) {
        QString text = TConfigFile::Text(values);
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        const QByteArray bytes = text.toUtf8();
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    error = TConfigFile::WriteFrom(file, args[2], values);
    if (!error.isEmpty()) {
        PrintError(QStringLiteral("tarnelpro-cli: cannot save \"%1\": %2").arg(args[2], error));
        return 1;
    }
    return 0;
}
