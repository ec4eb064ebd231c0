#pragma once
// A real mosquitto broker on a free loopback port for a test, and
// mosquitto_sub watching it.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <functional>

namespace {
// Empty when the broker is not installed.
inline QString BrokerBinary()
{
    return QStandardPaths::findExecutable(QStringLiteral("mosquitto"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                           QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")});
}

inline QString ClientBinary(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

// A loopback port nobody listens on (right now).
inline int FreePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

inline bool Accepts(int port)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, quint16(port));
    return s.waitForConnected(200);
}

class TBroker {
public:
    TBroker(const QString &dir, int port) : Port(port), Config(dir + QStringLiteral("/mosquitto.conf"))
    {
        QFile f(Config);
        if (f.open(QIODevice::WriteOnly))
            f.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nlog_type error\n").arg(port).toLatin1());
    }
    ~TBroker() { Kill(); }
    // Starts the broker and waits until it accepts connections.
    bool Start()
    {
        Process.setProgram(BrokerBinary());
        Process.setArguments({QStringLiteral("-c"), Config});
        Process.setProcessChannelMode(QProcess::ForwardedChannels);
        Process.start();
        if (!Process.waitForStarted(5000))
            return false;
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            if (Accepts(Port))
                return true;
            if (Process.state() == QProcess::NotRunning)
                return false;
            QThread::msleep(50);
        }
        return false;
    }
    // A broker that dies without a word (power cut, crash).
    void Kill()
    {
        if (Process.state() == QProcess::NotRunning)
            return;
        Process.kill();
        Process.waitForFinished(5000);
    }
    QString Url(const QString &topic) const { return QStringLiteral("mqtt://127.0.0.1:%1/%2").arg(Port).arg(topic); }

    const int Port;

private:
    QString Config;
    QProcess Process;
};

struct TMessage {
    QString Topic;
    QByteArray Payload;
    QJsonObject Json() const { return QJsonDocument::fromJson(Payload).object(); }
};

// mosquitto_sub -v on a topic filter, collecting "topic payload" lines.
class TSubscriber {
public:
    TSubscriber(int port, const QString &filter) : Port(port)
    {
        Process.setProgram(ClientBinary("mosquitto_sub"));
        Process.setArguments({QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                              QString::number(port), QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-v"),
                              QStringLiteral("-t"), filter, QStringLiteral("-t"), QStringLiteral("probe/#")});
        Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Process.start();
        Process.waitForStarted(5000);
    }
    ~TSubscriber()
    {
        Process.kill();
        Process.waitForFinished(5000);
    }
    // Waits until the subscription is in place: a probe message comes back.
    bool Ready()
    {
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            QProcess::execute(ClientBinary("mosquitto_pub"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                                                              QStringLiteral("-p"), QString::number(Port),
                                                              QStringLiteral("-t"), QStringLiteral("probe/ready"),
                                                              QStringLiteral("-m"), QStringLiteral("x")});
            if (WaitFor([](const TMessage &m) { return m.Topic == QLatin1String("probe/ready"); }, 300))
                return true;
        }
        return false;
    }
    // The messages so far, in order of arrival (probes left out).
    const std::vector<TMessage> &Messages()
    {
        Read();
        return Received;
    }
    std::vector<TMessage> On(const QString &topic)
    {
        std::vector<TMessage> out;
        for (const TMessage &m : Messages())
            if (m.Topic == topic)
                out.push_back(m);
        return out;
    }
    // Waits until a message satisfies match.
    bool WaitFor(const std::function<bool(const TMessage &)> &match, int ms)
    {
        const QDeadlineTimer deadline(ms);
        for (;;) {
            Read();
            for (const TMessage &m : Received)
                if (match(m))
                    return true;
            if (Probe && match(*Probe))
                return true;
            if (deadline.hasExpired() || Process.state() == QProcess::NotRunning)
                return false;
            Process.waitForReadyRead(int(std::min<qint64>(100, std::max<qint64>(1, deadline.remainingTime()))));
        }
    }

private:
    void Read()
    {
        Pending += Process.readAllStandardOutput();
        for (qsizetype nl; (nl = Pending.indexOf('\n')) >= 0;) {
            const QByteArray line = Pending.left(nl);
            Pending.remove(0, nl + 1);
            const qsizetype space = line.indexOf(' ');
            TMessage m{QString::fromUtf8(space < 0 ? line : line.left(space)), space < 0 ? QByteArray() : line.mid(space + 1)};
            if (m.Topic.startsWith(QLatin1String("probe/")))
                Probe = m;
            else
                Received.push_back(m);
        }
    }

    int Port;
    QProcess Process;
    QByteArray Pending;
    std::vector<TMessage> Received;
    std::optional<TMessage> Probe;
};

// The retained message on topic, empty when there is none.
inline QByteArray Retained(int port, const QString &topic)
{
    QProcess p;
    p.start(ClientBinary("mosquitto_sub"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                            QString::number(port), QStringLiteral("-t"), topic,
                                            QStringLiteral("-C"), QStringLiteral("1"), QStringLiteral("-W"),
                                            QStringLiteral("2"), QStringLiteral("--retained-only")});
    p.waitForFinished(10000);
    return p.readAllStandardOutput().trimmed();
}
} // namespace

// Skips the test when the broker or its clients are not installed.
#define REQUIRE_MOSQUITTO()                                                                                            \
    do {                                                                                                               \
        if (BrokerBinary().isEmpty() || ClientBinary("mosquitto_sub").isEmpty() ||                                     \
            ClientBinary("mosquitto_pub").isEmpty())                                                                   \
            GTEST_SKIP() << "mosquitto and mosquitto-clients are not installed (apt-get install mosquitto "            \
                            "mosquitto-clients)";                                                                      \
    } while (false)
