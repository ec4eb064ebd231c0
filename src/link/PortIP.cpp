#include "link/PortIP.h"

#include "base/Clock.h"

TPortIP::TPortIP(TUserInterface &ui, TClock &clock)
    : TPortVirt(ui, clock, std::make_unique<TTcpTransport>(ui, clock)),
      Tcp(static_cast<TTcpTransport &>(Transport()))
{
}

TPortIP::TPortIP(TUserInterface &ui) : TPortIP(ui, SystemClock()) {}

int TPortIP::WriteBlock(std::span<const std::uint8_t> data) { return Transport().Write(data); }

std::uint8_t TPortIP::GetByte()
{
    const int b = RawReadByteTimed(WaitTimeoutMs);
    if (b < 0)
        FailRead("Port err. get IP");
    return static_cast<std::uint8_t>(b);
}

void TPortIP::PutByte(std::uint8_t byte)
{
    if (RawWriteByte(byte) <= 0)
        Fail(TErrorKind::LinkLost, "Port err. put IP");
}

void TPortIP::ReadExact(std::span<std::uint8_t> buffer)
{
    const int n = RawRead(buffer, ReadExactTimeoutMs);
    // A dropped link or a timeout ends the transfer: zero-filled bytes would
    // pass for data.
    if (n < static_cast<int>(buffer.size()))
        FailRead("Port err. get IP");
}

TPortVirt::TIdentifyValues TPortIP::IdentifyValues() const
{
    return {.DrainTimeoutMs = 100, .AnswerTimeoutMs = 2000, .FallbackBaud = 0, .EscapePass = 21,
            .EscapeFailureFails = true};
}

void TPortIP::IdentifyFinish(QByteArray &firstLine) { firstLine = LinkInfo().toLatin1(); }
