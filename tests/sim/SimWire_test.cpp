// voltix-sim's side of the exchanges, checked byte by byte over loopback TCP
// with a plain socket (none of the program's link code).
#include "link/SimProcess.h"

#include <QTcpSocket>
#include <QtEndian>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

class TWire {
public:
    explicit TWire(const QString &address)
    {
        const int colon = address.lastIndexOf(':');
        Socket.connectToHost(address.left(colon), quint16(address.mid(colon + 1).toInt()));
        Connected = Socket.waitForConnected(5000);
    }
    void Send(const QByteArray &bytes)
    {
        Socket.write(bytes);
        Socket.waitForBytesWritten(5000);
    }
    // Exactly n bytes, or fewer after timeoutMs of silence.
    QByteArray Read(int n, int timeoutMs = 5000)
    {
        QByteArray out;
        while (out.size() < n) {
            if (Socket.bytesAvailable() == 0 && !Socket.waitForReadyRead(timeoutMs))
                break;
            out += Socket.read(n - out.size());
        }
        return out;
    }
    void Command(int code)
    {
        Send(QByteArray(1, char(code)) + QByteArray(1, char(code ^ 0xFF)));
        ASSERT_EQ(Read(1), QByteArray(1, char(code)));
    }
    float Float()
    {
        const QByteArray b = Read(4);
        const quint32 bits = b.size() == 4 ? qFromLittleEndian<quint32>(b.constData()) : 0;
        float f = 0;
        std::memcpy(&f, &bits, 4);
        return f;
    }
    bool Connected = false;
    QTcpSocket Socket;
};

const QByteArray IdentAnswer = QByteArray("@VOLTIX PRO 10\r\nSN 0042 V2.10 SIM\r\n") +
                               QByteArray("\x02\x00\x00\x10", 4) + ":>";

TEST(SimWire, identificationThenRemoteStateAndEscapeBack)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    TWire wire(sim.TcpAddress());
    ASSERT_TRUE(wire.Connected);
    wire.Send("@");
    EXPECT_EQ(wire.Read(IdentAnswer.size()), IdentAnswer);
    wire.Send("@");
    EXPECT_EQ(wire.Read(1), "@");
    EXPECT_TRUE(wire.Read(1, 300).isEmpty()) << "remote state answers @ alone";
    wire.Command(27);
    wire.Send("@");
    EXPECT_EQ(wire.Read(IdentAnswer.size()), IdentAnswer);
}

TEST(SimWire, generationAndTypeCodeOptions)
{
    struct Case {
        QStringList args;
        QByteArray code;
    };
    for (const Case &c : {Case{{"--generation", "1"}, QByteArray("\x01\x00\x00\x10", 4)},
                          Case{{"--type-code", "0x10000003"}, QByteArray("\x03\x00\x00\x10", 4)}}) {
        TSimProcess sim(QStringList{"--tcp", "127.0.0.1:0"} + c.args);
        TWire wire(sim.TcpAddress());
        wire.Send("@");
        const QByteArray answer = wire.Read(IdentAnswer.size());
        EXPECT_EQ(answer.mid(answer.size() - 6, 4), c.code);
    }
}

TEST(SimWire, healthResistanceModeAndSwitchExchanges)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--battery", "12.5,11.5", "--temperature", "41",
                     "--bad-electrodes", "5"});
    TWire wire(sim.TcpAddress());
    wire.Send("@");
    wire.Read(IdentAnswer.size());

    wire.Command(45);
    EXPECT_FLOAT_EQ(wire.Float(), 12.5f);
    EXPECT_FLOAT_EQ(wire.Float(), 11.5f);
    EXPECT_FLOAT_EQ(wire.Float(), 41.0f);
    EXPECT_EQ(wire.Read(2), ":>");

    // Mode 3 takes the extra 16-bit word before the prompt; mode 0 does not.
    wire.Command(37);
    wire.Send(QByteArray("\x03\x00\x00\x00", 4));
    EXPECT_TRUE(wire.Read(2, 300).isEmpty());
    wire.Send(QByteArray("\x01\x00", 2));
    EXPECT_EQ(wire.Read(2), ":>");
    wire.Command(37);
    wire.Send(QByteArray(4, 0));
    EXPECT_EQ(wire.Read(2), ":>");

    // The pair 5 (a bad node) and 6 in the first receiving dipole, as the
    // resistance check sends it: the reading is high.
    wire.Command(41);
    QByteArray list = QByteArray("\x01\x00", 2) + QByteArray(4, 0) + QByteArray("\x05\x00\x06\x00", 4) + QByteArray(18, 0);
    wire.Send(list);
    EXPECT_EQ(wire.Read(2), ":>");
    wire.Command(43);
    wire.Send(QByteArray(4, 0));
    EXPECT_GT(wire.Float(), 100.0f);
    EXPECT_EQ(wire.Read(2), ":>");

    wire.Command(44);
    wire.Float();
    EXPECT_EQ(wire.Read(2), ":>");
}

