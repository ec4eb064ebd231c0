#include "link/PortCOM.h"

#include "base/Clock.h"
#include "base/UserInterface.h"

#include <array>

#include <QSerialPort>
#include <QTimer>

namespace {
QSerialPort::Parity ToQtParity(int code)
{
    switch (code) {
    case 1: return QSerialPort::OddParity;
    case 2: return QSerialPort::EvenParity;
    case 3: return QSerialPort::MarkParity;
    case 4: return QSerialPort::SpaceParity;
    default: return QSerialPort::NoParity;
    }
}
} // namespace

QString SerialDevicePath(int portNumber, const TDeviceMap &devices)
{
    if (const auto it = devices.find(portNumber); it != devices.end() && !it->second.isEmpty())
        return it->second;
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
}

TPortCOM::TPortCOM(TUserInterface &ui, TClock &clock)
    : TPortVirt(ui, clock), Serial(std::make_unique<QSerialPort>())
{
    // A device that vanishes (USB adapter pulled, rfcomm dropped) must end the
    // waits with their link errors instead of leaving them blocked for ever.
    // A hung-up pty reads as end of file (ReadError); the device is closed
    // afterwards so that its notifier stops firing.
    QObject::connect(Serial.get(), &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::ResourceError && e != QSerialPort::ReadError)
            return;
        if (State > 0)
            State = -1;
        QTimer::singleShot(0, Serial.get(), [serial = Serial.get()] {
            if (serial->isOpen())
                serial->close();
        });
    });
}

TPortCOM::TPortCOM(TUserInterface &ui) : TPortCOM(ui, SystemClock()) {}

TPortCOM::~TPortCOM()
{
    if (Serial->isOpen())
        Serial->close();
}

QString TPortCOM::DevicePath() const { return DeviceOverride.isEmpty() ? SerialDevicePath(PortNumber) : DeviceOverride; }

