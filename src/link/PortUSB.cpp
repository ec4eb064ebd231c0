#include "link/PortUSB.h"

#include "base/Clock.h"
#include "base/TarnelError.h"
#include "base/UserInterface.h"

int UsbDeviceCount(TFtdiDevice &device)
{
    int count = 0;
    return device.ListDevices(count) == TFtdiDevice::Ok ? count : 0;
}

int UsbDeviceCount()
{
    const auto device = MakeLibFtdiDevice();
    return UsbDeviceCount(*device);
}

TPortUSB::TPortUSB(TUserInterface &ui, TClock &clock, std::unique_ptr<TFtdiDevice> device)
    : TPortVirt(ui, clock), Device(std::move(device))
{
}

TPortUSB::TPortUSB(TUserInterface &ui) : TPortUSB(ui, SystemClock(), MakeLibFtdiDevice()) {}

TPortUSB::~TPortUSB()
{
    if (HandleHeld)
        Device->Close();
}

int TPortUSB::Connect(int portSelector, int baudRate, const QString &, bool, const QString &, int byteDelayMs)
{
    ByteDelayMs = byteDelayMs;
    if (HandleHeld) {
        Device->Close();
        HandleHeld = false;
    }
    SetState(-1);
    for (bool repeated = false; UsbDeviceCount(*Device) == 0; repeated = true) {
        if (!UiServices.Ask(TQuestion::Confirm(QStringLiteral("Communication"),
                                               QStringLiteral("Connect USB link between computer and VOLTIX/KELVO,\n"
                                                              "then press < OK > button"),
                                               repeated)))
            return 0;
    }
    bool opened = false;
    for (int attempt = 0; attempt < OpenAttempts && !opened; ++attempt) {
        Clock.Sleep(15);
        opened = Device->Open(0) == TFtdiDevice::Ok;
    }
    if (opened) {
        HandleHeld = true;
        Device->SetDtr(false);
        Device->SetRts(false);
    }
    PauseSeconds(1);
    if (!opened)
        return 0;

    BaudRate = baudRate;
    Device->SetBaudRate(baudRate);
    Device->SetTimeouts(500, 500);
    SetState(portSelector);
    Device->SetDtr(true);
    Device->SetRts(true);
    Device->SetDataCharacteristics(DataBits == 7 ? 7 : 8, StopBits, Parity);
    Rest(400);
    return GetState();
}

void TPortUSB::Disconnect()
{
    if (State <= 0) {
        // A device that failed is let go without touching its lines.
        if (HandleHeld)
            Device->Close();
        HandleHeld = false;
        return;
    }
    SetDtr(0);
    SetRts(0);
    PauseSeconds(1);
    Device->Close();
    HandleHeld = false;
    SetState(0);
    UiServices.BusyIndicator(false);
}

void TPortUSB::FlushInput()
{
    Device->Purge(TFtdiDevice::PurgeRx);
    UiServices.Yield();
}

void TPortUSB::FlushOutput() { Device->Purge(TFtdiDevice::PurgeTx); }

int TPortUSB::DeviceFailed()
{
    // The next port operation raises its error at once instead of polling a
    // device that will never answer again; the handle is closed on the next
    // Connect or at the end.
    SetState(-1);
    return -1;
}

int TPortUSB::RawWriteByte(std::uint8_t byte)
{
    if (LinkDown())
        return -1;
    int written = 0;
    if (Device->Write(std::span(&byte, 1), written) != TFtdiDevice::Ok)
        return DeviceFailed();
    return written == 1 ? 0 : -1;
}

int TPortUSB::RawRead(std::span<std::uint8_t> buffer, int timeoutMs)
{
    if (LinkDown())
        return -1;
    // Waiting happens here, yielding, rather than blocked inside the device read.
    WaitForRx(static_cast<int>(buffer.size()), timeoutMs);
    if (LinkDown())
        return -1;
    Device->SetTimeouts(0, 500);
    int read = 0;
    if (Device->Read(buffer, read) != TFtdiDevice::Ok)
        return DeviceFailed();
    return read;
}

int TPortUSB::RawReadByteTimed(int timeoutMs)
{
    std::uint8_t b = 0;
    return RawRead(std::span(&b, 1), timeoutMs) == 1 ? b : -1;
}

