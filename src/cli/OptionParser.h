#pragma once
// The command line of a tarnelpro-cli command: "--name VALUE" options,
// "--flag" options, each at most once, and up to a given number of
// positional arguments (anything not starting with "-"). Every usage error
// goes to stderr as "tarnelpro-cli COMMAND: why" followed by the command's
// usage text; the caller then exits with status 2.
#include <QMap>
#include <QString>
#include <QStringList>

#include <initializer_list>

class TOptionParser {
public:
    // No limit on the number of positional arguments.
    static constexpr qsizetype AnyCount = -1;

    TOptionParser(const char *command, const QString &usage);
    TOptionParser(const char *command, const char *usage) : TOptionParser(command, QString::fromUtf8(usage)) {}

    // False after reporting an unexpected argument, a repeated option or an
    // option without its value (a value never starts with "--").
    bool Parse(const QStringList &args, std::initializer_list<const char *> valued,
               std::initializer_list<const char *> flags = {}, qsizetype positionals = 0);
    bool Has(const char *name) const { return Values.contains(QLatin1String(name)); }
    QString Value(const char *name) const { return Values.value(QLatin1String(name)); }
    const QStringList &Positionals() const { return Free; }

    // The value of name as a whole number from min to max, or as a finite
    // real (above min instead of from it with aboveMin). An absent option
    // leaves `to` as it is. False after reporting "NAME wants WANTS, not
    // "VALUE"".
    bool Int(const char *name, qint64 &to, qint64 min, qint64 max, const char *wants);
    bool Int(const char *name, int &to, int min, int max, const char *wants);
    bool Real(const char *name, double &to, double min, double max, const char *wants, bool aboveMin = false);

    // Prints "tarnelpro-cli COMMAND: why" (with " 'what'" after it when
    // given) and the usage; returns 2, the exit status of a usage error.
    int UsageError(const QString &why);
    int UsageError(const char *why, const QString &what = {});
    // The last usage error reported, without the command's name.
    const QString &Error() const { return Why; }

private:
    QByteArray Command;
    QString Usage;
    QString Why;
    QMap<QString, QString> Values;
    QStringList Free;
};
