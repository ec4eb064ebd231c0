#pragma once
// The instrument's framing over the serial link.
#include "link/PortVirt.h"
#include "link/SerialTransport.h"

class TPortCOM : public TPortVirt {
public:
    TPortCOM(TUserInterface &ui, TClock &clock);
    explicit TPortCOM(TUserInterface &ui);

    // Set by the configuration loader; read at each Connect.
    static void SetDeviceMap(TDeviceMap devices) { TSerialTransport::SetDeviceMap(std::move(devices)); }
    static const TDeviceMap &DeviceMap() { return TSerialTransport::DeviceMap(); }

    // Why the last Connect could not open the device; empty after an open that worked.
    const QString &OpenFailure() const { return Serial.OpenFailure(); }
    // The device the link opened (or will open).
    QString DevicePath() const { return Serial.DevicePath(); }

private:
    TSerialTransport &Serial;
};