TEST(SimWire, faults_silentWakeUpsFFRepliesAndHealthAlarms)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "silent-wakeups=2", "--fault",
                     "ff-replies=1", "--fault", "battery-low-at-group=1", "--fault", "overheat-at-group=1",
                     "--fault", "bad-token-every=1"});
    TWire wire(sim.TcpAddress());
    wire.Send("@@");
    EXPECT_TRUE(wire.Read(1, 300).isEmpty());
    wire.Send("@");
    EXPECT_EQ(wire.Read(IdentAnswer.size()), IdentAnswer);
    wire.Send(QByteArray("\x2D\xD2", 2));
    EXPECT_EQ(wire.Read(1), QByteArray(1, char(0xFF)));
    wire.Command(45);
    EXPECT_GT(wire.Float(), 10.0f);
    wire.Read(10);

    // One run with one stack: GO, count, +-, OK + records, then a bad token instead of ST.
    wire.Command(29);
    EXPECT_EQ(wire.Read(1), QByteArray(1, 0));
    wire.Send(QByteArray(1, 0));
    QByteArray block(216, 0);
    block[0] = 1;
    block[16] = 1;
    wire.Send(QByteArray("\xD8\x00\x00\x00", 4));
    EXPECT_EQ(wire.Read(2), QByteArray("\x01\x00", 2));
    wire.Send(QByteArray("\x01\x00", 2));
    unsigned sum = 0xD8;
    for (char c : block)
        sum += std::uint8_t(c);
    QByteArray frame = QByteArray(1, char((216 << 6) & 0xFF)) + QByteArray(1, char((216 << 6) >> 8)) + block;
    frame += QByteArray(1, char(sum & 0xFF)) + QByteArray(1, char(sum >> 8));
    wire.Send(frame);
    EXPECT_EQ(wire.Read(2), QByteArray("\x02\x00", 2)) << "closing request";
    wire.Send(QByteArray("\x02\x00", 2));
    EXPECT_EQ(wire.Read(2), ":>");

    wire.Command(32);
    EXPECT_EQ(wire.Read(6), QByteArray("GO\x01\x00\x00\x00", 6));
    EXPECT_EQ(wire.Read(2), "+-");
    EXPECT_EQ(wire.Read(2), "OK");
    wire.Send(QByteArray(1, 0));
    EXPECT_EQ(wire.Read(1), QByteArray(1, 0));
    EXPECT_EQ(wire.Read(4), QByteArray("\x04\x01\x00\x00", 4)) << "one 260-byte record";
    wire.Send(QByteArray("\x01\x00", 2));
    EXPECT_EQ(wire.Read(2), QByteArray("\x01\x00", 2));
    const QByteArray word = wire.Read(2);
    EXPECT_EQ(qFromLittleEndian<quint16>(word.constData()) >> 6, 260);
    const QByteArray record = wire.Read(260);
    EXPECT_EQ(std::uint8_t(record[0]), 0x10);
    EXPECT_EQ(record.mid(2, 2), QByteArray(2, 0)) << "first measurement number";
    wire.Read(2);
    wire.Send(QByteArray("\x02\x00", 2));
    EXPECT_EQ(wire.Read(2), QByteArray("\x02\x00", 2));
    EXPECT_EQ(wire.Read(2), "XX");
    EXPECT_EQ(wire.Read(2), ":>");

    wire.Command(45);
    EXPECT_LT(wire.Float(), 9.5f);
    EXPECT_LT(wire.Float(), 9.5f);
    EXPECT_GT(wire.Float(), 65.0f);
}

QByteArray Le16(unsigned v) { return QByteArray(1, char(v & 0xFF)) + QByteArray(1, char((v >> 8) & 0xFF)); }

QByteArray Frame(const QByteArray &payload)
{
    unsigned sum = (payload.size() & 0xFF) + ((payload.size() >> 8) & 0xFF);
    for (char c : payload)
        sum += std::uint8_t(c);
    return Le16(unsigned(payload.size()) << 6) + payload + Le16(sum & 0xFFFF);
}

