#include "link/UsbTransport.h"

#include "base/Clock.h"
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

TUsbTransport::TUsbTransport(TUserInterface &ui, TClock &clock, std::unique_ptr<TFtdiDevice> device)
    : Ui(ui), Clock(clock), Device(std::move(device))
{
}

TUsbTransport::~TUsbTransport()
{
    if (HandleHeld)
        Device->Close();
}

int TUsbTransport::Open(int portSelector, int baudRate, const QString &, bool, const QString &, int)
{
    if (HandleHeld) {
        Device->Close();
        HandleHeld = false;
    }
    State = -1;
    for (bool repeated = false; UsbDeviceCount(*Device) == 0; repeated = true) {
        if (!Ui.Ask(TQuestion::Confirm(QStringLiteral("Communication"),
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
    Rest(1000);
    if (!opened)
        return 0;

    Baud = baudRate;
    Device->SetBaudRate(baudRate);
    Device->SetTimeouts(500, 500);
    State = portSelector;
    Device->SetDtr(true);
    Device->SetRts(true);
    // 8 data bits, one stop bit, no parity.
    Device->SetDataCharacteristics(8, 0, 0);
    Rest(400);
    return State;
}

void TUsbTransport::Close()
{
    if (State <= 0) {
        // A device that failed is let go without touching its lines.
        if (HandleHeld)
            Device->Close();
        HandleHeld = false;
        return;
    }
    SetDtr(false);
    SetRts(false);
    Rest(1000);
    Device->Close();
    HandleHeld = false;
    State = 0;
    Ui.BusyIndicator(false);
}

QByteArray TUsbTransport::DropInput()
{
    // The chip throws its queue away unread: the trace cannot show it.
    Device->Purge(TFtdiDevice::PurgeRx);
    // A flush is one of the points where the operator is listened to.
    Ui.Yield();
    return {};
}

void TUsbTransport::DiscardOutput() { Device->Purge(TFtdiDevice::PurgeTx); }

int TUsbTransport::DeviceFailed()
{
    // The next port operation raises its error at once instead of polling a
    // device that will never answer again; the handle is closed on the next
    // Open or at the end.
    State = -1;
    return -1;
}

int TUsbTransport::WriteBytes(std::span<const std::uint8_t> data)
{
    int written = 0;
    if (Device->Write(data, written) != TFtdiDevice::Ok)
        return DeviceFailed();
    return written == static_cast<int>(data.size()) ? written : -1;
}

int TUsbTransport::ReadWaiting(std::span<std::uint8_t> buffer)
{
    // The wait happened before, yielding, rather than blocked inside the device read.
    if (LinkDown())
        return -1;
    Device->SetTimeouts(0, 500);
    int read = 0;
    if (Device->Read(buffer, read) != TFtdiDevice::Ok)
        return DeviceFailed();
    return read;
}

int TUsbTransport::TakeByte()
{
    std::uint8_t b = 0;
    int read = 0;
    if (Device->Read(std::span(&b, 1), read) != TFtdiDevice::Ok)
        return DeviceFailed();
    return read == 1 ? b : -1;
}

int TUsbTransport::Waiting()
{
    if (LinkDown())
        return -1;
    int received = 0;
    if (Device->GetQueueStatus(received) != TFtdiDevice::Ok)
        return DeviceFailed();
    return received;
}

int TUsbTransport::Unsent()
{
    if (LinkDown())
        return -1;
    int received = 0, toSend = 0, events = 0;
    if (Device->GetStatus(received, toSend, events) != TFtdiDevice::Ok)
        return DeviceFailed();
    return toSend;
}

void TUsbTransport::SetBaudRate(int value)
{
    if (LinkDown())
        return;
    Baud = value;
    Device->SetBaudRate(value);
}

bool TUsbTransport::SetDtr(bool on)
{
    if (LinkDown())
        return false;
    return Device->SetDtr(on) == TFtdiDevice::Ok;
}

bool TUsbTransport::SetRts(bool on)
{
    if (LinkDown())
        return false;
    return Device->SetRts(on) == TFtdiDevice::Ok;
}

std::optional<bool> TUsbTransport::Dsr()
{
    unsigned status = 0;
    if (Device->GetModemStatus(status) != TFtdiDevice::Ok)
        return std::nullopt;
    return (status & TFtdiDevice::ModemDsr) != 0;
}

void TUsbTransport::SetLatencyTimer(int ms) { Device->SetLatencyTimer(ms); }

QString TUsbTransport::Info()
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
