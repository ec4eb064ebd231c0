// Arbitrary instrument bytes straight into the block decoder, answer after
// answer, at full speed (no port, no clock): its results must stay inside
// the bytes it was given and inside the block buffer.
#include "link/BlockDecoder.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    // The first bytes choose the block asked for and what the transfer still owes.
    unsigned expected = data[0] % 128;
    std::int64_t remaining = static_cast<std::int16_t>(data[1] | data[2] << 8) * 8;
    std::span<const std::uint8_t> rest(data + 3, size - 3);
    (void)TBlockDecoder::Size(rest);
    while (!rest.empty()) {
        const TBlockFrame f = TBlockDecoder::Frame(rest, expected, remaining);
        if (f.Length < 0 || f.Length > TBlockDecoder::MaxPayload || f.Size > TBlockDecoder::MaxFrame)
            __builtin_trap();
        switch (f.Status) {
        case TBlockFrame::TStatus::NeedMore:
            if (f.Size <= rest.size())
                __builtin_trap();
            return 0;
        case TBlockFrame::TStatus::Good:
        case TBlockFrame::TStatus::BadCheck:
            if (f.Payload.size() != std::size_t(f.Length) || f.Payload.data() < rest.data() ||
                f.Payload.data() + f.Payload.size() > rest.data() + rest.size() ||
                (f.Status == TBlockFrame::TStatus::Good) != (f.Check == f.Computed))
                __builtin_trap();
            if (f.Status == TBlockFrame::TStatus::Good) {
                remaining -= f.Length;
                expected = TBlockDecoder::NextNumber(static_cast<std::uint16_t>(expected));
            }
            break;
        case TBlockFrame::TStatus::WrongNumber:
        case TBlockFrame::TStatus::End:
            break;
        }
        if (f.Size == 0 || f.Size > rest.size())
            __builtin_trap();
        rest = rest.subspan(f.Size);
    }
    return 0;
}
