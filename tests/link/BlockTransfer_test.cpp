// Block transfer in both directions against an instrument-side peer that can
// spoil check values, length words, the size and the requests.
#include "BlockPeer.h"

#include "base/TarnelError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

namespace {

struct BlockTransfer : ::testing::Test {
    TScriptedUi Ui;
    TFakeClock Clock;
    TFakePort Port{Ui, Clock};

    QByteArray Stream() const { return Port.BufferStream().Data(); }
};

std::vector<unsigned> Numbers(int from, int to)
{
    std::vector<unsigned> v;
    for (int i = from; i <= to; ++i)
        v.push_back(unsigned(i));
    return v;
}

TEST_F(BlockTransfer, Receive_payloadSizes_arriveWholeInOrder)
{
    for (int size : {1, 176, 527, 528, 529, 1056, 2600}) {
        SCOPED_TRACE(size);
        TInstrumentSends peer;
        peer.Payload = Pattern(size);
        peer.Attach(Port);
        Port.ReceiveBlock(TBlockProgress::ProgressBar, TBlockErrors::ErrorIndicator);
        EXPECT_EQ(Stream(), peer.Payload);
        const int blocks = (size + 527) / 528;
        EXPECT_EQ(peer.Requests, Numbers(1, blocks + 1)) << "blocks then the closing number";
        EXPECT_EQ(Ui.ProgressMax, size);
        EXPECT_EQ(Ui.ProgressPos, 0);
        EXPECT_FALSE(Ui.Busy);
        EXPECT_FALSE(Ui.ErrorIndicator);
    }
}

TEST_F(BlockTransfer, Receive_moreThan127Blocks_numbersWrapTo1)
{
    TInstrumentSends peer;
    peer.Payload = Pattern(130 * 528 + 10);
    peer.Attach(Port);
    Port.ReceiveBlock(TBlockProgress::None, TBlockErrors::None);
    EXPECT_EQ(Stream(), peer.Payload);
    std::vector<unsigned> expected = Numbers(1, 127);
    for (unsigned n : Numbers(1, 5))
        expected.push_back(n);
    EXPECT_EQ(peer.Requests, expected);
}

TEST_F(BlockTransfer, Receive_badCheckValue_sameBlockRequestedUntilItPasses)
{
    TInstrumentSends peer;
    peer.Payload = Pattern(1200);
    peer.CorruptTransmissions = {2, 3, 4};
    peer.Attach(Port);
    // The indicator as it stands whenever the PC asks for a block.
    std::vector<bool> indicator;
    auto hear = Port.OnWrite;
    Port.OnWrite = [&](std::uint8_t b) {
        indicator.push_back(Ui.ErrorIndicator);
        hear(b);
    };
    Port.ReceiveBlock(TBlockProgress::None, TBlockErrors::ErrorIndicator);
    EXPECT_EQ(Stream(), peer.Payload);
    EXPECT_EQ(peer.Requests, (std::vector<unsigned>{1, 2, 2, 2, 2, 3, 4}));
    EXPECT_EQ(std::count(indicator.begin(), indicator.end(), true), 3 * 2) << "shown while block 2 is re-requested";
    EXPECT_FALSE(Ui.ErrorIndicator);
}

TEST_F(BlockTransfer, Receive_badCheckValueWithoutIndicator_leavesItAlone)
{
    TInstrumentSends peer;
    peer.Payload = Pattern(100);
    peer.CorruptTransmissions = {1};
    peer.Attach(Port);
    Port.ReceiveBlock(TBlockProgress::None, TBlockErrors::None);
    EXPECT_EQ(Stream(), peer.Payload);
    EXPECT_FALSE(Ui.ErrorIndicator);
}

TEST_F(BlockTransfer, Receive_lengthWordAbove528_clampedTo528OrToTheTotal)
{
    struct Case {
        int total;
        int expectFirstBlock;
    };
    for (const Case c : {Case{1000, 528}, Case{300, 300}}) {
        SCOPED_TRACE(c.total);
        TInstrumentSends peer;
        peer.Payload = Pattern(c.total);
        peer.LengthWord = 0xFFFF; // 1023 bytes announced
        peer.Attach(Port);
        Port.ReceiveBlock(TBlockProgress::None, TBlockErrors::None);
        EXPECT_EQ(Stream().left(c.expectFirstBlock), peer.Payload.left(c.expectFirstBlock));
        EXPECT_EQ(Stream(), peer.Payload);
    }
}

TEST_F(BlockTransfer, Receive_sizeNeverComes_oneBlockThenClosing)
{
    TInstrumentSends peer;
    peer.Payload = Pattern(700);
    peer.AnnounceSize = false;
    peer.Attach(Port);
    Port.ReceiveBlock(TBlockProgress::ProgressBar, TBlockErrors::None);
    EXPECT_EQ(Stream(), peer.Payload.left(528));
    EXPECT_EQ(peer.Requests, (std::vector<unsigned>{1, 2}));
    EXPECT_EQ(Ui.ProgressMax, 528);
    EXPECT_GE(Clock.Now, 3000);
}

TEST_F(BlockTransfer, Receive_sizeNeverComesAndLengthTooLong_endsWithoutReadingPastTheBuffer)
{
    TInstrumentSends peer;
    peer.Payload = Pattern(700);
    peer.AnnounceSize = false;
    peer.LengthWord = 0xFFFF;
    peer.Attach(Port);
    Port.ReceiveBlock(TBlockProgress::None, TBlockErrors::None);
    EXPECT_TRUE(Stream().isEmpty());
}

TEST_F(BlockTransfer, Receive_hugeAnnouncedSize_neverWritesPastTheBlockBuffer)
{
    // Size 0xFFFFFFFF and 1023-byte length words: every block is taken as 528 bytes.
    TInstrumentSends peer;
    peer.Payload = Pattern(1100);
    peer.SizeOverride = 0xFFFFFFFFu;
    peer.LengthWord = 0xFFFF;
    peer.Attach(Port);
    Port.DropWhenDry = true;
    EXPECT_THROW(Port.ReceiveBlock(TBlockProgress::ProgressBar, TBlockErrors::None), ETarnelError);
    EXPECT_EQ(Port.BufferStream().Size(), 2 * 528);
    EXPECT_EQ(Ui.ProgressMax, INT_MAX);
}

TEST_F(BlockTransfer, Receive_wrongBlockNumberEcho_requestedAgain)
{
    TInstrumentSends peer;
    peer.Payload = Pattern(10);
    peer.GarbledEchoes = 2;
    peer.Attach(Port);
    Port.ReceiveBlock(TBlockProgress::None, TBlockErrors::None);
    EXPECT_EQ(Stream(), peer.Payload);
    EXPECT_EQ(peer.Requests, (std::vector<unsigned>{1, 1, 1, 2}));
}

TEST_F(BlockTransfer, Receive_linkDropsMidTransfer_raisesAndKeepsNoLateData)
{
    TInstrumentSends peer;
    peer.Payload = Pattern(2000);
    peer.Attach(Port);
    auto hear = Port.OnWrite;
    Port.OnWrite = [&](std::uint8_t b) {
        hear(b);
        if (peer.Requests.size() == 2)
            Port.State = -1;
    };
    try {
        Port.ReceiveBlock(TBlockProgress::None, TBlockErrors::None);
        FAIL() << "no error";
    } catch (const ETarnelError &e) {
        EXPECT_EQ(e.Message(), "Port err.");
    }
    EXPECT_FALSE(Ui.Busy);
}

TEST_F(BlockTransfer, ReceiveInto_copiesNeverMoreThanTheDestination)
{
    struct Case {
        int payload, capacity, copied;
    };
    for (const Case c : {Case{176, 176, 176}, Case{600, 260, 260}, Case{100, 260, 100}, Case{100, 0, 0}}) {
        SCOPED_TRACE(c.capacity);
        TInstrumentSends peer;
        peer.Payload = Pattern(c.payload);
        peer.Attach(Port);
        std::vector<std::uint8_t> dest(c.capacity + 4, 0xEE);
        EXPECT_EQ(Port.ReceiveBlockInto(std::span(dest).first(c.capacity), TBlockProgress::None,
                                        TBlockErrors::None),
                  c.copied);
        EXPECT_TRUE(std::equal(dest.begin(), dest.begin() + c.copied, peer.Payload.begin(),
                               [](std::uint8_t a, char b) { return a == std::uint8_t(b); }));
        EXPECT_EQ(dest[c.capacity], 0xEE) << "written past the destination";
    }
}

TEST_F(BlockTransfer, Send_payloadSizes_arriveWholeWithGoodChecks)
{
    for (int size : {1, 216, 528, 529, 1584, 130 * 528 + 3}) {
        for (auto progress : {TBlockProgress::None, TBlockProgress::ProgressBar}) {
            SCOPED_TRACE(size);
            TInstrumentReceives peer;
            peer.Attach(Port, QByteArrayView("\x05\x09"));
            const QByteArray payload = Pattern(size);
            Port.Tx.clear();
            Port.SendBlockFrom(std::span(reinterpret_cast<const std::uint8_t *>(payload.constData()),
                                         std::size_t(payload.size())),
                               TBlockErrors::ErrorIndicator, progress);
            EXPECT_TRUE(peer.Done);
            EXPECT_EQ(peer.AnnouncedSize, size);
            EXPECT_EQ(peer.Received, payload);
            EXPECT_EQ(peer.BadChecks, 0);
            EXPECT_TRUE(Port.Tx.startsWith(QByteArray("\x05\x09\x00", 3))) << "sync bytes echoed";
            EXPECT_EQ(Ui.ProgressPos, 0);
            EXPECT_FALSE(Ui.Busy);
        }
    }
}

TEST_F(BlockTransfer, Send_moreThan127Blocks_numbersWrapTo1)
{
    TInstrumentReceives peer;
    peer.Attach(Port);
    const QByteArray payload = Pattern(128 * 528);
    Port.BufferStream().Clear();
    Port.BufferStream().Write(std::span(reinterpret_cast<const std::uint8_t *>(payload.constData()),
                                        std::size_t(payload.size())));
    Port.SendBlockFrom(std::nullopt, TBlockErrors::None, TBlockProgress::None);
    EXPECT_EQ(peer.Received, payload);
    EXPECT_EQ(peer.Requests.back(), 2u);
    EXPECT_EQ(peer.Requests[127], 1u);
}

TEST_F(BlockTransfer, Send_blockRequestedAgain_isResentUnchanged)
{
    TInstrumentReceives peer;
    peer.RejectTransmissions = {1, 3};
    peer.Attach(Port);
    const QByteArray payload = Pattern(1100);
    Port.SendBlockFrom(std::span(reinterpret_cast<const std::uint8_t *>(payload.constData()), 1100u),
                       TBlockErrors::ErrorIndicator, TBlockProgress::ProgressBar);
    EXPECT_EQ(peer.Received, payload);
    EXPECT_EQ(peer.Requests, (std::vector<unsigned>{1, 1, 2, 2, 3, 4}));
    EXPECT_EQ(peer.BadChecks, 0);
}

TEST_F(BlockTransfer, Send_unknownBlockRequested_showsIndicatorUntilAValidRequest)
{
    TInstrumentReceives peer;
    peer.BogusRequestBefore = {2};
    peer.Attach(Port);
    bool shown = false;
    Port.OnIdle = [&] { shown = shown || Ui.ErrorIndicator; };
    auto hear = Port.OnWrite;
    Port.OnWrite = [&](std::uint8_t b) {
        hear(b);
        shown = shown || Ui.ErrorIndicator;
    };
    const QByteArray payload = Pattern(600);
    Port.SendBlockFrom(std::span(reinterpret_cast<const std::uint8_t *>(payload.constData()), 600u),
                       TBlockErrors::ErrorIndicator, TBlockProgress::None);
    EXPECT_EQ(peer.Received, payload);
    EXPECT_EQ(peer.Requests, (std::vector<unsigned>{1, 200, 2, 3}));
    EXPECT_TRUE(shown);
    EXPECT_FALSE(Ui.ErrorIndicator);
}

TEST_F(BlockTransfer, SendFrom_emptyPayload_showsErrBufferAndSendsNothing)
{
    Port.BufferStream().Write(std::array<std::uint8_t, 3>{1, 2, 3});
    Port.SendBlockFrom(std::span<const std::uint8_t>(), TBlockErrors::None, TBlockProgress::None);
    Port.BufferStream().Clear();
    Port.SendBlockFrom(std::nullopt, TBlockErrors::None, TBlockProgress::None);
    EXPECT_EQ(Ui.Messages, (QStringList{"Err. Buffer", "Err. Buffer"}));
    EXPECT_TRUE(Port.Tx.isEmpty());
}

TEST_F(BlockTransfer, Send_wireImage_matchesTheExchangeLayout)
{
    const QByteArray payload = Pattern(600);
    TInstrumentReceives peer;
    peer.Attach(Port);
    Port.SendBlockFrom(std::span(reinterpret_cast<const std::uint8_t *>(payload.constData()), 600u),
                       TBlockErrors::None, TBlockProgress::None);
    // sync echo, size, echo 1, len, 528 bytes, check, echo 2, len, 72 bytes, check, echo 3
    const QByteArray &w = Port.Tx;
    ASSERT_EQ(w.size(), 1 + 4 + 2 + 2 + 528 + 2 + 2 + 2 + 72 + 2 + 2);
    EXPECT_EQ(QByteArray(w.constData() + 1, 4), QByteArray("\x58\x02\x00\x00", 4));
    EXPECT_EQ(Le16At(w, 7), 528u << 6);
    EXPECT_EQ(Le16At(w, 7 + 2 + 528), (Sum16(Le16Bytes(528)) + Sum16(payload.left(528))) & 0xFFFF);
}

// A line that keeps failing one step of the transfer ends it with an error
// after 20 failures in a row; failures that a good block interrupts do not add up.
TEST_F(BlockTransfer, failuresInARow_endTheTransfer)
{
    const QByteArray payload = Pattern(1056);
    std::set<int> allBad, twoRunsOf19;
    for (int i = 1; i <= 1000; ++i)
        allBad.insert(i);
    for (int i = 1; i <= 39; ++i)
        if (i != 20)
            twoRunsOf19.insert(i);
    TInstrumentSends sends;
    TInstrumentReceives receives;
    struct Case {
        const char *what;
        bool sending;
        std::function<void()> attach;
        bool fails;
    };
    const std::vector<Case> cases = {
        {"receive: no zero echoed", false, [&] { Port.OnWrite = [&](std::uint8_t) { Port.Feed({5}); }; }, true},
        {"receive: block-number echo always wrong", false,
         [&] { sends.GarbledEchoes = 1000, sends.Attach(Port); }, true},
        {"receive: check value always wrong", false,
         [&] { sends.CorruptTransmissions = allBad, sends.Attach(Port); }, true},
        {"receive: 19 bad, one good, 19 bad", false,
         [&] { sends.CorruptTransmissions = twoRunsOf19, sends.Attach(Port); }, false},
        {"send: garbage instead of the zero", true, [&] { receives.Attach(Port, QByteArray(30, 'g')); }, true},
        {"send: every block asked for again", true,
         [&] { receives.RejectTransmissions = allBad, receives.Attach(Port); }, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sends = TInstrumentSends{};
        sends.Payload = payload;
        receives = TInstrumentReceives{};
        Port.Rx.clear();
        c.attach();
        QString error;
        try {
            if (c.sending)
                Port.SendBlockFrom(std::span(reinterpret_cast<const std::uint8_t *>(payload.constData()), 1056u),
                                   TBlockErrors::ErrorIndicator, TBlockProgress::None);
            else
                Port.ReceiveBlock(TBlockProgress::None, TBlockErrors::ErrorIndicator);
        } catch (const ETarnelError &e) {
            error = e.Message();
            EXPECT_EQ(e.Kind(), TErrorKind::Checksum);
        }
        EXPECT_EQ(error, c.fails ? "Port err. block transfer" : "");
        EXPECT_FALSE(Ui.Busy);
        if (!c.fails) {
            EXPECT_EQ(c.sending ? receives.Received : Stream(), payload);
        }
    }
}

} // namespace