// One group measured by hand: the count after GO, the records received and
// how many blocks failed their check in a row (at most giveUp).
struct TGroup {
    int Count = 0;
    int Stacks = 0; // "+-" tokens
    qsizetype Announced = 0;
    QByteArray Records;
    int BadChecks = 0;
};

TGroup Measure(TWire &wire, int giveUp)
{
    TGroup g;
    wire.Command(32);
    const QByteArray go = wire.Read(6);
    g.Count = go.size() == 6 ? qFromLittleEndian<qint32>(go.constData() + 2) : -1;
    while (wire.Read(2) == "+-")
        ++g.Stacks;
    wire.Send(QByteArray(1, 0));
    wire.Read(1);
    const QByteArray size = wire.Read(4);
    g.Announced = size.size() == 4 ? qFromLittleEndian<quint32>(size.constData()) : 0;
    unsigned n = 1;
    while (g.Records.size() < g.Announced) {
        wire.Send(Le16(n));
        EXPECT_EQ(wire.Read(2), Le16(n));
        const QByteArray word = wire.Read(2);
        const int length = qFromLittleEndian<quint16>(word.constData()) >> 6;
        if (length == 0)
            break;
        const QByteArray data = wire.Read(length);
        const QByteArray check = wire.Read(2);
        if (Frame(data).right(2) == check) {
            g.Records += data;
            n = n >= 127 ? 1 : n + 1;
            g.BadChecks = 0;
        } else if (++g.BadChecks >= giveUp) {
            return g;
        }
    }
    wire.Send(Le16(n));
    wire.Read(2);
    EXPECT_EQ(wire.Read(4), "ST:>");
    return g;
}

// The parameter block as the program writes it: channels, stacks, Q max and
// the four Config bytes.
QByteArray Parameters(int channels, int minStacks, int maxStacks, float qMax, std::array<std::uint8_t, 4> config)
{
    QByteArray b(216, 0);
    const auto put32 = [&b](int at, quint32 v) { qToLittleEndian<quint32>(v, b.data() + at); };
    put32(0, quint32(channels));
    put32(12, quint32(minStacks));
    put32(16, quint32(maxStacks));
    quint32 bits = 0;
    std::memcpy(&bits, &qMax, 4);
    put32(20, bits);
    for (int i = 0; i < 4; ++i)
        b[24 + i] = char(config[std::size_t(i)]);
    qToLittleEndian<quint16>(200, b.data() + 32);
    qToLittleEndian<quint16>(24, b.data() + 36);
    for (int w = 0; w < 20; ++w)
        qToLittleEndian<quint16>(8, b.data() + 38 + 2 * w);
    return b;
}

void SendParameters(TWire &wire, const QByteArray &block)
{
    wire.Command(29);
    ASSERT_EQ(wire.Read(1), QByteArray(1, 0));
    wire.Send(QByteArray(1, 0));
    wire.Send(Le16(unsigned(block.size())) + QByteArray(2, 0));
    ASSERT_EQ(wire.Read(2), Le16(1));
    wire.Send(Le16(1) + Frame(block));
    ASSERT_EQ(wire.Read(2), Le16(2));
    wire.Send(Le16(2));
    ASSERT_EQ(wire.Read(2), ":>");
}

// A, B, then M and N of each channel, chained.
void Switch(TWire &wire, const std::vector<int> &nodes)
{
    wire.Command(41);
    QByteArray list = Le16(1);
    for (int i = 0; i < 13; ++i)
        list += Le16(i < int(nodes.size()) ? unsigned(nodes[std::size_t(i)]) : 0);
    wire.Send(list);
    ASSERT_EQ(wire.Read(2), ":>");
}

float At(const QByteArray &records, int record, int offset)
{
    float v = 0;
    std::memcpy(&v, records.constData() + 260 * record + offset, 4);
    return v;
}

// Generation-2 record offsets.
enum : int { OffQ = 136, OffVab = 148, OffVp = 168, OffIn = 172, OffM = 176, OffWindowM = 180 };