int TPortUSB::RawReadByte()
{
    if (LinkDown())
        return -1;
    std::uint8_t b = 0;
    int read = 0;
    if (Device->Read(std::span(&b, 1), read) != TFtdiDevice::Ok)
        return DeviceFailed();
    return read == 1 ? b : -1;
}

int TPortUSB::RxCount()
{
    if (LinkDown())
        return -1;
    int received = 0;
    if (Device->GetQueueStatus(received) != TFtdiDevice::Ok)
        return DeviceFailed();
    return received;
}

int TPortUSB::TxCount()
{
    if (LinkDown())
        return -1;
    int received = 0, toSend = 0, events = 0;
    if (Device->GetStatus(received, toSend, events) != TFtdiDevice::Ok)
        return DeviceFailed();
    return toSend;
}

void TPortUSB::ApplyDataCharacteristics()
{
    Device->SetDataCharacteristics(DataBits == 7 ? 7 : 8, StopBits, Parity);
}

void TPortUSB::SetBaudRate(int value)
{
    if (LinkDown())
        return;
    BaudRate = value;
    Device->SetBaudRate(value);
}

void TPortUSB::SetParity(int value)
{
    if (LinkDown())
        return;
    Parity = value >= 1 && value <= 4 ? value : 0;
    ApplyDataCharacteristics();
}

void TPortUSB::SetDataBits(int value)
{
    if (LinkDown())
        return;
    DataBits = value == 7 ? 7 : 8;
    ApplyDataCharacteristics();
}

void TPortUSB::SetStopBits(int value)
{
    if (LinkDown())
        return;
    StopBits = value == 2 ? 2 : 0;
    ApplyDataCharacteristics();
}

// The three flow controls exclude each other.
void TPortUSB::ApplyFlow(int mode, int &flag, int value)
{
    if (LinkDown())
        return;
    XonXoff = DtrDsr = RtsCts = 0;
    if (value) {
        flag = 1;
        NoFlow = 0;
        const bool xon = mode == TFtdiDevice::FlowXonXoff;
        Device->SetFlowControl(mode, xon ? 17 : 0, xon ? 19 : 0);
    } else {
        NoFlow = 1;
        Device->SetFlowControl(TFtdiDevice::FlowNone, 0, 0);
    }
}

void TPortUSB::SetXonXoff(int value) { ApplyFlow(TFtdiDevice::FlowXonXoff, XonXoff, value); }
void TPortUSB::SetDtrDsr(int value) { ApplyFlow(TFtdiDevice::FlowDtrDsr, DtrDsr, value); }
void TPortUSB::SetRtsCts(int value) { ApplyFlow(TFtdiDevice::FlowRtsCts, RtsCts, value); }

void TPortUSB::SetDtr(int value)
{
    if (LinkDown())
        return;
    Dtr = value;
    Device->SetDtr(value != 0);
}

void TPortUSB::SetRts(int value)
{
    if (LinkDown())
        return;
    Rts = value;
    Device->SetRts(value != 0);
}

int TPortUSB::GetDsr()
{
    unsigned status = 0;
    Device->GetModemStatus(status);
    return (status & TFtdiDevice::ModemDsr) ? 1 : 0;
}

void TPortUSB::SetLatency(int ms) { Device->SetLatencyTimer(ms); }

QString TPortUSB::LinkInfo()
{
    if (State <= 0)
        return QStringLiteral("NA");
    std::uint32_t driver = 0, library = 0;
    if (Device->GetDriverVersion(driver) != TFtdiDevice::Ok)
        return QStringLiteral("Unknown");
    auto version = [](const char *prefix, std::uint32_t v) {
        return QString::asprintf("%s v%x.%02x.%02x", prefix, (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    };
    if (Device->GetLibraryVersion(library) != TFtdiDevice::Ok)
        return version("DRV", driver);
    return version("DRV", driver) + "\n" + version("DLL", library);
}

TPortVirt::TIdentifyValues TPortUSB::IdentifyValues() const
{
    return {.DrainTimeoutMs = 100, .AnswerTimeoutMs = 2000, .FallbackBaud = 115200, .EscapePass = 20,
            .EscapeFailureFails = true};
}

bool TPortUSB::WaitForTextLinkDown()
{
    UiServices.BusyIndicator(false);
    throw ETarnelError("Wait error");
}
