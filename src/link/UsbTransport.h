#pragma once
// The link over the instrument's USB cable (an FTDI USB-serial converter).
#include "link/FtdiDevice.h"
#include "link/Transport.h"

#include <memory>

class TUserInterface;
class TClock;

class TUsbTransport : public TTransport {
public:
    static constexpr int LinkSelector = 99;
    static constexpr int OpenAttempts = 501;

    TUsbTransport(TUserInterface &ui, TClock &clock, std::unique_ptr<TFtdiDevice> device);
    ~TUsbTransport() override;

    int Open(int portSelector, int baudRate, const QString &dialNumber, bool waitForDsr, const QString &modemInit,
             int byteDelayMs) override;
    void Close() override;
    int LinkState() const override { return State; }
    void SetLinkState(int state) override { State = state; }
    void DiscardOutput() override;
    int Waiting() override;
    int Unsent() override;
    QString Name() const override { return QStringLiteral("USB"); }
    QString Info() override;
    int MaxBaudRate() const override { return 273000; }
    int BaudRate() const override { return Baud; }
    void SetBaudRate(int value) override;
    void SetLatencyTimer(int ms) override;
    bool SetDtr(bool on) override;
    bool SetRts(bool on) override;
    std::optional<bool> Dsr() override;

protected:
    int ReadWaiting(std::span<std::uint8_t> buffer) override;
    int TakeByte() override;
    int WriteBytes(std::span<const std::uint8_t> data) override;
    QByteArray DropInput() override;

private:
    // A failed read, write or status call: the cable is gone, the link is down.
    int DeviceFailed();

    TUserInterface &Ui;
    TClock &Clock;
    std::unique_ptr<TFtdiDevice> Device;
    bool HandleHeld = false;
    int State = 0;
    int Baud = 0;
};

// Number of FTDI devices present; 0 when they cannot be listed.
int UsbDeviceCount(TFtdiDevice &device);
int UsbDeviceCount();
