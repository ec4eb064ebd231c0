// voltix-sim's side of the exchanges, checked byte by byte over loopback TCP
// with a plain socket (none of the program's link code).
#include "link/SimProcess.h"

#include <QTcpSocket>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstring>

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

} // namespace
