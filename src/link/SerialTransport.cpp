#include "link/SerialTransport.h"

#include "base/Clock.h"
#include "base/UserInterface.h"

#include <array>

#include <QSerialPort>
#include <QTimer>

namespace {
// As long as the framing's longest wait for the instrument.
constexpr int ModemAnswerTimeoutMs = 300000;
} // namespace

QString SerialDevicePath(int portNumber, const TDeviceMap &devices)
{
    if (const auto it = devices.find(portNumber); it != devices.end() && !it->second.isEmpty())
        return it->second;
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
}

TSerialTransport::TSerialTransport(TUserInterface &ui, TClock &clock)
    : Ui(ui), Clock(clock), Serial(std::make_unique<QSerialPort>())
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

TSerialTransport::~TSerialTransport()
{
    if (Serial->isOpen())
        Serial->close();
}

QString TSerialTransport::DevicePath() const { return Device.isEmpty() ? SerialDevicePath(PortNumber) : Device; }

bool TSerialTransport::OpenDevice()
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
    // The instrument talks 8N1 without flow control.
    Serial->setBaudRate(Baud);
    Serial->setDataBits(QSerialPort::Data8);
    Serial->setParity(QSerialPort::NoParity);
    Serial->setStopBits(QSerialPort::OneStop);
    Serial->setFlowControl(QSerialPort::NoFlowControl);
    Serial->clearError();
    return true;
}

int TSerialTransport::Open(int portSelector, int baudRate, const QString &dialNumber, bool waitForDsr,
                           const QString &modemInit, int)
{
    if (Serial->isOpen())
        Serial->close();
    PortNumber = portSelector;
    State = 0;
    SetBaudRate(baudRate);

    const QString text = QStringLiteral("Connect Serial link < COM ") + QString::number(portSelector) +
                         QStringLiteral(" > between computer and VOLTIX/KELVO,\nthen press < OK > button");
    if (!Ui.Ask(TQuestion::Confirm(QStringLiteral("Communication"), text))) {
        State = -1;
        return 0;
    }

    if (!OpenDevice()) {
        DiscardOutput();
        DiscardInput();
        return State;
    }

    State = -1;
    SetDtr(false);
    SetRts(false);
    DiscardOutput();
    DiscardInput();
    Rest(1000);
    SetRts(true);
    SetDtr(true);

    if (waitForDsr && Dsr() == std::optional(false))
        return 0;
    State = portSelector;

    if (!dialNumber.isEmpty()) {
        // A refused dial leaves no link open behind the failure.
        if (!ModemCommand("ATZ", "OK") || (!modemInit.isEmpty() && !ModemCommand(modemInit.toLatin1(), "OK")) ||
            !ModemCommand("ATDT" + dialNumber.toLatin1(), "CONNECT")) {
            Close();
            return 0;
        }
        Rest(1000);
    }
    DiscardOutput();
    DiscardInput();
    return State;
}

bool TSerialTransport::ModemCommand(const QByteArray &command, QByteArrayView answer)
{
    // Result lines that end the command without the awaited answer.
    static const std::array<QByteArrayView, 5> Refusals = {"NO CARRIER", "BUSY", "NO DIALTONE", "NO ANSWER",
                                                           "ERROR"};
    const QByteArray line0 = command + "\r\n";
    Write(std::span(reinterpret_cast<const std::uint8_t *>(line0.constData()), static_cast<std::size_t>(line0.size())));
    QByteArray line;
    const std::int64_t start = Clock.Ms();
    for (;;) {
        if (LinkDown())
            return false;
        const int b = Waiting() > 0 ? ReadNow() : -1;
        if (b < 0) {
            if (Clock.Ms() - start > ModemAnswerTimeoutMs) {
                Ui.Ask(TQuestion::Notice(QStringLiteral("No answer from the modem")));
                return false;
            }
            if (Waiter)
                Waiter->IdleWait(ModemAnswerTimeoutMs);
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
                Ui.Ask(TQuestion::Notice(QString::fromLatin1(text)));
                return false;
            }
        }
        if (text.contains(answer.toByteArray()))
            return true;
    }
}

void TSerialTransport::Close()
{
    if (State <= 0)
        return;
    SetDtr(false);
    SetRts(false);
    Rest(1000);
    State = 0;
    Ui.BusyIndicator(false);
    // Closing now frees the device for other programs; the next Open reopens it.
    Serial->close();
}

QByteArray TSerialTransport::DropInput()
{
    QByteArray dropped;
    if (State > 0 && Serial->isOpen()) {
        dropped = Serial->readAll();
        Serial->clear(QSerialPort::Input);
    }
    // A flush is one of the points where the operator is listened to.
    Ui.Yield();
    return dropped;
}

void TSerialTransport::DiscardOutput()
{
    if (Serial->isOpen())
        Serial->clear(QSerialPort::Output);
}

int TSerialTransport::WriteBytes(std::span<const std::uint8_t> data)
{
    const qint64 n = Serial->write(reinterpret_cast<const char *>(data.data()), static_cast<qint64>(data.size()));
    if (n < 0)
        return -1;
    Serial->flush();
    return static_cast<int>(n);
}

int TSerialTransport::ReadWaiting(std::span<std::uint8_t> buffer)
{
    const qint64 n = Serial->read(reinterpret_cast<char *>(buffer.data()), static_cast<qint64>(buffer.size()));
    return n < 0 ? 0 : static_cast<int>(n);
}

int TSerialTransport::TakeByte()
{
    char c = 0;
    return Serial->bytesAvailable() > 0 && Serial->getChar(&c) ? static_cast<std::uint8_t>(c) : -1;
}

int TSerialTransport::Waiting()
{
    if (LinkDown())
        return -1;
    return static_cast<int>(Serial->bytesAvailable());
}

int TSerialTransport::Unsent()
{
    if (LinkDown())
        return -1;
    if (Serial->bytesToWrite() > 0)
        Serial->flush();
    return static_cast<int>(Serial->bytesToWrite());
}

void TSerialTransport::SetBaudRate(int value)
{
    Baud = value;
    if (Serial->isOpen())
        Serial->setBaudRate(value);
}

// Modem lines: a pty (and some adapters) has none; the failed call is harmless.
bool TSerialTransport::SetDtr(bool on)
{
    if (!Serial->isOpen())
        return false;
    const bool done = Serial->setDataTerminalReady(on);
    Serial->clearError();
    return done;
}

bool TSerialTransport::SetRts(bool on)
{
    if (!Serial->isOpen())
        return false;
    const bool done = Serial->setRequestToSend(on);
    Serial->clearError();
    return done;
}

std::optional<bool> TSerialTransport::Dsr()
{
    if (!Serial->isOpen())
        return false;
    Serial->clearError();
    const auto lines = Serial->pinoutSignals();
    if (Serial->error() != QSerialPort::NoError) {
        Serial->clearError();
        return std::nullopt;
    }
    return (lines & QSerialPort::DataSetReadySignal) != 0;
}
