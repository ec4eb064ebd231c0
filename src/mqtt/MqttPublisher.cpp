#include "mqtt/MqttPublisher.h"

#include "base/WireTrace.h"

#include <QMetaObject>
#include <QObject>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

namespace {
using TSteady = std::chrono::steady_clock;

struct TItem {
    TMqttPublisher::TKind Kind;
    QByteArray Topic;
    QByteArray Payload;
    bool Retain;
};

bool Expendable(TMqttPublisher::TKind kind)
{
    return kind == TMqttPublisher::TKind::Health || kind == TMqttPublisher::TKind::Log ||
           kind == TMqttPublisher::TKind::Reply;
}

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString ErrnoText(int error)
{
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may not be in buffer.
    const char *text = strerror_r(error, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}
} // namespace

struct TMqttPublisher::TShared {
    TMqttSettings Settings;
    TLimits Limits;
    QByteArray CommandTopic;
    mosquitto *Mosq = nullptr;

    mutable std::mutex Mutex;
    std::condition_variable Wake;
    std::deque<TItem> Queue;
    // Message ids handed to libmosquitto and not yet acknowledged; an
    // acknowledgement can overtake the sender's bookkeeping, hence Early.
    std::set<int> Inflight, Early;
    bool Quit = false;
    bool SenderDone = false;
    // Set by the sender once it has sent what it could at the end.
    bool FlushDone = false;
    bool Connected = false;
    // Whether the owner has been told the broker is away.
    bool Down = false;
    bool EverConnected = false;
    QString RefusedReason;
    std::uint64_t Dropped = 0;
    int Running = 0;
    std::condition_variable Finished;

    // Where notes for the owner go; cleared before the owner goes away.
    std::mutex ContextMutex;
    QObject *Context = nullptr;
    TMqttPublisher *Owner = nullptr;

    ~TShared()
    {
        if (Mosq)
            mosquitto_destroy(Mosq);
    }

    void Post(std::function<void(TMqttPublisher &)> fn)
    {
        std::lock_guard guard(ContextMutex);
        if (!Context)
            return;
        TMqttPublisher *owner = Owner;
        QMetaObject::invokeMethod(Context, [owner, fn = std::move(fn)] { fn(*owner); }, Qt::QueuedConnection);
    }

    void Note(bool up, const QString &text)
    {
        Post([up, text](TMqttPublisher &p) {
            if (p.OnConnection)
                p.OnConnection(up, text);
        });
    }

