#pragma once
// The serial link: a cable on a serial port, a Bluetooth rfcomm port or a
// telephone modem dialled with AT commands.
#include "link/Transport.h"

#include <QString>

#include <map>
#include <memory>

class QSerialPort;
class TUserInterface;
class TClock;

// Port number -> device path, from the configuration's [Devices] Com<n> keys.
using TDeviceMap = std::map<int, QString>;

// The device of serial port n: the mapped path when there is one, else /dev/ttyS<n-1>.
QString SerialDevicePath(int portNumber, const TDeviceMap &devices = {});

class TSerialTransport : public TTransport {
public:
    TSerialTransport(TUserInterface &ui, TClock &clock);
    ~TSerialTransport() override;

    // The device the next Open opens; empty: /dev/ttyS<n-1> of the port number.
    void SetDevicePath(const QString &path) { Device = path; }

    // Why the last Open could not open the device (the system's reason and
    // what to do about it); empty after an open that worked.
    const QString &OpenFailure() const { return OpenError; }
    // The device the link opened (or will open).
    QString DevicePath() const;

    int Open(int portSelector, int baudRate, const QString &dialNumber, bool waitForDsr, const QString &modemInit,
             int byteDelayMs) override;
    void Close() override;
    int LinkState() const override { return State; }
    void SetLinkState(int state) override { State = state; }
    void DiscardOutput() override;
    int Waiting() override;
    int Unsent() override;
    QString Name() const override { return QStringLiteral("RS232"); }
    QString Info() override { return QStringLiteral("NA"); }
    int MaxBaudRate() const override { return 115200; }
    int BaudRate() const override { return Baud; }
    void SetBaudRate(int value) override;
    bool SetDtr(bool on) override;
    bool SetRts(bool on) override;
    std::optional<bool> Dsr() override;
    // The serial port's notifier wakes the wait when bytes arrive.
    int WaitSliceMs() const override { return 250; }

protected:
    int ReadWaiting(std::span<std::uint8_t> buffer) override;
    int TakeByte() override;
    int WriteBytes(std::span<const std::uint8_t> data) override;
    QByteArray DropInput() override;

private:
    bool OpenDevice();
    // Writes a modem command and waits for its answer; false when the link
    // closed, or the modem refused ("NO CARRIER", "BUSY", ...: the text is
    // shown) or said nothing for the wait timeout.
    bool ModemCommand(const QByteArray &command, QByteArrayView answer);

    TUserInterface &Ui;
    TClock &Clock;
    std::unique_ptr<QSerialPort> Serial;
    QString OpenError;
    int State = 0;
    int PortNumber = 0;
    QString Device;
    int Baud = 19200;
};
