// The answers of a block transfer told apart from their bytes alone.
#include "link/BlockDecoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using TStatus = TBlockFrame::TStatus;
using TBytes = std::vector<std::uint8_t>;

// An instrument's answer: number echoed, length word, payload, check value.
TBytes Answer(unsigned number, unsigned lengthWord, const TBytes &payload, int checkDelta = 0)
{
    TBytes b = {std::uint8_t(number), std::uint8_t(number >> 8), std::uint8_t(lengthWord), std::uint8_t(lengthWord >> 8)};
    const unsigned length = lengthWord >> 6;
    unsigned sum = (length & 0xFF) + ((length >> 8) & 0xFF);
    for (std::uint8_t p : payload)
        sum += p;
    b.insert(b.end(), payload.begin(), payload.end());
    sum = (sum + checkDelta) & 0xFFFF;
    b.push_back(std::uint8_t(sum));
    b.push_back(std::uint8_t(sum >> 8));
    return b;
}

TBytes Filled(std::size_t n, std::uint8_t value) { return TBytes(n, value); }

TEST(BlockDecoder, framesOfEveryKind)
{
    const TBytes three = {0xF0, 0x0F, 0xAA};
    struct Case {
        const char *what;
        TBytes bytes;
        unsigned expected;
        std::int64_t remaining;
        TStatus status;
        std::size_t size;
        int length;
    };
    // 0xFFFF announces 1023 bytes: past the block size, cut to what the transfer can hold.
    TBytes overLong = {1, 0, 0xFF, 0xFF};
    const TBytes full = Filled(528, 0x11);
    overLong.insert(overLong.end(), full.begin(), full.end());
    const unsigned overSum = (16 + 2 + 528 * 0x11) & 0xFFFF; // length 528 = 0x0210
    overLong.push_back(std::uint8_t(overSum));
    overLong.push_back(std::uint8_t(overSum >> 8));

    const std::vector<Case> cases = {
        {"good", Answer(1, 3 << 6, three), 1, 3, TStatus::Good, 9, 3},
        {"good, bytes of the next answer behind it", [&] { auto b = Answer(5, 3 << 6, three); b.push_back(9); return b; }(),
         5, 100, TStatus::Good, 9, 3},
        {"bad check value", Answer(1, 3 << 6, three, 1), 1, 3, TStatus::BadCheck, 9, 3},
        {"length bits below the shift ignored", Answer(2, (3 << 6) | 0x3F, three), 2, 3, TStatus::Good, 9, 3},
        {"wrong number", Answer(2, 3 << 6, three), 1, 3, TStatus::WrongNumber, 2, 0},
        {"number with a high byte", Answer(0x0101, 3 << 6, three), 1, 3, TStatus::WrongNumber, 2, 0},
        {"end of transfer", {3, 0, 0, 0}, 3, 500, TStatus::End, 4, 0},
        {"over-long length, transfer owes more than a block", overLong, 1, 1000, TStatus::Good, 534, 528},
        {"over-long length cut to the 3 bytes owed", {1, 0, 0xFF, 0xFF, 0xF0, 0x0F, 0xAA, 0xAC, 0x01}, 1, 3,
         TStatus::Good, 9, 3},
        {"over-long length cut, check value wrong", {1, 0, 0xFF, 0xFF, 0xF0, 0x0F, 0xAA, 0, 0}, 1, 3,
         TStatus::BadCheck, 9, 3},
        {"over-long length, transfer owes nothing", {1, 0, 0xFF, 0xFF}, 1, 0, TStatus::End, 4, 0},
        {"over-long length, transfer count gone negative", {1, 0, 0xC0, 0xFF}, 1, -5, TStatus::End, 4, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const TBlockFrame f = TBlockDecoder::Frame(c.bytes, c.expected, c.remaining);
        EXPECT_EQ(f.Status, c.status);
        EXPECT_EQ(f.Size, c.size);
        EXPECT_EQ(f.Length, c.length);
        if (c.status == TStatus::Good || c.status == TStatus::BadCheck) {
            ASSERT_EQ(f.Payload.size(), std::size_t(c.length));
            EXPECT_EQ(f.Payload.data(), c.bytes.data() + 4) << "the payload is a view of the input";
            EXPECT_EQ(f.Check == f.Computed, c.status == TStatus::Good);
        }
    }
}

TEST(BlockDecoder, truncatedAtEveryByte_asksForMoreUntilWhole)
{
    for (const TBytes &whole : {Answer(1, 3 << 6, {1, 2, 3}), Answer(1, 528 << 6, Filled(528, 0xFE)), TBytes{1, 0, 0, 0}}) {
        for (std::size_t cut = 0; cut < whole.size(); ++cut) {
            SCOPED_TRACE(cut);
            const TBlockFrame f = TBlockDecoder::Frame(std::span(whole).first(cut), 1, 10000);
            EXPECT_EQ(f.Status, TStatus::NeedMore);
            EXPECT_GT(f.Size, cut) << "never asks for what it already has";
            EXPECT_LE(f.Size, whole.size()) << "never asks past the answer";
            EXPECT_TRUE(f.Payload.empty());
        }
        EXPECT_NE(TBlockDecoder::Frame(whole, 1, 10000).Status, TStatus::NeedMore);
    }
}

TEST(BlockDecoder, sizeSyncAndNumbering)
{
    const TBytes size = {0x10, 0x02, 0x00, 0x80};
    EXPECT_EQ(TBlockDecoder::Size(size), 0x80000210u);
    EXPECT_EQ(TBlockDecoder::Size(std::span(size).first(3)), std::nullopt);
    EXPECT_EQ(TBlockDecoder::Size(TBytes{0xFF, 0xFF, 0xFF, 0xFF}), 0xFFFFFFFFu);
    EXPECT_TRUE(TBlockDecoder::IsSync(0));
    EXPECT_FALSE(TBlockDecoder::IsSync('@'));
    EXPECT_EQ(TBlockDecoder::NextNumber(1), 2);
    EXPECT_EQ(TBlockDecoder::NextNumber(126), 127);
    EXPECT_EQ(TBlockDecoder::NextNumber(127), 1);
}

} // namespace