    void ThreadEnded()
    {
        std::lock_guard lock(Mutex);
        --Running;
        Finished.notify_all();
    }
};

namespace {
using TShared = TMqttPublisher::TShared;

void OnConnect(mosquitto *mosq, void *obj, int rc)
{
    auto &s = *static_cast<TShared *>(obj);
    if (rc != 0) {
        std::lock_guard lock(s.Mutex);
        s.RefusedReason = QStringLiteral("the broker refused the connection: %1")
                              .arg(QString::fromUtf8(mosquitto_connack_string(rc)));
        qCDebug(lcMqtt).noquote() << s.RefusedReason;
        return;
    }
    {
        std::lock_guard lock(s.Mutex);
        s.Connected = true;
        s.EverConnected = true;
        s.Down = false;
        s.RefusedReason.clear();
        // What was in flight is sent again by libmosquitto or lost with the
        // old session; either way it no longer holds back the queue.
        s.Inflight.clear();
        s.Early.clear();
    }
    s.Wake.notify_all();
    if (s.Settings.Commands)
        mosquitto_subscribe(mosq, nullptr, s.CommandTopic.constData(), s.Settings.Qos);
    const QString connected = QStringLiteral("connected to %1, topic %2").arg(s.Settings.BrokerText(), s.Settings.Topic);
    qCDebug(lcMqtt).noquote() << connected;
    s.Note(true, connected);
}

void OnDisconnect(mosquitto *, void *obj, int)
{
    auto &s = *static_cast<TShared *>(obj);
    {
        std::lock_guard lock(s.Mutex);
        s.Connected = false;
    }
    s.Wake.notify_all();
}

void OnPublish(mosquitto *, void *obj, int mid)
{
    auto &s = *static_cast<TShared *>(obj);
    {
        std::lock_guard lock(s.Mutex);
        if (s.Inflight.erase(mid) == 0 && s.Settings.Qos > 0) {
            if (s.Early.size() > 1000)
                s.Early.clear();
            s.Early.insert(mid);
        }
    }
    s.Wake.notify_all();
}

void OnMessage(mosquitto *, void *obj, const mosquitto_message *message)
{
    auto &s = *static_cast<TShared *>(obj);
    if (!message || !message->topic || s.CommandTopic != message->topic)
        return;
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    const bool retained = message->retain;
    s.Post([payload, retained](TMqttPublisher &p) {
        if (p.OnCommand)
            p.OnCommand(payload, retained);
    });
}

QString FailureText(TShared &s, int rc, int error)
{
    {
        std::lock_guard lock(s.Mutex);
        if (!s.RefusedReason.isEmpty())
            return s.RefusedReason;
    }
    if (rc == MOSQ_ERR_ERRNO && error != 0)
        return ErrnoText(error);
    if (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN)
        return QStringLiteral("connection lost");
    return QString::fromUtf8(mosquitto_strerror(rc));
}

// The network side: connect, run libmosquitto's loop while the connection
// lasts, and after a failure wait a growing pause before the next attempt.
// Only the first failure of an outage is reported.
void NetworkLoop(std::shared_ptr<TShared> shared)
{
    TShared &s = *shared;
    const QByteArray host = s.Settings.Host.toUtf8();
    int backoff = 1;
    for (;;) {
        {
            std::lock_guard lock(s.Mutex);
            if (s.Quit)
                break;
            s.RefusedReason.clear();
        }
        errno = 0;
        int rc = mosquitto_connect(s.Mosq, host.constData(), s.Settings.Port, s.Limits.KeepaliveSeconds);
        int error = errno;
        if (rc == MOSQ_ERR_SUCCESS) {
            bool goodbye = false;
            for (;;) {
                bool flushed = false;
                {
                    std::lock_guard lock(s.Mutex);
                    flushed = s.FlushDone;
                }
                // The sender's goodbye may have come before this connection.
                if (flushed && !goodbye) {
                    goodbye = true;
                    mosquitto_disconnect(s.Mosq);
                }
                errno = 0;
                rc = mosquitto_loop(s.Mosq, 2000, 1);
                error = errno;
                if (rc != MOSQ_ERR_SUCCESS)
                    break;
            }
        }
        bool report = false;
        {
            std::unique_lock lock(s.Mutex);
            const bool wasConnected = s.Connected;
            s.Connected = false;
            if (s.Quit)
                break;
            if (wasConnected)
                backoff = 1;
            report = !s.Down;
            s.Down = true;
        }
        s.Wake.notify_all();
        if (report) {
            const QString failure = FailureText(s, rc, error);
            qCDebug(lcMqtt).noquote() << failure;
            s.Note(false, failure);
        }
        std::unique_lock lock(s.Mutex);
        s.Wake.wait_for(lock, std::chrono::seconds(backoff), [&s] { return s.Quit; });
        if (s.Quit)
            break;
        backoff = std::min(backoff * 2, std::max(1, s.Limits.BackoffMaxSeconds));
    }
    shared->ThreadEnded();
}

// Hands queued messages to libmosquitto while the broker is connected and
// fewer than Inflight wait for their acknowledgement.
void SenderLoop(std::shared_ptr<TShared> shared)
{
    TShared &s = *shared;
    std::unique_lock lock(s.Mutex);
    std::optional<TSteady::time_point> deadline;
    for (;;) {
        if (s.Quit && !deadline)
            deadline = TSteady::now() + std::chrono::milliseconds(s.Limits.FlushMs);
        if (s.Quit && (!s.Connected || (s.Queue.empty() && s.Inflight.empty()) || TSteady::now() >= *deadline))
            break;
        const bool canSend = s.Connected && !s.Queue.empty() && int(s.Inflight.size()) < s.Limits.Inflight;
        if (!canSend) {
            if (deadline)
                s.Wake.wait_until(lock, *deadline);
            else
                s.Wake.wait(lock);
            continue;
        }
        TItem item = std::move(s.Queue.front());
        s.Queue.pop_front();
        lock.unlock();
        int mid = 0;
        const int rc = mosquitto_publish(s.Mosq, &mid, item.Topic.constData(), int(item.Payload.size()),
                                         item.Payload.constData(), s.Settings.Qos, item.Retain);
        lock.lock();
        if (rc == MOSQ_ERR_SUCCESS) {
            if (s.Settings.Qos > 0 && s.Early.erase(mid) == 0)
                s.Inflight.insert(mid);
        } else if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NOMEM) {
            // The connection went before the loop said so: keep the message
            // for the next one, without spinning until it does.
            s.Queue.push_front(std::move(item));
            s.Wake.wait_for(lock, std::chrono::milliseconds(200));
        } else {
            // A message the broker can never take (too large, bad topic).
            ++s.Dropped;
            qCWarning(lcMqtt).noquote() << "message to" << item.Topic << "dropped:" << mosquitto_strerror(rc);
        }
    }
    s.FlushDone = true;
    lock.unlock();
    mosquitto_disconnect(s.Mosq);
    lock.lock();
    s.SenderDone = true;
    lock.unlock();
    s.Wake.notify_all();
    shared->ThreadEnded();
}
} // namespace

