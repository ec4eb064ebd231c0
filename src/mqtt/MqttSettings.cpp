#include "mqtt/MqttSettings.h"

#include <QFile>
#include <QSysInfo>
#include <QUrl>

QString TMqttSettings::ParseUrl(const QString &url, TMqttSettings &out)
{
    const QString text = url.trimmed();
    const QUrl u(text, QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    if (!u.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")))
        return QStringLiteral("\"%1\" is no broker address: write mqtt://HOST[:PORT][/TOPIC] or mqtts://…").arg(text);
    if (u.host().isEmpty())
        return QStringLiteral("\"%1\" names no broker host").arg(text);
    if (!u.password().isEmpty())
        return QStringLiteral("a password does not belong in the broker address: put it in a file named by PasswordFile");
    // An unencoded "#" starts a URL's fragment: the wildcard typed where a topic belongs.
    if (u.hasFragment() || u.hasQuery())
        return QStringLiteral("\"%1\": + and # are wildcards and ? starts no topic: write the topic prefix itself").arg(text);
    out.Tls = scheme == QLatin1String("mqtts");
    out.Host = u.host();
    out.Port = u.port(out.Tls ? 8883 : 1883);
    if (out.Port <= 0 || out.Port > 65535)
        return QStringLiteral("\"%1\": port out of range").arg(text);
    if (!u.userName().isEmpty())
        out.Username = u.userName();
    QString path = u.path(QUrl::FullyDecoded);
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (!path.isEmpty()) {
        if (const QString why = TopicProblem(path); !why.isEmpty())
            return why;
        out.Topic = path;
    }
    return {};
}

QString TMqttSettings::BrokerText() const
{
    const QString host = Host.contains(QLatin1Char(':')) ? QLatin1Char('[') + Host + QLatin1Char(']') : Host;
    return QStringLiteral("%1://%2:%3").arg(Tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), host).arg(Port);
}

QString TMqttSettings::DefaultTopic()
{
    QString host = QSysInfo::machineHostName();
    // A host name is one topic level: no separators, no wildcards.
    host.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('+'), QLatin1Char('_')).replace(QLatin1Char('#'), QLatin1Char('_'));
    if (host.isEmpty())
        host = QStringLiteral("station");
    return QStringLiteral("tarnelpro/") + host;
}

QString TMqttSettings::TopicProblem(const QString &topic)
{
    if (topic.isEmpty())
        return QStringLiteral("the topic prefix is empty");
    if (topic.contains(QLatin1Char('+')) || topic.contains(QLatin1Char('#')))
        return QStringLiteral("topic prefix \"%1\": + and # are wildcards, not names").arg(topic);
    if (topic.contains(QChar(0)))
        return QStringLiteral("topic prefix holds a NUL character");
    if (topic.startsWith(QLatin1Char('/')) || topic.endsWith(QLatin1Char('/')) || topic.contains(QLatin1String("//")))
        return QStringLiteral("topic prefix \"%1\" has an empty level").arg(topic);
    // The broker refuses topics above 65535 bytes; leave room for the suffixes.
    if (topic.toUtf8().size() > 60000)
        return QStringLiteral("topic prefix too long");
    return {};
}

QString TMqttSettings::Problem() const
{
    if (Host.isEmpty())
        return QStringLiteral("no broker host");
    if (Qos < 0 || Qos > 2)
        return QStringLiteral("Qos must be 0, 1 or 2, not %1").arg(Qos);
    return TopicProblem(Topic);
}

bool TMqttSettings::ReadPassword(QString &password, QString &error) const
{
    password.clear();
    if (PasswordFile.isEmpty())
        return true;
    QFile f(PasswordFile);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("password file \"%1\": %2").arg(PasswordFile, f.errorString());
        return false;
    }
    const QByteArray first = f.readLine(4096);
    password = QString::fromUtf8(first).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    return true;
}

QString IsoTime(const QDateTime &time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}
