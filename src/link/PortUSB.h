#pragma once
// The instrument's framing over the USB cable.
#include "link/PortVirt.h"
#include "link/UsbTransport.h"

class TPortUSB : public TPortVirt {
public:
    static constexpr int LinkSelector = TUsbTransport::LinkSelector;
    static constexpr int OpenAttempts = TUsbTransport::OpenAttempts;

    TPortUSB(TUserInterface &ui, TClock &clock, std::unique_ptr<TFtdiDevice> device);
    explicit TPortUSB(TUserInterface &ui);

protected:
    TIdentifyValues IdentifyValues() const override;
    bool WaitForTextLinkDown() override;
};
