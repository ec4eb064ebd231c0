#pragma once
// The instrument's framing over the serial link.
#include "link/PortVirt.h"
#include "link/SerialTransport.h"

class TPortCOM : public TPortVirt {
public:
    TPortCOM(TUserInterface &ui, TClock &clock);
    explicit TPortCOM(TUserInterface &ui);

    // The device the next Connect opens; empty: /dev/ttyS<n-1> of the port number.
    void SetDevicePath(const QString &path) { Serial.SetDevicePath(path); }

    // Why the last Connect could not open the device; empty after an open that worked.
    const QString &OpenFailure() const { return Serial.OpenFailure(); }
    // The device the link opened (or will open).
    QString DevicePath() const { return Serial.DevicePath(); }

private:
    TSerialTransport &Serial;
};
