#include "cli/OptionParser.h"

#include "base/TextCodec.h"

#include <algorithm>
#include <cstdio>

namespace {
bool Known(std::initializer_list<const char *> names, const QString &arg)
{
    return std::any_of(names.begin(), names.end(), [&](const char *n) { return arg == QLatin1String(n); });
}
} // namespace

TOptionParser::TOptionParser(const char *command, const QString &usage) : Command(command), Usage(usage)
{
    if (!Usage.endsWith(QLatin1Char('\n')))
        Usage += QLatin1Char('\n');
}

bool TOptionParser::Parse(const QStringList &args, std::initializer_list<const char *> valued,
                          std::initializer_list<const char *> flags, qsizetype positionals)
{
    Values.clear();
    Free.clear();
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const bool takesValue = Known(valued, arg);
        if (!takesValue && !Known(flags, arg)) {
            // "-" alone is no file either: nothing here reads standard input.
            if (arg.startsWith(QLatin1Char('-')) || (positionals != AnyCount && Free.size() >= positionals)) {
                UsageError(QStringLiteral("unexpected argument \"%1\"").arg(arg));
                return false;
            }
            Free << arg;
            continue;
        }
        // A later value would silently win over the earlier one.
        if (Values.contains(arg)) {
            UsageError(QStringLiteral("repeated option \"%1\"").arg(arg));
            return false;
        }
        if (!takesValue) {
            Values.insert(arg, QString());
            continue;
        }
        // "--config --yes" is a forgotten value, not a file named "--yes".
        if (i + 1 >= args.size() || args[i + 1].startsWith(QLatin1String("--"))) {
            UsageError(QStringLiteral("%1 needs a value").arg(arg));
            return false;
        }
        Values.insert(arg, args[++i]);
    }
    return true;
}

bool TOptionParser::Int(const char *name, qint64 &to, qint64 min, qint64 max, const char *wants)
{
    if (!Has(name))
        return true;
    bool ok = false;
    const qint64 v = ParseFileInteger(Value(name), &ok);
    if (!ok || v < min || v > max) {
        UsageError(QStringLiteral("%1 wants %2, not \"%3\"").arg(QLatin1String(name), QString::fromUtf8(wants), Value(name)));
        return false;
    }
    to = v;
    return true;
}

bool TOptionParser::Int(const char *name, int &to, int min, int max, const char *wants)
{
    qint64 v = to;
    if (!Int(name, v, min, max, wants))
        return false;
    to = int(v);
    return true;
}

bool TOptionParser::Real(const char *name, double &to, double min, double max, const char *wants, bool aboveMin)
{
    if (!Has(name))
        return true;
    bool ok = false;
    // Finite by construction: ParseFileReal refuses inf and nan.
    const double v = ParseFileReal(Value(name), &ok);
    if (!ok || v < min || (aboveMin && v == min) || v > max) {
        UsageError(QStringLiteral("%1 wants %2, not \"%3\"").arg(QLatin1String(name), QString::fromUtf8(wants), Value(name)));
        return false;
    }
    to = v;
    return true;
}

int TOptionParser::UsageError(const QString &why)
{
    Why = why;
    const QByteArray text = "tarnelpro-cli " + Command + ": " + why.toLocal8Bit() + '\n' + Usage.toLocal8Bit();
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
    std::fflush(stderr);
    return 2;
}

int TOptionParser::UsageError(const char *why, const QString &what)
{
    const QString text = QString::fromUtf8(why);
    return UsageError(what.isEmpty() ? text : QStringLiteral("%1 '%2'").arg(text, what));
}
