#pragma once
// The link to the Wi-Fi serial module plugged into the instrument: a TCP client.
#include "link/Transport.h"

#include <QString>

#include <memory>

class QTcpSocket;
class TUserInterface;
class TClock;

class TTcpTransport : public TTransport {
public:
    static constexpr int DefaultPort = 29461;
    static constexpr int LinkSelector = 100;
    static constexpr int ConnectTimeoutMs = 1000;

    TTcpTransport(TUserInterface &ui, TClock &clock);
    ~TTcpTransport() override;

    static QString DefaultAddress() { return QStringLiteral("192.168.100.76"); }

    // The address may carry a port ("host:port"); the module's port is the default.
    int Open(int portSelector, int baudRate, const QString &address, bool waitForDsr, const QString &modemInit,
             int byteDelayMs) override;
    void Close() override;
    int LinkState() const override { return State; }
    void SetLinkState(int state) override { State = state; }
    void DiscardOutput() override {}
    int Waiting() override;
    int Unsent() override { return LinkDown() ? -1 : 0; }
    QString Name() const override { return QStringLiteral("TCP/IP"); }
    QString Info() override { return AddressText; }
    int MaxBaudRate() const override { return 273000; }
    // The socket's notifier wakes the wait when bytes arrive.
    int WaitSliceMs() const override { return 250; }
    int RemotePort() const { return Port; }

protected:
    int ReadWaiting(std::span<std::uint8_t> buffer) override;
    int TakeByte() override;
    int WriteBytes(std::span<const std::uint8_t> data) override;
    QByteArray DropInput() override;

private:
    TUserInterface &Ui;
    TClock &Clock;
    std::unique_ptr<QTcpSocket> Socket;
    int State = 0;
    QString AddressText = QStringLiteral("Not connected");
    QString Host = DefaultAddress();
    int Port = DefaultPort;
};
