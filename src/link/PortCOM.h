#pragma once
// The serial link: a cable on a serial port, a Bluetooth rfcomm port or a
// telephone modem dialled with AT commands.
#include "link/PortVirt.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>

class QSerialPort;

// Port number -> device path, from the configuration's [Devices] Com<n> keys.
using TDeviceMap = std::map<int, QString>;

// The device of serial port n: the mapped path when there is one, else /dev/ttyS<n-1>.
QString SerialDevicePath(int portNumber, const TDeviceMap &devices = {});

class TPortCOM : public TPortVirt {
public:
    TPortCOM(TUserInterface &ui, TClock &clock);
    explicit TPortCOM(TUserInterface &ui);
    ~TPortCOM() override;

    // The device the next Connect opens; empty: /dev/ttyS<n-1> of the port number.
    void SetDevicePath(const QString &path) { DeviceOverride = path; }

    // Why the last Connect could not open the device (the system's reason
    // and what to do about it); empty after an open that worked.
    const QString &OpenFailure() const { return OpenError; }

    void Disconnect() override;
    int Connect(int portSelector, int baudRate, const QString &dialNumber, bool waitForDsr,
                const QString &modemInit, int byteDelayMs) override;
    void FlushInput() override;
    void FlushOutput() override;
    int RawWriteByte(std::uint8_t byte) override;
    int RawRead(std::span<std::uint8_t> buffer, int timeoutMs) override;
    int RawReadByteTimed(int timeoutMs) override;
    int RawReadByte() override;
    void SetState(int state) override { State = state; }
    void SetPortNumber(int value) override { PortNumber = value; }
    void SetBaudRate(int value) override;
    void SetParity(int value) override;
    void SetDataBits(int value) override;
    void SetStopBits(int value) override;
    void SetXonXoff(int value) override;
    void SetDtrDsr(int value) override;
    void SetRtsCts(int value) override;
    void SetDtr(int value) override;
    void SetRts(int value) override;
    int RxCount() override;
    int TxCount() override;
    int GetState() const override { return State; }
    int GetPortNumber() override { return PortNumber; }
    int GetBaudRate() override { return BaudRate; }
    int GetDataBits() override { return DataBits; }
    int GetStopBits() override { return StopBits; }
    int GetXonXoff() override { return XonXoff; }
    int GetParity() override { return Parity; }
    int GetDtrDsr() override { return DtrDsr; }
    int GetRtsCts() override { return RtsCts; }
    int GetDtr() override { return Dtr; }
    int GetRts() override { return Rts; }
    int GetDsr() override;
    int MaxBaudRate() const override { return 115200; }
    QString LinkName() const override { return QStringLiteral("RS232"); }
    QString LinkInfo() override { return QStringLiteral("NA"); }

    // The device the link opened (or will open).
    QString DevicePath() const;

protected:
    // The serial port's notifier wakes the wait when bytes arrive.
    int WaitSliceMs() const override { return 250; }

private:
    bool Open();
    void ApplyFlowControl();
    // Writes a modem command and waits for its answer; false when the link
    // closed, or the modem refused ("NO CARRIER", "BUSY", ...: the text is
    // shown) or said nothing for the wait timeout.
    bool ModemCommand(const QByteArray &command, QByteArrayView answer);

    std::unique_ptr<QSerialPort> Serial;
    QString OpenError;
    int State = 0;
    int PortNumber = 0;
    QString DeviceOverride;
    int BaudRate = 19200;
    int Parity = 0;
    int DataBits = 8;
    int StopBits = 1;
    int XonXoff = 0;
    int DtrDsr = 0;
    int RtsCts = 0;
    int Dtr = 0;
    int Rts = 0;
};