bool TPortCOM::Open()
{
    Serial->setPortName(DevicePath());
    OpenError.clear();
    if (!Serial->open(QIODevice::ReadWrite)) {
        OpenError = QStringLiteral("Cannot open serial port %1: %2").arg(DevicePath(), Serial->errorString());
        if (Serial->error() == QSerialPort::PermissionError)
            OpenError += QStringLiteral(". Serial ports belong to the group dialout: sudo usermod -aG dialout $USER, "
                                        "then log out and in again");
        else if (Serial->error() == QSerialPort::DeviceNotFoundError)
            OpenError += QStringLiteral(". Check the cable and the port number");
        OpenError += QStringLiteral(". \"Link > USB Check\" (ZIREriva --list) shows the USB cables and their drivers.");
        return false;
    }
    // The instrument talks 8N1; the settings stored before opening apply now.
    Serial->setBaudRate(BaudRate);
    Serial->setDataBits(DataBits == 7 ? QSerialPort::Data7 : QSerialPort::Data8);
    Serial->setParity(ToQtParity(Parity));
    Serial->setStopBits(StopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    ApplyFlowControl();
    Serial->clearError();
    return true;
}

void TPortCOM::ApplyFlowControl()
{
    if (!Serial->isOpen())
        return;
    // DTR/DSR handshaking has no QSerialPort mode; the lines are driven by SetDtr.
    Serial->setFlowControl(RtsCts ? QSerialPort::HardwareControl
                                  : XonXoff ? QSerialPort::SoftwareControl : QSerialPort::NoFlowControl);
}

int TPortCOM::Connect(int portSelector, int baudRate, const QString &dialNumber, bool waitForDsr,
                      const QString &modemInit, int byteDelayMs)
{
    ByteDelayMs = byteDelayMs;
    if (Serial->isOpen())
        Serial->close();
    SetPortNumber(portSelector);
    SetRtsCts(0);
    SetDtrDsr(0);
    SetRts(0);
    SetDtr(0);
    SetXonXoff(0);
    SetState(0);
    SetBaudRate(baudRate);

    const QString text = QStringLiteral("Connect Serial link < COM ") + QString::number(portSelector) +
                         QStringLiteral(" > between computer and VOLTIX/KELVO,\nthen press < OK > button");
    if (!UiServices.Ask(TQuestion::Confirm(QStringLiteral("Communication"), text))) {
        SetState(-1);
        return 0;
    }

    if (!Open()) {
        FlushOutput();
        FlushInput();
        return State;
    }

    SetState(-1);
    SetDtr(0);
    SetRts(0);
    FlushOutput();
    FlushInput();
    PauseSeconds(1);
    UiServices.Yield();
    std::uint8_t discard = 0;
    RawRead(std::span(&discard, 1), 500);
    SetRts(1);
    SetDtr(1);

    if (waitForDsr && GetDsr() == 0)
        return 0;
    SetState(portSelector);

    if (!dialNumber.isEmpty()) {
        // A refused dial leaves no link open behind the failure.
        if (!ModemCommand("ATZ", "OK") || (!modemInit.isEmpty() && !ModemCommand(modemInit.toLatin1(), "OK")) ||
            !ModemCommand("ATDT" + dialNumber.toLatin1(), "CONNECT")) {
            Disconnect();
            return 0;
        }
        PauseSeconds(1);
    }
    FlushOutput();
    FlushInput();
    return State;
}

bool TPortCOM::ModemCommand(const QByteArray &command, QByteArrayView answer)
{
    // Result lines that end the command without the awaited answer.
    static const std::array<QByteArrayView, 5> Refusals = {"NO CARRIER", "BUSY", "NO DIALTONE", "NO ANSWER",
                                                           "ERROR"};
    Serial->write(command + "\r\n");
    Serial->flush();
    QByteArray line;
    const std::int64_t start = Clock.Ms();
    for (;;) {
        if (LinkDown())
            return false;
        const int b = RxCount() > 0 ? RawReadByte() : -1;
        if (b < 0) {
            if (Clock.Ms() - start > WaitTimeoutMs) {
                UiServices.Ask(TQuestion::Notice(QStringLiteral("No answer from the modem")));
                return false;
            }
            IdleWait(WaitTimeoutMs);
            continue;
        }
        if (b != '\n') {
            if (b != '\r' && line.size() < 256)
                line.append(char(b));
            continue;
        }
        const QByteArray text = line.trimmed();
        line.clear();
        for (QByteArrayView refusal : Refusals) {
            if (text.startsWith(refusal.toByteArray())) {
                UiServices.Ask(TQuestion::Notice(QString::fromLatin1(text)));
                return false;
            }
        }
        if (text.contains(answer.toByteArray()))
            return true;
    }
}

void TPortCOM::Disconnect()
{
    if (State <= 0)
        return;
    SetDtr(0);
    SetRts(0);
    PauseSeconds(1);
    SetState(0);
    UiServices.BusyIndicator(false);
    // Closing now frees the device for other programs; the next Connect reopens it.
    Serial->close();
}

void TPortCOM::FlushInput()
{
    if (State > 0 && Serial->isOpen()) {
        Serial->clear(QSerialPort::Input);
        Serial->readAll();
    }
    UiServices.Yield();
}

void TPortCOM::FlushOutput()
{
    if (Serial->isOpen())
        Serial->clear(QSerialPort::Output);
}

int TPortCOM::RawWriteByte(std::uint8_t byte)
{
    if (LinkDown())
        return -1;
    if (!Serial->putChar(static_cast<char>(byte)))
        return -1;
    Serial->flush();
    return 1;
}

int TPortCOM::RawRead(std::span<std::uint8_t> buffer, int timeoutMs)
{
    if (LinkDown())
        return -1;
    WaitForRx(static_cast<int>(buffer.size()), timeoutMs);
    const qint64 n = Serial->read(reinterpret_cast<char *>(buffer.data()), static_cast<qint64>(buffer.size()));
    return n < 0 ? 0 : static_cast<int>(n);
}

int TPortCOM::RawReadByteTimed(int timeoutMs)
{
    if (LinkDown() || !WaitForRx(1, timeoutMs))
        return -1;
    char c = 0;
    return Serial->getChar(&c) ? static_cast<std::uint8_t>(c) : -1;
}

int TPortCOM::RawReadByte()
{
    if (LinkDown())
        return -1;
    char c = 0;
    return Serial->bytesAvailable() > 0 && Serial->getChar(&c) ? static_cast<std::uint8_t>(c) : -1;
}

int TPortCOM::RxCount()
{
    if (LinkDown())
        return -1;
    return static_cast<int>(Serial->bytesAvailable());
}

int TPortCOM::TxCount()
{
    if (LinkDown())
        return -1;
    if (Serial->bytesToWrite() > 0)
        Serial->flush();
    return static_cast<int>(Serial->bytesToWrite());
}

void TPortCOM::SetBaudRate(int value)
{
    BaudRate = value;
    if (Serial->isOpen())
        Serial->setBaudRate(value);
}

void TPortCOM::SetParity(int value)
{
    Parity = value;
    if (Serial->isOpen())
        Serial->setParity(ToQtParity(value));
}

void TPortCOM::SetDataBits(int value)
{
    DataBits = value;
    if (Serial->isOpen())
        Serial->setDataBits(value == 7 ? QSerialPort::Data7 : QSerialPort::Data8);
}

void TPortCOM::SetStopBits(int value)
{
    StopBits = value;
    if (Serial->isOpen())
        Serial->setStopBits(value == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
}

void TPortCOM::SetXonXoff(int value)
{
    XonXoff = value;
    ApplyFlowControl();
}

void TPortCOM::SetDtrDsr(int value) { DtrDsr = value; }

void TPortCOM::SetRtsCts(int value)
{
    RtsCts = value;
    ApplyFlowControl();
}

// Modem lines: a pty (and some adapters) has none; the failed call is harmless.
void TPortCOM::SetDtr(int value)
{
    Dtr = value;
    if (Serial->isOpen()) {
        Serial->setDataTerminalReady(value != 0);
        Serial->clearError();
    }
}

void TPortCOM::SetRts(int value)
{
    Rts = value;
    if (Serial->isOpen() && !RtsCts) {
        Serial->setRequestToSend(value != 0);
        Serial->clearError();
    }
}

int TPortCOM::GetDsr()
{
    if (!Serial->isOpen())
        return 0;
    Serial->clearError();
    const auto lines = Serial->pinoutSignals();
    if (Serial->error() != QSerialPort::NoError) {
        // No modem status on this device: count DSR as present.
        Serial->clearError();
        return 1;
    }
    return (lines & QSerialPort::DataSetReadySignal) ? 1 : 0;
}
