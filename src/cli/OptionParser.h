#pragma once
// The "--name VALUE" options of a tarnelpro-cli command: each known name at
// most once, each with its value. Usage errors go to stderr with the
// command's usage text and exit status 2.
#include <QMap>
#include <QString>
#include <QStringList>

#include <initializer_list>

class TOptionParser {
public:
    TOptionParser(const char *command, const char *usage) : Command(command), Usage(usage) {}

    // False after reporting an unknown, repeated or valueless option.
    bool Parse(const QStringList &args, std::initializer_list<const char *> names);
    bool Has(const char *name) const { return Values.contains(QLatin1String(name)); }
    QString Value(const char *name) const { return Values.value(QLatin1String(name)); }

    // Prints "tarnelpro-cli COMMAND: why 'what'" and the usage; returns 2.
    int UsageError(const char *why, const QString &what = {}) const;

private:
    const char *Command;
    const char *Usage;
    QMap<QString, QString> Values;
};