TEST(SimWire, stacksFromTheMinimumUntilEveryChannelIsBelowQMax)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    TWire wire(sim.TcpAddress());
    wire.Send("@");
    wire.Read(IdentAnswer.size());
    Switch(wire, {1, 2, 4, 5, 6, 7});
    // 1 % noise per stack: Q is about 1 / sqrt(stacks) %.
    const struct {
        int min, max;
        float qMax;
        int stacks;
    } cases[] = {
        {3, 20, 5, 3},     // reached at the minimum
        {1, 20, 5, 2},     // one stack shows no spread: never reached there
        {3, 20, 0, 20},    // no target: the maximum
        {3, 8, 0.01f, 8},  // not reached: the maximum
        {5, 3, 5, 5},      // a maximum below the minimum stacks the minimum
        {1, 1, 5, 1},      // one stack only
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << ".." << c.max << " Q max " << c.qMax);
        SendParameters(wire, Parameters(3, c.min, c.max, c.qMax, {0x21, 0x02, 0x00, 0x00}));
        const TGroup g = Measure(wire, 3);
        ASSERT_EQ(g.Records.size(), 3 * 260);
        EXPECT_EQ(g.Stacks, c.stacks);
        for (int k = 0; k < 3; ++k) {
            const float q = At(g.Records, k, OffQ);
            if (c.stacks == 1) {
                EXPECT_TRUE(std::isnan(q)) << "no spread, not " << q;
                continue;
            }
            // The spread of the stacks actually made.
            EXPECT_GT(q, 0.05f / std::sqrt(float(c.stacks)));
            EXPECT_LT(q, 3.0f / std::sqrt(float(c.stacks)));
            if (c.stacks < c.max) {
                EXPECT_LT(q, c.qMax);
            }
        }
    }
}

TEST(SimWire, theCurrentFollowsTheGroundAndTheTransmittersLimits)
{
    struct TReading {
        float vab, in, vp, txKOhm;
    };
    const auto read = [](const char *rho, std::array<std::uint8_t, 4> config) {
        TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--noise", "0", "--model", rho});
        TWire wire(sim.TcpAddress());
        wire.Send("@");
        wire.Read(IdentAnswer.size());
        Switch(wire, {10, 15, 20, 25});
        SendParameters(wire, Parameters(1, 2, 2, 1, config));
        const TGroup g = Measure(wire, 3);
        wire.Command(44);
        const float tx = wire.Float();
        wire.Read(2);
        return TReading{At(g.Records, 0, OffVab), At(g.Records, 0, OffIn), std::abs(At(g.Records, 0, OffVp)), tx};
    };
    // Vab 100 V (Vab code 4): the current falls as the ground and the contacts grow resistive.
    const TReading low = read("homogeneous:100", {0x01, 0x02, 0x41, 0x00});
    const TReading high = read("homogeneous:12345", {0x01, 0x02, 0x41, 0x00});
    EXPECT_FLOAT_EQ(low.vab, 100);
    EXPECT_FLOAT_EQ(high.vab, 100);
    EXPECT_NEAR(high.in / low.in, 100.0 / 12345, 1e-4);
    // The transmitter's circuit is its two contacts (the Tx check), less a little ground.
    for (const TReading &r : {low, high})
        EXPECT_NEAR(r.in, 100 / r.txKOhm, 0.02 * r.in);
    // A target Vp of 50 mV (Vp code 2) is met within an 800 V limit, not at 12345 Ohm.m
    // within 50 V (Vab maximum 5 x 10 V), which then drives its limit.
    const TReading met = read("homogeneous:100", {0x41, 0x02, 0x01, 80});
    EXPECT_NEAR(met.vp, 50, 0.01);
    EXPECT_LT(met.vab, 800);
    const TReading capped = read("homogeneous:12345", {0x81, 0x02, 0x01, 5});
    EXPECT_FLOAT_EQ(capped.vab, 50);
    EXPECT_LT(capped.vp, 800);
    EXPECT_NEAR(capped.in, 50 / capped.txKOhm, 0.02 * capped.in);
}

TEST(SimWire, rhoOnlyRecordsCarryNoChargeabilityNorWindows)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--chargeability", "20"});
    TWire wire(sim.TcpAddress());
    wire.Send("@");
    wire.Read(IdentAnswer.size());
    Switch(wire, {1, 2, 4, 5, 6});
    for (const bool rhoOnly : {true, false}) {
        SCOPED_TRACE(rhoOnly ? "Rho only" : "Rho and IP");
        SendParameters(wire, Parameters(2, 2, 4, 1, {0x21, 0x02, std::uint8_t(rhoOnly ? 0x01 : 0x00), 0x00}));
        const TGroup g = Measure(wire, 3);
        ASSERT_EQ(g.Records.size(), 2 * 260);
        for (int k = 0; k < 2; ++k) {
            const quint16 firstWidth = qFromLittleEndian<quint16>(g.Records.constData() + 260 * k + 18);
            if (rhoOnly) {
                EXPECT_EQ(At(g.Records, k, OffM), 0.0f);
                EXPECT_EQ(firstWidth, 0);
                for (int w = 0; w < 20; ++w)
                    EXPECT_EQ(At(g.Records, k, OffWindowM + 4 * w), 0.0f) << "window " << w;
            } else {
                EXPECT_NEAR(At(g.Records, k, OffM), 20, 1);
                EXPECT_EQ(firstWidth, 8);
                EXPECT_GT(At(g.Records, k, OffWindowM), 0.0f);
            }
            EXPECT_GT(std::abs(At(g.Records, k, OffVp)), 1.0f) << "still a resistivity reading";
        }
    }
}

