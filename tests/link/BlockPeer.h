#pragma once
// The instrument's half of a block transfer, written from the wire summary,
// with switches that spoil parts of the exchange.
#include "FakePort.h"

#include <set>
#include <vector>

inline QByteArray Le16Bytes(unsigned v)
{
    QByteArray b(2, 0);
    b[0] = char(v & 0xFF);
    b[1] = char((v >> 8) & 0xFF);
    return b;
}
inline unsigned Le16At(const QByteArray &b, int i) { return std::uint8_t(b[i]) | std::uint8_t(b[i + 1]) << 8; }
inline unsigned Sum16(QByteArrayView b)
{
    unsigned s = 0;
    for (char c : b)
        s += std::uint8_t(c);
    return s & 0xFFFF;
}
inline QByteArray Pattern(int n)
{
    QByteArray p(n, 0);
    for (int i = 0; i < n; ++i)
        p[i] = char((i * 7 + i / 251) & 0xFF);
    return p;
}

// Instrument sends Payload; the PC runs ReceiveBlock.
class TInstrumentSends {
public:
    QByteArray Payload;
    bool AnnounceSize = true;
    std::optional<std::uint32_t> SizeOverride;
    int GarbledEchoes = 0;                // answer this many requests with a wrong echo only
    std::set<int> CorruptTransmissions;   // 1-based count of block transmissions
    std::optional<unsigned> LengthWord;   // replaces length << 6 on every block
    std::vector<unsigned> Requests;       // block numbers asked, including the closing one
    int Transmissions = 0;

    void Attach(TFakePort &port)
    {
        Port = &port;
        port.OnWrite = [this](std::uint8_t b) { Hear(b); };
    }

private:
    void Hear(std::uint8_t b)
    {
        if (!Synced) {
            if (b != 0)
                return;
            Synced = true;
            Port->Feed({0});
            const std::uint32_t size = SizeOverride ? *SizeOverride : std::uint32_t(Payload.size());
            if (AnnounceSize)
                Port->Feed(QByteArrayView(Le16Bytes(size & 0xFFFF) + Le16Bytes(size >> 16)));
            return;
        }
        Pending.append(char(b));
        if (Pending.size() < 2)
            return;
        const unsigned n = Le16At(Pending, 0);
        Pending.clear();
        Requests.push_back(n);
        if (GarbledEchoes > 0) {
            --GarbledEchoes;
            Port->Feed({7, 7});
            return;
        }
        Port->Feed(QByteArrayView(Le16Bytes(n)));
        if (n != LastNumber) {
            if (Offset >= Payload.size())
                return; // closing request
            Chunk = Payload.mid(Offset, 528);
            Offset += Chunk.size();
            LastNumber = n;
        }
        ++Transmissions;
        Port->Feed(QByteArrayView(Le16Bytes(LengthWord ? *LengthWord : unsigned(Chunk.size()) << 6)));
        Port->Feed(QByteArrayView(Chunk));
        unsigned check = (Sum16(Le16Bytes(Chunk.size())) + Sum16(Chunk)) & 0xFFFF;
        if (CorruptTransmissions.count(Transmissions))
            check ^= 0x0101;
        Port->Feed(QByteArrayView(Le16Bytes(check)));
    }

    TFakePort *Port = nullptr;
    bool Synced = false;
    QByteArray Pending;
    QByteArray Chunk;
    int Offset = 0;
    unsigned LastNumber = 0;
};

// The PC runs SendBlock; the instrument requests and checks the blocks.
class TInstrumentReceives {
public:
    QByteArray Received;
    qint64 AnnouncedSize = -1;
    std::set<int> RejectTransmissions;    // request the block again although it passed
    static constexpr unsigned BogusNumber = 200;
    std::set<int> BogusRequestBefore;     // ask for block 200 before this transmission
    std::vector<unsigned> Requests;
    int Transmissions = 0;
    int BadChecks = 0;
    bool Done = false;

    void Attach(TFakePort &port, QByteArrayView beforeSync = {})
    {
        Port = &port;
        port.OnWrite = [this](std::uint8_t b) { Hear(b); };
        port.Feed(beforeSync);
        port.Feed({0});
    }

private:
    enum { Sync, Size, Echo, Length, Body, Check, Finished } Step = Sync;

    void Request(unsigned n)
    {
        Requests.push_back(n);
        Asked = n;
        Step = Echo;
        Port->Feed(QByteArrayView(Le16Bytes(n)));
    }
    // Asks for block n, after a bogus request when one is due.
    void RequestBlock(unsigned n)
    {
        Closing = Received.size() >= AnnouncedSize;
        if (BogusRequestBefore.count(Transmissions + 1) && !Closing) {
            BogusRequestBefore.erase(Transmissions + 1);
            RealRequest = n;
            Request(BogusNumber);
            return;
        }
        Request(n);
    }
    void Hear(std::uint8_t b)
    {
        Pending.append(char(b));
        switch (Step) {
        case Sync:
            if (b == 0)
                Step = Size;
            Pending.clear();
            return;
        case Size:
            if (Pending.size() < 4)
                return;
            AnnouncedSize = Le16At(Pending, 0) | qint64(Le16At(Pending, 2)) << 16;
            Pending.clear();
            RequestBlock(1);
            return;
        case Echo:
            if (Pending.size() < 2)
                return;
            Pending.clear();
            if (Asked == BogusNumber) {
                Request(RealRequest);
            } else if (Closing) {
                Step = Finished;
                Done = true;
            } else {
                Step = Length;
            }
            return;
        case Length:
            if (Pending.size() < 2)
                return;
            BodyLength = int(Le16At(Pending, 0) >> 6);
            Pending.clear();
            Step = BodyLength ? Body : Check;
            return;
        case Body:
            if (Pending.size() < BodyLength)
                return;
            BodyBytes = Pending;
            Pending.clear();
            Step = Check;
            return;
        case Check: {
            if (Pending.size() < 2)
                return;
            const unsigned check = Le16At(Pending, 0);
            Pending.clear();
            ++Transmissions;
            const bool good = check == ((Sum16(Le16Bytes(BodyLength)) + Sum16(BodyBytes)) & 0xFFFF);
            if (!good)
                ++BadChecks;
            if (!good || RejectTransmissions.count(Transmissions)) {
                RequestBlock(Asked);
                return;
            }
            Received += BodyBytes;
            RequestBlock(Asked >= 127 ? 1 : Asked + 1);
            return;
        }
        default:
            return;
        }
    }

    TFakePort *Port = nullptr;
    QByteArray Pending, BodyBytes;
    int BodyLength = 0;
    unsigned Asked = 0, RealRequest = 0;
    bool Closing = false;
};
