#pragma once
// The link over the instrument's USB cable (an FTDI USB-serial converter).
#include "link/FtdiDevice.h"
#include "link/PortVirt.h"

#include <memory>

class TPortUSB : public TPortVirt {
public:
    static constexpr int LinkSelector = 99;
    static constexpr int OpenAttempts = 501;

    TPortUSB(TUserInterface &ui, TClock &clock, std::unique_ptr<TFtdiDevice> device);
    explicit TPortUSB(TUserInterface &ui);
    ~TPortUSB() override;

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
    void SetPortNumber(int) override {}
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
    int GetPortNumber() override { return 0; }
    int GetBaudRate() override { return BaudRate; }
    int GetDataBits() override { return DataBits == 7 ? 7 : 8; }
    int GetStopBits() override { return StopBits == 2 ? 2 : 1; }
    int GetXonXoff() override { return XonXoff; }
    int GetParity() override { return Parity >= 1 && Parity <= 4 ? Parity : 0; }
    int GetDtrDsr() override { return DtrDsr; }
    int GetRtsCts() override { return RtsCts; }
    int GetDtr() override { return Dtr; }
    int GetRts() override { return Rts; }
    int GetDsr() override;
    void SetLatency(int ms) override;
    int MaxBaudRate() const override { return 273000; }
    QString LinkName() const override { return QStringLiteral("USB"); }
    QString LinkInfo() override;

protected:
    TIdentifyValues IdentifyValues() const override;
    bool WaitForTextLinkDown() override;

private:
    void ApplyDataCharacteristics();
    // A failed read, write or status call: the cable is gone, the link is down.
    int DeviceFailed();
    void ApplyFlow(int mode, int &flag, int value);

    std::unique_ptr<TFtdiDevice> Device;
    bool HandleHeld = false;
    int DataBits = 8;
    int StopBits = 0;
    int Parity = 0;
    int XonXoff = 0;
    int DtrDsr = 0;
    int RtsCts = 0;
    int NoFlow = 1;
    int State = 0;
    int Dtr = 0;
    int Rts = 0;
    int BaudRate = 0;
};

// Number of FTDI devices present; 0 when they cannot be listed.
int UsbDeviceCount(TFtdiDevice &device);
int UsbDeviceCount();
