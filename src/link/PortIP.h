#pragma once
// The link to the Wi-Fi serial module plugged into the instrument: a TCP client.
#include "link/PortVirt.h"

#include <QString>

#include <memory>

class QTcpSocket;

class TPortIP : public TPortVirt {
public:
    static constexpr int DefaultPort = 29461;
    static constexpr int LinkSelector = 100;
    static constexpr int ConnectTimeoutMs = 1000;
    static constexpr int ReadExactTimeoutMs = 1800000;

    TPortIP(TUserInterface &ui, TClock &clock);
    explicit TPortIP(TUserInterface &ui);
    ~TPortIP() override;

    static QString DefaultAddress() { return QStringLiteral("192.168.100.76"); }

    int WriteBlock(std::span<const std::uint8_t> data) override;
    std::uint8_t GetByte() override;
    void Disconnect() override;
    // The address may carry a port ("host:port"); the module's port is the default.
    int Connect(int portSelector, int baudRate, const QString &address, bool waitForDsr,
                const QString &modemInit, int byteDelayMs) override;
    void PutByte(std::uint8_t byte) override;
    void ReadExact(std::span<std::uint8_t> buffer) override;
    void FlushInput() override;
    void FlushOutput() override {}
    int RawWriteByte(std::uint8_t byte) override;
    int RawRead(std::span<std::uint8_t> buffer, int timeoutMs) override;
    int RawReadByteTimed(int timeoutMs) override;
    int RawReadByte() override;
    void SetState(int state) override { State = state; }
    void SetPortNumber(int) override {}
    void SetBaudRate(int) override {}
    void SetParity(int) override {}
    void SetDataBits(int) override {}
    void SetStopBits(int) override {}
    void SetXonXoff(int) override {}
    void SetDtrDsr(int) override {}
    void SetRtsCts(int) override {}
    void SetDtr(int) override {}
    void SetRts(int) override {}
    int RxCount() override;
    int TxCount() override { return LinkDown() ? -1 : 0; }
    int GetState() const override { return State; }
    int GetPortNumber() override { return RemotePort; }
    int GetBaudRate() override { return 273000; }
    int GetDataBits() override { return 1; }
    int GetStopBits() override { return 1; }
    int GetXonXoff() override { return 1; }
    int GetParity() override { return 1; }
    int GetDtrDsr() override { return 1; }
    int GetRtsCts() override { return 1; }
    int GetDtr() override { return 1; }
    int GetRts() override { return 1; }
    int GetDsr() override { return 1; }
    int MaxBaudRate() const override { return 273000; }
    QString LinkName() const override { return QStringLiteral("TCP/IP"); }
    QString LinkInfo() override { return AddressText; }

protected:
    TIdentifyValues IdentifyValues() const override;
    void IdentifyFinish(QByteArray &firstLine) override;
    const char *ReadErrorText() const override { return "Port err. get IP"; }
    // The socket's notifier wakes the wait when bytes arrive.
    int WaitSliceMs() const override { return 250; }

private:
    std::unique_ptr<QTcpSocket> Socket;
    int State = 0;
    QString AddressText = QStringLiteral("Not connected");
    QString RemoteHost = DefaultAddress();
    int RemotePort = DefaultPort;
};
