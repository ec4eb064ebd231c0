#pragma once
// The instrument's framing over the Wi-Fi module's TCP link. A stream link:
// bytes go out whole, with no line to drain, and its read errors have their
// own texts.
#include "link/PortVirt.h"
#include "link/TcpTransport.h"

class TPortIP : public TPortVirt {
public:
    static constexpr int DefaultPort = TTcpTransport::DefaultPort;
    static constexpr int LinkSelector = TTcpTransport::LinkSelector;
    static constexpr int ConnectTimeoutMs = TTcpTransport::ConnectTimeoutMs;
    static constexpr int ReadExactTimeoutMs = 1800000;

    TPortIP(TUserInterface &ui, TClock &clock);
    explicit TPortIP(TUserInterface &ui);

    static QString DefaultAddress() { return TTcpTransport::DefaultAddress(); }
    // The module's port the last Connect aimed at.
    int RemotePort() const { return Tcp.RemotePort(); }

    int WriteBlock(std::span<const std::uint8_t> data) override;
    std::uint8_t GetByte() override;
    void PutByte(std::uint8_t byte) override;
    void ReadExact(std::span<std::uint8_t> buffer) override;

protected:
    TIdentifyValues IdentifyValues() const override;
    void IdentifyFinish(QByteArray &firstLine) override;
    const char *ReadErrorText() const override { return "Port err. get IP"; }

private:
    TTcpTransport &Tcp;
};
