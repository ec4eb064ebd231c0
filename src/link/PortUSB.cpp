#include "link/PortUSB.h"

#include "base/Clock.h"
#include "base/TarnelError.h"
#include "base/UserInterface.h"

TPortUSB::TPortUSB(TUserInterface &ui, TClock &clock, std::unique_ptr<TFtdiDevice> device)
    : TPortVirt(ui, clock, std::make_unique<TUsbTransport>(ui, clock, std::move(device)))
{
}

TPortUSB::TPortUSB(TUserInterface &ui) : TPortUSB(ui, SystemClock(), MakeLibFtdiDevice()) {}

TPortVirt::TIdentifyValues TPortUSB::IdentifyValues() const
{
    return {.DrainTimeoutMs = 100, .AnswerTimeoutMs = 2000, .FallbackBaud = 115200, .EscapePass = 20,
            .EscapeFailureFails = true};
}

bool TPortUSB::WaitForTextLinkDown()
{
    UiServices.BusyIndicator(false);
    throw ETarnelError(TErrorKind::LinkLost, "Wait error");
}
