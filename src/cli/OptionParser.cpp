#include "cli/OptionParser.h"

#include <algorithm>
#include <cstdio>

bool TOptionParser::Parse(const QStringList &args, std::initializer_list<const char *> names)
{
    Values.clear();
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &option = args[i];
        if (std::none_of(names.begin(), names.end(), [&](const char *n) { return option == QLatin1String(n); })) {
            UsageError("unknown argument", option);
            return false;
        }
        if (Values.contains(option)) {
            UsageError("repeated option", option);
            return false;
        }
        if (i + 1 >= args.size()) {
            UsageError("missing value after", option);
            return false;
        }
        Values.insert(option, args[++i]);
    }
    return true;
}

int TOptionParser::UsageError(const char *why, const QString &what) const
{
    if (what.isEmpty())
        std::fprintf(stderr, "tarnelpro-cli %s: %s\n", Command, why);
    else
        std::fprintf(stderr, "tarnelpro-cli %s: %s '%s'\n", Command, why, qPrintable(what));
    std::fputs(Usage, stderr);
    return 2;
}