TEST(SimWire, theZeroBeforeIdentifyingDoesNotSwallowTheWakeUp)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0"});
    TWire wire(sim.TcpAddress());
    wire.Send(QByteArray(1, 0));
    wire.Send("@");
    EXPECT_EQ(wire.Read(IdentAnswer.size(), 500), IdentAnswer);
}

TEST(SimWire, measurementFaultsStrikeTheirGroupOnly)
{
    struct Case {
        const char *fault;
        int count;         // announced after GO in the second group
        qsizetype records; // bytes received in the second group
        int badChecks;
    };
    for (const Case &c : {Case{"count-inflate-at-group=2", 14, 2600, 0}, Case{"short-block-at-group=2", 10, 1300, 0},
                          Case{"crc-forever-at-group=2", 10, 0, 25}}) {
        SCOPED_TRACE(c.fault);
        TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", c.fault});
        TWire wire(sim.TcpAddress());
        wire.Send("@");
        wire.Read(IdentAnswer.size());
        const TGroup first = Measure(wire, 25);
        EXPECT_EQ(first.Count, 10);
        EXPECT_EQ(first.Records.size(), 2600);
        const TGroup second = Measure(wire, 25);
        EXPECT_EQ(second.Count, c.count);
        EXPECT_EQ(second.Announced, 2600);
        EXPECT_EQ(second.Records.size(), c.records);
        EXPECT_EQ(second.BadChecks, c.badChecks);
    }
}

TEST(SimWire, blocksFromThePcAreAskedForAgainAfterABadCheckOrAWrongEcho)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--fault", "pc-crc-every=2"});
    TWire wire(sim.TcpAddress());
    wire.Send("@");
    wire.Read(IdentAnswer.size());
    QByteArray block(216, 0);
    block[0] = 3;
    for (int transfer = 0; transfer < 2; ++transfer) {
        SCOPED_TRACE(transfer);
        wire.Command(29);
        EXPECT_EQ(wire.Read(1), QByteArray(1, 0));
        wire.Send(QByteArray(1, 0));
        wire.Send(Le16(216) + QByteArray(2, 0));
        EXPECT_EQ(wire.Read(2), Le16(1));
        if (transfer == 0) {
            // A misread request: the PC echoes another number and sends that block.
            wire.Send(Le16(5) + Frame(block));
            EXPECT_EQ(wire.Read(2), Le16(1)) << "asked again after the wrong echo";
        } else {
            // The second block received is rejected as if its check were wrong.
            wire.Send(Le16(1) + Frame(block));
            EXPECT_EQ(wire.Read(2), Le16(1)) << "asked again after the rejected block";
        }
        wire.Send(Le16(1) + Frame(block));
        EXPECT_EQ(wire.Read(2), Le16(2)) << "closing request";
        wire.Send(Le16(2));
        EXPECT_EQ(wire.Read(2), ":>");
    }
    wire.Command(28);
    wire.Send(QByteArray(1, 0));
    wire.Read(1);
    wire.Read(4);
    wire.Send(Le16(1));
    wire.Read(2);
    wire.Read(2);
    EXPECT_EQ(wire.Read(216).left(4), QByteArray("\x03\x00\x00\x00", 4)) << "the block was stored";
}

TEST(SimWire, afterIdentifyingTheInstrumentFallsSilentOrFloodsGarbage)
{
    for (const char *fault : {"silent-after-identify", "garbage-after-identify"}) {
        SCOPED_TRACE(fault);
        TSimProcess sim({"--tcp", "127.0.0.1:0", "--fault", fault});
        TWire wire(sim.TcpAddress());
        wire.Send("@");
        EXPECT_EQ(wire.Read(IdentAnswer.size()), IdentAnswer);
        wire.Send(QByteArray("@\x2D\xD2", 3));
        const QByteArray after = wire.Read(300, 500);
        if (QByteArray(fault).startsWith("silent")) {
            EXPECT_TRUE(after.isEmpty());
        } else {
            EXPECT_EQ(after.size(), 300);
            EXPECT_FALSE(after.contains('@') || after.contains(':') || after.contains('\0'));
        }
    }
}

} // namespace