TMqttPublisher::TMqttPublisher(const TMqttSettings &settings, const QString &password, const TLimits &limits)
    : Config(settings), Shared(std::make_shared<TShared>()), Context(std::make_unique<QObject>())
{
    InitLibrary();
    TShared &s = *Shared;
    s.Settings = settings;
    s.Limits = limits;
    s.CommandTopic = (settings.Topic + QStringLiteral("/command")).toUtf8();
    s.Context = Context.get();
    s.Owner = this;
    if (const QString why = settings.Problem(); !why.isEmpty()) {
        SetupError = why;
        return;
    }
    s.Mosq = mosquitto_new(nullptr, true, &s);
    if (!s.Mosq) {
        SetupError = QStringLiteral("cannot create the MQTT client: %1").arg(ErrnoText(errno));
        return;
    }
    mosquitto_threaded_set(s.Mosq, true);
    mosquitto_connect_callback_set(s.Mosq, OnConnect);
    mosquitto_disconnect_callback_set(s.Mosq, OnDisconnect);
    mosquitto_publish_callback_set(s.Mosq, OnPublish);
    mosquitto_message_callback_set(s.Mosq, OnMessage);
    mosquitto_int_option(s.Mosq, MOSQ_OPT_SEND_MAXIMUM, std::max(1, limits.Inflight));
    const QByteArray will = (settings.Topic + QStringLiteral("/status")).toUtf8();
    static const char offline[] = R"({"state":"offline"})";
    int rc = mosquitto_will_set(s.Mosq, will.constData(), int(sizeof offline - 1), offline, settings.Qos, true);
    if (rc == MOSQ_ERR_SUCCESS && !settings.Username.isEmpty()) {
        const QByteArray user = settings.Username.toUtf8(), pass = password.toUtf8();
        rc = mosquitto_username_pw_set(s.Mosq, user.constData(), password.isEmpty() ? nullptr : pass.constData());
    }
    if (rc == MOSQ_ERR_SUCCESS && settings.Tls) {
        if (settings.CaFile.isEmpty()) {
            rc = mosquitto_int_option(s.Mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            const QByteArray ca = settings.CaFile.toLocal8Bit();
            rc = mosquitto_tls_set(s.Mosq, ca.constData(), nullptr, nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS) {
                SetupError = QStringLiteral("CA file \"%1\" cannot be used").arg(settings.CaFile);
                return;
            }
        }
    }
    if (rc != MOSQ_ERR_SUCCESS)
        SetupError = QString::fromUtf8(mosquitto_strerror(rc));
}

void TMqttPublisher::Start()
{
    if (!SetupError.isEmpty() || Network.joinable())
        return;
    {
        std::lock_guard lock(Shared->Mutex);
        Shared->Running = 2;
    }
    Network = std::thread(NetworkLoop, Shared);
    Sender = std::thread(SenderLoop, Shared);
}

TMqttPublisher::~TMqttPublisher()
{
    {
        std::lock_guard guard(Shared->ContextMutex);
        Shared->Context = nullptr;
    }
    Context.reset();
    if (!Network.joinable())
        return;
    std::unique_lock lock(Shared->Mutex);
    Shared->Quit = true;
    Shared->Wake.notify_all();
    // Queued messages may take FlushMs to go out; once the sender has given up,
    // a network thread still inside a connection attempt has nothing to send.
    const auto deadline = TSteady::now() + std::chrono::milliseconds(Shared->Limits.FlushMs + 3000);
    Shared->Finished.wait_until(lock, deadline, [this] { return Shared->Running == 0 || Shared->SenderDone; });
    const bool ended = Shared->Finished.wait_for(lock, std::chrono::milliseconds(500), [this] { return Shared->Running == 0; });
    lock.unlock();
    if (ended) {
        Network.join();
        Sender.join();
    } else {
        // A connection attempt to a host that does not answer can take the
        // system's whole connect timeout; the threads keep what they use.
        Network.detach();
        Sender.detach();
    }
}

void TMqttPublisher::Publish(TKind kind, const QString &subtopic, const QByteArray &payload, bool retain)
{
    if (!SetupError.isEmpty())
        return;
    TItem item{kind, (Config.Topic + QLatin1Char('/') + subtopic).toUtf8(), payload, retain};
    {
        std::lock_guard lock(Shared->Mutex);
        auto &q = Shared->Queue;
        if (kind == TKind::Status) {
            const auto waiting = std::find_if(q.begin(), q.end(), [&item](const TItem &i) {
                return i.Kind == TKind::Status && i.Topic == item.Topic;
            });
            // Only the newest state matters, after what was published before it.
            if (waiting != q.end())
                q.erase(waiting);
        }
        if (q.size() >= Shared->Limits.Queue) {
            ++Shared->Dropped;
            const auto oldest = std::find_if(q.begin(), q.end(), [](const TItem &i) { return Expendable(i.Kind); });
            if (oldest != q.end()) {
                q.erase(oldest);
            } else if (Expendable(kind)) {
                return;
            } else {
                const auto group = std::find_if(q.begin(), q.end(), [](const TItem &i) { return i.Kind != TKind::Status; });
                if (group == q.end())
                    return;
                q.erase(group);
            }
        }
        q.push_back(std::move(item));
    }
    Shared->Wake.notify_one();
}

std::uint64_t TMqttPublisher::TakeDropped()
{
    std::lock_guard lock(Shared->Mutex);
    return std::exchange(Shared->Dropped, 0);
}

bool TMqttPublisher::Connected() const
{
    std::lock_guard lock(Shared->Mutex);
    return Shared->Connected;
}

std::size_t TMqttPublisher::Queued() const
{
    std::lock_guard lock(Shared->Mutex);
    return Shared->Queue.size();
}
