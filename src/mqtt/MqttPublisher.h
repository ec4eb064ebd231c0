#pragma once
// Publishes a station's messages to an MQTT broker without ever making its
// caller wait: Publish only puts the message into a bounded queue; a sender
// thread hands it to libmosquitto, whose network loop runs on a thread of its
// own that connects, and after a loss or a refusal connects again with a
// growing pause. The broker's last will marks the station offline when the
// program dies without saying goodbye.
#include "mqtt/MqttSettings.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class QObject;

class TMqttPublisher {
public:
    // What a message is, for the queue's choice when it is full: health and
    // log messages go first, groups and files only when nothing else is left;
    // a newer status replaces one still waiting.
    enum class TKind { Status, Health, Log, Group, File, Reply };

    struct TLimits {
        // Messages waiting for the broker, at most.
        std::size_t Queue = 2000;
        // Messages sent and not yet acknowledged, at most.
        int Inflight = 20;
        // At the end, how long the messages still queued may take to go out
        // while the broker is connected.
        int FlushMs = 5000;
        int KeepaliveSeconds = 30;
        // Pauses between connection attempts grow from 1 s to this.
        int BackoffMaxSeconds = 60;
    };

    // The password comes from the settings' PasswordFile, read by the caller.
    TMqttPublisher(const TMqttSettings &settings, const QString &password, const TLimits &limits);
    TMqttPublisher(const TMqttSettings &settings, const QString &password)
        : TMqttPublisher(settings, password, TLimits{})
    {
    }
    // Sends what is still queued while the broker is connected (at most
    // FlushMs), disconnects cleanly (no last will) and returns; a network
    // thread stuck in a connection attempt is left to end on its own.
    ~TMqttPublisher();
    TMqttPublisher(const TMqttPublisher &) = delete;
    TMqttPublisher &operator=(const TMqttPublisher &) = delete;

    // Why the client could not be set up (a CA file that cannot be read, …);
    // empty when it was. Start does nothing then.
    const QString &Error() const { return SetupError; }
    // Starts connecting; set the callbacks first.
    void Start();

    // Queues payload for <Topic>/<subtopic>; never waits for the network.
    void Publish(TKind kind, const QString &subtopic, const QByteArray &payload, bool retain = false);
    // Messages the full queue had to drop since the last call.
    std::uint64_t TakeDropped();
    bool Connected() const;
    std::size_t Queued() const;
    const TMqttSettings &Settings() const { return Config; }

    // Called on the thread that made the publisher, through its event loop.
    // The broker answered (up) or could not be reached or was lost (not up,
    // with the reason): said once per change, not at every attempt.
    std::function<void(bool up, const QString &text)> OnConnection;
    // A message on <Topic>/command (subscribed only with Commands); retained:
    // the broker kept it from earlier, it was not sent now.
    std::function<void(const QByteArray &payload, bool retained)> OnCommand;

    struct TShared;

private:
    TMqttSettings Config;
    QString SetupError;
    std::shared_ptr<TShared> Shared;
    std::unique_ptr<QObject> Context;
    std::thread Network, Sender;
};
