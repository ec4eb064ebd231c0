#include "link/BlockDecoder.h"

#include <algorithm>
#include <array>

namespace {
unsigned FromLe16(std::span<const std::uint8_t> b) { return b[0] | (b[1] << 8); }
} // namespace

std::uint16_t TBlockDecoder::Checksum(std::span<const std::uint8_t> bytes)
{
    unsigned sum = 0;
    for (std::uint8_t b : bytes)
        sum += b;
    return static_cast<std::uint16_t>(sum & 0xFFFF);
}

std::optional<std::uint32_t> TBlockDecoder::Size(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < SizeBytes)
        return std::nullopt;
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

TBlockFrame TBlockDecoder::Frame(std::span<const std::uint8_t> bytes, unsigned expected, std::int64_t remaining)
{
    TBlockFrame f;
    if (bytes.size() < 2) {
        f.Size = 2;
        return f;
    }
    f.Number = FromLe16(bytes.first(2));
    if (f.Number != expected) {
        f.Status = TBlockFrame::TStatus::WrongNumber;
        f.Size = 2;
        return f;
    }
    if (bytes.size() < 4) {
        f.Size = 4;
        return f;
    }
    std::int64_t length = FromLe16(bytes.subspan(2, 2)) >> 6;
    // An over-long length still takes as many bytes as the transfer could
    // hold, so that the exchange stays in step for the retry.
    f.LengthClamped = length > MaxPayload;
    if (f.LengthClamped)
        length = remaining >= MaxPayload ? MaxPayload : std::max<std::int64_t>(remaining, 0);
    f.Length = static_cast<int>(length);
    if (length == 0) {
        f.Status = TBlockFrame::TStatus::End;
        f.Size = 4;
        return f;
    }
    f.Size = 4 + static_cast<std::size_t>(length) + 2;
    if (bytes.size() < f.Size)
        return f;
    f.Payload = bytes.subspan(4, static_cast<std::size_t>(length));
    f.Check = static_cast<std::uint16_t>(FromLe16(bytes.subspan(4 + static_cast<std::size_t>(length), 2)));
    const std::array<std::uint8_t, 2> lengthBytes = {static_cast<std::uint8_t>(length & 0xFF),
                                                     static_cast<std::uint8_t>((length >> 8) & 0xFF)};
    f.Computed = static_cast<std::uint16_t>((Checksum(lengthBytes) + Checksum(f.Payload)) & 0xFFFF);
    f.Status = f.Check == f.Computed ? TBlockFrame::TStatus::Good : TBlockFrame::TStatus::BadCheck;
    return f;
}
