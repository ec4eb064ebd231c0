#pragma once
// Where a station publishes its state: the broker, the topic prefix, the
// credentials and the quality of service, from the [Mqtt] keys of a
// configuration or from `--mqtt URL/TOPIC`.
#include <QDateTime>
#include <QString>

struct TMqttSettings {
    QString Host;
    int Port = 1883;
    bool Tls = false;
    // Prefix of every topic, without a trailing "/" ("tarnelpro/st1").
    QString Topic;
    QString Username;
    QString PasswordFile;
    // Certificate authority file for mqtts://; empty: the system's certificates.
    QString CaFile;
    int Qos = 1;
    // Commands accepted on <Topic>/command.
    bool Commands = false;

    // Reads "mqtt://HOST[:PORT][/TOPIC]" or "mqtts://…" (default ports 1883 and
    // 8883). The path, when there is one, becomes the topic prefix. Returns
    // what is wrong with the text, empty when it is usable.
    static QString ParseUrl(const QString &url, TMqttSettings &out);
    // "mqtt://HOST:PORT" (without the topic).
    QString BrokerText() const;
    // "tarnelpro/<host name>".
    static QString DefaultTopic();
    // Why topic cannot be a prefix to publish under (wildcards, empty levels),
    // empty when it can.
    static QString TopicProblem(const QString &topic);
    // Everything checked before connecting; empty when usable.
    QString Problem() const;
    // The first line of PasswordFile; false with the reason when unreadable.
    bool ReadPassword(QString &password, QString &error) const;
};

// "2026-12-11T09:05:31+01:00": local time with its offset, as every payload
// carries it.
QString IsoTime(const QDateTime &time);
