#include "mqtt/FleetTable.h"

#include <QJsonDocument>
#include <QJsonValue>

namespace {
std::optional<double> Number(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble())
        return std::nullopt;
    return v.toDouble();
}

QString Fixed(const std::optional<double> &v, int decimals)
{
    return v ? QString::number(*v, 'f', decimals) : QStringLiteral("-");
}

QString Age(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0;
    if (seconds < 120)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 7200)
        return QStringLiteral("%1 min").arg(seconds / 60);
    if (seconds < 172800)
        return QStringLiteral("%1 h").arg(seconds / 3600);
    return QStringLiteral("%1 d").arg(seconds / 86400);
}

constexpr int Widths[] = {16, 10, 22, 6, 6, 6};
} // namespace

bool TFleetTable::Apply(const QString &topic, const QByteArray &payload, const QDateTime &received)
{
    if (!topic.startsWith(Prefix + QLatin1Char('/')))
        return false;
    const QStringList levels = topic.mid(Prefix.size() + 1).split(QLatin1Char('/'));
    if (levels.size() != 2 || levels[0].isEmpty())
        return false;
    const QString &kind = levels[1];
    if (kind != QLatin1String("status") && kind != QLatin1String("health") && kind != QLatin1String("group"))
        return false;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    TFleetStation &s = Stations[levels[0]];

    const QString timeText = o.value(QLatin1String("time")).toString();
    QDateTime when = timeText.isEmpty() ? QDateTime() : QDateTime::fromString(timeText, Qt::ISODate);
    // A retained last will carries no time: it says nothing of when the station was last heard.
    if (!when.isValid() && !(kind == QLatin1String("status") && o.value(QLatin1String("state")).toString() == QLatin1String("offline")))
        when = received;
    if (when.isValid() && (!s.LastSeen.isValid() || when > s.LastSeen))
        s.LastSeen = when;
    if (const auto period = Number(o, "period"); period && *period >= 1)
        s.PeriodSeconds = int(*period);

    const auto health = [&s](const QJsonObject &h) {
        if (const auto v = Number(h, "tx_battery"))
            s.TxBattery = v;
        if (const auto v = Number(h, "rx_battery"))
            s.RxBattery = v;
        if (const auto v = Number(h, "temperature"))
            s.Temperature = v;
    };
    if (kind == QLatin1String("status")) {
        s.State = o.value(QLatin1String("state")).toString(QStringLiteral("unknown"));
        s.Status = o;
        if (o.value(QLatin1String("health")).isObject())
            health(o.value(QLatin1String("health")).toObject());
    } else if (kind == QLatin1String("health")) {
        health(o);
    }
    return true;
}

bool TFleetTable::Stale(const TFleetStation &station, const QDateTime &now)
{
    if (station.State == QLatin1String("offline") || !station.LastSeen.isValid())
        return false;
    return station.LastSeen.secsTo(now) > 3LL * station.PeriodSeconds;
}

QString TFleetTable::Progress(const TFleetStation &station)
{
    const QJsonObject &o = station.Status;
    if (station.State == QLatin1String("measuring")) {
        return QStringLiteral("group %1/%2 (%3/%4)")
            .arg(o.value(QLatin1String("group")).toInt())
            .arg(o.value(QLatin1String("groups")).toInt())
            .arg(o.value(QLatin1String("quadripole")).toInt())
            .arg(o.value(QLatin1String("quadripoles")).toInt());
    }
    if (station.State == QLatin1String("waiting")) {
        const QDateTime until = QDateTime::fromString(o.value(QLatin1String("until")).toString(), Qt::ISODate);
        if (until.isValid())
            return QStringLiteral("until ") + until.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    }
    if (station.State == QLatin1String("error"))
        return o.value(QLatin1String("reason")).toString();
    return QStringLiteral("-");
}

QString TFleetTable::Line(const QString &name, const QDateTime &now) const
{
    const auto it = Stations.find(name);
    if (it == Stations.end())
        return {};
    const TFleetStation &s = it->second;
    const QString cells[] = {name, s.State, Progress(s), Fixed(s.TxBattery, 1), Fixed(s.RxBattery, 1),
                             Fixed(s.Temperature, 0)};
    QString line;
    for (std::size_t i = 0; i < std::size(cells); ++i)
        line += cells[i].leftJustified(Widths[i]) + QLatin1Char(' ');
    if (s.LastSeen.isValid())
        line += s.LastSeen.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" (") +
                Age(s.LastSeen.secsTo(now)) + QStringLiteral(" ago)");
    else
        line += QStringLiteral("-");
    if (Stale(s, now))
        line += QStringLiteral(" stale");
    return line;
}

QStringList TFleetTable::Lines(const QDateTime &now) const
{
    const QString heads[] = {QStringLiteral("STATION"), QStringLiteral("STATE"), QStringLiteral("PROGRESS"),
                             QStringLiteral("TX V"), QStringLiteral("RX V"), QStringLiteral("TEMP")};
    QString heading;
    for (std::size_t i = 0; i < std::size(heads); ++i)
        heading += heads[i].leftJustified(Widths[i]) + QLatin1Char(' ');
    QStringList lines{heading + QStringLiteral("LAST SEEN")};
    for (const auto &entry : Stations)
        lines << Line(entry.first, now);
    return lines;
}
