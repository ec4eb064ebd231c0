#pragma once
// Listens to the stations of a fleet: subscribes to PREFIX/+/status, health
// and group and hands the messages over to the caller's thread.
#include "mqtt/MqttSettings.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

struct TFleetMessage {
    QString Topic;
    QByteArray Payload;
};

class TFleetMonitor {
public:
    // settings.Topic is the fleet's prefix.
    TFleetMonitor(const TMqttSettings &settings, const QString &password);
    ~TFleetMonitor();
    TFleetMonitor(const TFleetMonitor &) = delete;
    TFleetMonitor &operator=(const TFleetMonitor &) = delete;

    // Connects and subscribes, waiting at most timeoutMs for the broker's
    // answers; after that libmosquitto's own thread keeps the connection,
    // connecting again after a loss. Returns why it failed, empty on success.
    QString Connect(int timeoutMs);
    // Waits up to ms for messages and takes those that came.
    std::vector<TFleetMessage> Take(int ms);

    struct TShared;

private:
    std::unique_ptr<TShared> Shared;
    TMqttSettings Config;
    QString Password;
};
