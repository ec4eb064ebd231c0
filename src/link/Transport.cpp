#include "link/Transport.h"

#include "base/WireTrace.h"

#include <algorithm>
#include <chrono>
#include <thread>

TTransport::~TTransport() = default;

void TTransport::Rest(int ms)
{
    if (Waiter)
        Waiter->Rest(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int TTransport::Read(std::span<std::uint8_t> buffer, int timeoutMs)
{
    if (LinkDown())
        return -1;
    if (Waiter)
        Waiter->WaitForRx(static_cast<int>(buffer.size()), timeoutMs);
    const int n = ReadWaiting(buffer);
    if (n > 0 && WireTrace::Active())
        WireTrace::Received(buffer.first(static_cast<std::size_t>(n)));
    return n;
}

int TTransport::ReadNow()
{
    if (LinkDown())
        return -1;
    const int b = TakeByte();
    if (b >= 0 && WireTrace::Active()) {
        const std::uint8_t byte = static_cast<std::uint8_t>(b);
        WireTrace::Received(std::span(&byte, 1));
    }
    return b;
}

int TTransport::Write(std::span<const std::uint8_t> data)
{
    if (LinkDown())
        return -1;
    const int n = WriteBytes(data);
    if (n > 0 && WireTrace::Active())
        WireTrace::Sent(data.first(std::min(static_cast<std::size_t>(n), data.size())));
    return n;
}

void TTransport::DiscardInput()
{
    const QByteArray dropped = DropInput();
    if (!dropped.isEmpty() && WireTrace::Active()) {
        WireTrace::Received(std::span(reinterpret_cast<const std::uint8_t *>(dropped.constData()),
                                      static_cast<std::size_t>(dropped.size())));
        WireTrace::Note(QStringLiteral("discarded %1 unread bytes").arg(dropped.size()));
    }
}
