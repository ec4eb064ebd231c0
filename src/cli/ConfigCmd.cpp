// tarnelpro-cli config: shows the configuration a file gives once the
// defaults are applied, or saves it as the window's "Save file" would.
#include "base/Folders.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OptionParser.h"
#include "instrument/ConfigFile.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include <sys/stat.h>

namespace {
constexpr const char *ConfigUsage = "usage: tarnelpro-cli config FILE.ini --print\n"
                                    "       tarnelpro-cli config FILE.ini --save OUT.ini [--overwrite]\n";

bool SameFile(const QString &a, const QString &b)
{
    struct stat sa {}, sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
} // namespace

int RunConfigCommand(const QStringList &args)
{
    TOptionParser options("config", ConfigUsage);
    if (!options.Parse(args, {"--save"}, {"--print", "--overwrite"}, 1))
        return 2;
    const bool print = options.Has("--print");
    const bool save = options.Has("--save");
    const bool overwrite = options.Has("--overwrite");
    if (options.Positionals().isEmpty() || print == save || (print && overwrite))
        return options.UsageError(
            QStringLiteral("expected FILE.ini then --print, or --save OUT.ini [--overwrite]; got \"%1\"")
                .arg(args.join(QLatin1Char(' '))));
    const QString file = options.Positionals().first();

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
    const QString out = options.Value("--save");
    // Saving a file onto itself is what the window's "Save file" does; any
    // other file there is replaced only when asked, and only a configuration.
    if (QFileInfo::exists(out) && !SameFile(file, out)) {
        if (const QString why = TConfigFile::NotAConfiguration(out); !why.isEmpty()) {
            PrintError(QStringLiteral("tarnelpro-cli config: \"%1\" is not a configuration file (%2): not replaced")
                           .arg(out, why));
            return 1;
        }
        if (!overwrite) {
            PrintError(QStringLiteral("tarnelpro-cli config: \"%1\" exists: not replaced without --overwrite").arg(out));
            return 1;
        }
    }
    error = TConfigFile::WriteFrom(file, out, values);
    if (!error.isEmpty()) {
        PrintError(QStringLiteral("tarnelpro-cli: cannot save \"%1\": %2").arg(out, error));
        return 1;
    }
    return 0;
}
