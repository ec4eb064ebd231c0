#include "mqtt/FleetMonitor.h"

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>
#include <cerrno>

struct TFleetMonitor::TShared {
    mosquitto *Mosq = nullptr;
    QByteArray Prefix;
    int Qos = 1;
    std::mutex Mutex;
    std::condition_variable Wake;
    std::vector<TFleetMessage> Messages;
    bool Connected = false;
    int Subscribed = 0;
    QString Refused;
    bool Started = false;
};

namespace {
using TShared = TFleetMonitor::TShared;

void OnConnect(mosquitto *mosq, void *obj, int rc)
{
    auto &s = *static_cast<TShared *>(obj);
    if (rc != 0) {
        std::lock_guard lock(s.Mutex);
        s.Refused = QStringLiteral("the broker refused the connection: %1").arg(QString::fromUtf8(mosquitto_connack_string(rc)));
        s.Wake.notify_all();
        return;
    }
    {
        std::lock_guard lock(s.Mutex);
        s.Connected = true;
    }
    for (const char *kind : {"status", "health", "group"}) {
        const QByteArray topic = s.Prefix + "/+/" + kind;
        mosquitto_subscribe(mosq, nullptr, topic.constData(), s.Qos);
    }
    s.Wake.notify_all();
}

void OnSubscribe(mosquitto *, void *obj, int, int, const int *)
{
    auto &s = *static_cast<TShared *>(obj);
    std::lock_guard lock(s.Mutex);
    ++s.Subscribed;
    s.Wake.notify_all();
}

void OnDisconnect(mosquitto *, void *obj, int)
{
    auto &s = *static_cast<TShared *>(obj);
    std::lock_guard lock(s.Mutex);
    s.Connected = false;
}

void OnMessage(mosquitto *, void *obj, const mosquitto_message *m)
{
    auto &s = *static_cast<TShared *>(obj);
    if (!m || !m->topic)
        return;
    std::lock_guard lock(s.Mutex);
    s.Messages.push_back({QString::fromUtf8(m->topic), QByteArray(static_cast<const char *>(m->payload), m->payloadlen)});
    s.Wake.notify_all();
}
} // namespace

TFleetMonitor::TFleetMonitor(const TMqttSettings &settings, const QString &password)
    : Shared(std::make_unique<TShared>()), Config(settings), Password(password)
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    Shared->Prefix = settings.Topic.toUtf8();
    Shared->Qos = settings.Qos;
}

TFleetMonitor::~TFleetMonitor()
{
    if (!Shared->Mosq)
        return;
    if (Shared->Started) {
        mosquitto_disconnect(Shared->Mosq);
        mosquitto_loop_stop(Shared->Mosq, false);
    }
    mosquitto_destroy(Shared->Mosq);
}

QString TFleetMonitor::Connect(int timeoutMs)
{
    TShared &s = *Shared;
    s.Mosq = mosquitto_new(nullptr, true, &s);
    if (!s.Mosq)
        return QStringLiteral("cannot create the MQTT client");
    mosquitto_connect_callback_set(s.Mosq, OnConnect);
    mosquitto_subscribe_callback_set(s.Mosq, OnSubscribe);
    mosquitto_disconnect_callback_set(s.Mosq, OnDisconnect);
    mosquitto_message_callback_set(s.Mosq, OnMessage);
    if (!Config.Username.isEmpty()) {
        const QByteArray user = Config.Username.toUtf8(), pass = Password.toUtf8();
        mosquitto_username_pw_set(s.Mosq, user.constData(), Password.isEmpty() ? nullptr : pass.constData());
    }
    if (Config.Tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (Config.CaFile.isEmpty()) {
            rc = mosquitto_int_option(s.Mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            const QByteArray ca = Config.CaFile.toLocal8Bit();
            rc = mosquitto_tls_set(s.Mosq, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        }
        if (rc != MOSQ_ERR_SUCCESS)
            return QStringLiteral("CA file \"%1\" cannot be used").arg(Config.CaFile);
    }
    const QByteArray host = Config.Host.toUtf8();
    errno = 0;
    const int rc = mosquitto_connect_async(s.Mosq, host.constData(), Config.Port, 30);
    if (rc != MOSQ_ERR_SUCCESS) {
        const QString why = rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno))
                                                 : QString::fromUtf8(mosquitto_strerror(rc));
        return QStringLiteral("%1: %2").arg(Config.BrokerText(), why);
    }
    if (mosquitto_loop_start(s.Mosq) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("cannot start the MQTT network thread");
    s.Started = true;
    std::unique_lock lock(s.Mutex);
    const bool answered = s.Wake.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [&s] { return !s.Refused.isEmpty() || s.Subscribed >= 3; });
    if (!s.Refused.isEmpty())
        return QStringLiteral("%1: %2").arg(Config.BrokerText(), s.Refused);
    if (!answered)
        return QStringLiteral("%1: no answer from the broker within %2 s").arg(Config.BrokerText()).arg(timeoutMs / 1000);
    return {};
}

std::vector<TFleetMessage> TFleetMonitor::Take(int ms)
{
    TShared &s = *Shared;
    std::unique_lock lock(s.Mutex);
    s.Wake.wait_for(lock, std::chrono::milliseconds(ms), [&s] { return !s.Messages.empty(); });
    return std::exchange(s.Messages, {});
}
