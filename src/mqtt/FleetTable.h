#pragma once
// What the office knows of each station, from the messages the stations
// publish under PREFIX/<station>/status, health and group: one line each.
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

struct TFleetStation {
    QString State = QStringLiteral("unknown");
    QJsonObject Status;
    std::optional<double> TxBattery, RxBattery, Temperature;
    // Seconds between the station's reports, as it announces them.
    int PeriodSeconds = 120;
    QDateTime LastSeen;
};

class TFleetTable {
public:
    explicit TFleetTable(const QString &prefix) : Prefix(prefix) {}

    // Takes one message; received stands in for a payload without a time.
    // False when the topic or the payload is not a station's message.
    bool Apply(const QString &topic, const QByteArray &payload, const QDateTime &received);

    // Heading and one line per station, by name.
    QStringList Lines(const QDateTime &now) const;
    // The line of one station.
    QString Line(const QString &name, const QDateTime &now) const;
    // Quiet for more than three of its report periods, and not offline.
    static bool Stale(const TFleetStation &station, const QDateTime &now);
    static QString Progress(const TFleetStation &station);

    std::map<QString, TFleetStation> Stations;

private:
    QString Prefix;
};
