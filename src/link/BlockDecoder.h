#pragma once
// The bytes an instrument sends in a block transfer, told apart without a
// port, a clock or a screen: the sync answer, the announced size, and each
// block's answer (its number echoed, the length word, the payload, the check
// value). The receiving side of TPortVirt feeds it what it read and reads
// more while it says "need more".
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

struct TBlockFrame {
    enum class TStatus {
        NeedMore,    // Size bytes are needed to go on
        WrongNumber, // the echo is not the number asked for (Size = 2)
        End,         // a zero length: the instrument has no more blocks
        Good,        // the check value matches
        BadCheck,    // it does not
    };
    TStatus Status = TStatus::NeedMore;
    // The bytes the answer takes (NeedMore: the bytes needed so far).
    std::size_t Size = 0;
    unsigned Number = 0;
    // The payload length, kept inside the block buffer: a length word past
    // the block size is taken as the block size or what the transfer still
    // owes, whichever is less, and the check value decides.
    int Length = 0;
    bool LengthClamped = false;
    std::span<const std::uint8_t> Payload;
    std::uint16_t Check = 0;    // sent by the instrument
    std::uint16_t Computed = 0; // of the length and payload that arrived
};

class TBlockDecoder {
public:
    static constexpr int MaxPayload = 528;
    static constexpr std::uint8_t SyncByte = 0;
    static constexpr std::size_t SizeBytes = 4;
    static constexpr std::size_t MaxFrame = 2 + 2 + MaxPayload + 2;

    static bool IsSync(std::uint8_t answer) { return answer == SyncByte; }
    // The transfer's size, unsigned little-endian; none before 4 bytes.
    static std::optional<std::uint32_t> Size(std::span<const std::uint8_t> bytes);
    // The answer to a request for block `expected`. remaining: the bytes the
    // transfer still owes, which bounds a garbled length.
    static TBlockFrame Frame(std::span<const std::uint8_t> bytes, unsigned expected, std::int64_t remaining);

    static std::uint16_t Checksum(std::span<const std::uint8_t> bytes);
    // Block numbers run 1..127, then start again at 1.
    static std::uint16_t NextNumber(std::uint16_t number) { return number >= 127 ? 1 : std::uint16_t(number + 1); }
};
