// The serial link over a real pty and the TCP link over loopback, against voltix-sim.
#include "EventLoopUi.h"
#include "SimProcess.h"

#include "base/Clock.h"
#include "base/TarnelError.h"
#include "link/PortCOM.h"
#include "link/PortIP.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include "support/FakeClock.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int CommandTimeoutMs = 2000;

std::uint32_t ReadCode(TPortVirt &port)
{
    std::array<std::uint8_t, 4> code{};
    port.ReadExact(code);
    return qFromLittleEndian<quint32>(code.data());
}

// What the connection workflow does after Identify: type code, prompt, description.
void ExpectInstrumentReady(TPortVirt &port, std::uint32_t typeCode, int channels)
{
    EXPECT_EQ(ReadCode(port), typeCode);
    ASSERT_TRUE(port.WaitPrompt());
    ASSERT_TRUE(port.SendCommand(30, CommandTimeoutMs));
    std::array<std::uint8_t, 176> description{};
    EXPECT_EQ(port.ReceiveBlockInto(description, TBlockProgress::None, TBlockErrors::ErrorIndicator), 176);
    EXPECT_EQ(qFromLittleEndian<qint32>(description.data()), channels);
    EXPECT_TRUE(port.WaitPrompt());
}

// Parameter block: read, patch, write back, read again.
void ExpectParameterRoundTrip(TPortVirt &port, TScriptedUi &ui, int size)
{
    ASSERT_TRUE(port.SendCommand(28, CommandTimeoutMs));
    std::vector<std::uint8_t> block(216, 0);
    ASSERT_EQ(port.ReceiveBlockInto(block, TBlockProgress::None, TBlockErrors::ErrorIndicator), size);
    ASSERT_TRUE(port.WaitPrompt());
    block[0] = 3;
    block[33] = 0x01;
    ASSERT_TRUE(port.SendCommand(29, CommandTimeoutMs));
    port.SendBlockFrom(std::span<const std::uint8_t>(block).first(size), TBlockErrors::ErrorIndicator,
                       TBlockProgress::ProgressBar);
    ASSERT_TRUE(port.WaitPrompt());
    ASSERT_TRUE(port.SendCommand(28, CommandTimeoutMs));
    std::vector<std::uint8_t> again(216, 0);
    ASSERT_EQ(port.ReceiveBlockInto(again, TBlockProgress::None, TBlockErrors::ErrorIndicator), size);
    EXPECT_EQ(again, block);
    EXPECT_TRUE(port.WaitPrompt());
    EXPECT_TRUE(ui.Messages.isEmpty());
}

// One run dialogue: "GO", count, "+-" per stack, "OK" + records, "ST", prompt.
int RunOnce(TPortVirt &port, int recordSize, std::vector<std::uint8_t> &records)
{
    if (!port.SendCommand(32, CommandTimeoutMs))
        return -1;
    int count = 0;
    for (;;) {
        std::array<std::uint8_t, 2> token{'0', '0'};
        port.RawRead(token, 50000);
        if (token == std::array<std::uint8_t, 2>{'G', 'O'}) {
            std::array<std::uint8_t, 4> n{};
            port.RawRead(n, 40000);
            count = qFromLittleEndian<qint32>(n.data());
        } else if (token == std::array<std::uint8_t, 2>{'O', 'K'}) {
            records.assign(10 * recordSize, 0);
            port.ReceiveBlockInto(records, TBlockProgress::None, TBlockErrors::ErrorIndicator);
        } else if (token == std::array<std::uint8_t, 2>{'S', 'T'}) {
            port.WaitPrompt();
            return count;
        } else if (token != std::array<std::uint8_t, 2>{'+', '-'}) {
            return 0;
        }
    }
}

TEST(SerialDevicePath, mappedNumberOrTtyS)
{
    const TDeviceMap map = {{3, "/dev/ttyUSB0"}, {12, "/dev/rfcomm0"}, {4, ""}};
    EXPECT_EQ(SerialDevicePath(3, map), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDevicePath(12, map), "/dev/rfcomm0");
    EXPECT_EQ(SerialDevicePath(4, map), "/dev/ttyS3");
    EXPECT_EQ(SerialDevicePath(1), "/dev/ttyS0");
}

struct SerialLink : ::testing::Test {
    QTemporaryDir Dir;
    QString Path;
    TEventLoopUi Ui;
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Path = Dir.filePath("voltix");
    }
};

TEST_F(SerialLink, connectIdentifyTransferRunDisconnectReconnect)
{
    TSimProcess sim({"--pty", Path, "--time-scale", "0", "--channels", "8"});
    ASSERT_EQ(sim.Where(), "pty:" + Path);

    TPortCOM port(Ui);
    port.SetDevicePath(Path);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Ui.Confirms.clear();
        ASSERT_EQ(port.Connect(7, 115200, "", false, "", 0), 7);
        EXPECT_EQ(Ui.Confirms, QStringList{"Connect Serial link < COM 7 > between computer and VOLTIX/KELVO,\n"
                                           "then press < OK > button"});
        EXPECT_EQ(port.GetState(), 7);
        EXPECT_EQ(port.Transport().BaudRate(), 115200);

        QByteArray second, first;
        ASSERT_TRUE(port.Identify(second, first));
        EXPECT_EQ(first, "VOLTIX PRO 8");
        EXPECT_EQ(second, "SN 0042 V2.10 SIM");
        ExpectInstrumentReady(port, 0x10000002, 8);
        if (round == 0) {
            ExpectParameterRoundTrip(port, Ui, 216);
            std::vector<std::uint8_t> records;
            EXPECT_EQ(RunOnce(port, 260, records), 3);
            EXPECT_EQ(records[0], 0x30);
            EXPECT_EQ(records[260], 0x31);
        }
        // The workflow escapes before disconnecting, so the instrument identifies again.
        EXPECT_TRUE(port.SendCommand(27, CommandTimeoutMs));
        port.Disconnect();
        EXPECT_EQ(port.GetState(), 0);
        EXPECT_FALSE(Ui.Busy);
    }
}

TEST_F(SerialLink, cancelledPromptOrMissingDevice_returns0)
{
    TPortCOM port(Ui);
    port.SetDevicePath(Path);
    Ui.ConfirmAnswers = {false};
    EXPECT_EQ(port.Connect(7, 19200, "", false, "", 0), 0);
    EXPECT_EQ(port.GetState(), -1);
    EXPECT_TRUE(port.OpenFailure().isEmpty());
    // Nothing at the mapped path: the reason names the device and the system's word.
    EXPECT_EQ(port.Connect(7, 19200, "", false, "", 0), 0);
    EXPECT_EQ(port.GetState(), 0);
    EXPECT_TRUE(port.OpenFailure().startsWith("Cannot open serial port " + Path + ": ")) << port.OpenFailure().toStdString();
    EXPECT_TRUE(port.OpenFailure().contains("USB Check")) << port.OpenFailure().toStdString();
    port.Disconnect();
    EXPECT_EQ(port.GetState(), 0);
}

TEST_F(SerialLink, corruptedBlocksAndFFRepliesAreRecovered)
{
    TSimProcess sim({"--pty", Path, "--time-scale", "0", "--fault", "crc-every=2", "--fault", "ff-replies=3",
                     "--generation", "1"});
    ASSERT_FALSE(sim.Where().isEmpty());
    TPortCOM port(Ui);
    port.SetDevicePath(Path);
    ASSERT_EQ(port.Connect(7, 19200, "", false, "", 0), 7);
    QByteArray second, first;
    ASSERT_TRUE(port.Identify(second, first));
    ExpectInstrumentReady(port, 0x10000001, 10);
    ExpectParameterRoundTrip(port, Ui, 196);
    EXPECT_FALSE(Ui.ErrorIndicator);
}

TEST_F(SerialLink, simulatorGone_waitsEndWithLinkErrors)
{
    auto sim = std::make_unique<TSimProcess>(QStringList{"--pty", Path, "--time-scale", "0"});
    TPortCOM port(Ui);
    port.SetDevicePath(Path);
    ASSERT_EQ(port.Connect(7, 19200, "", false, "", 0), 7);
    QByteArray second, first;
    ASSERT_TRUE(port.Identify(second, first));
    EXPECT_EQ(ReadCode(port), 0x10000002u);
    ASSERT_TRUE(port.WaitPrompt());
    sim.reset();
    // The pty's other side is gone: the device reports an error and the link is down.
    try {
        port.GetByte();
        FAIL() << "no error";
    } catch (const ETarnelError &e) {
        EXPECT_EQ(e.Message(), "Port err. Getcom");
    }
    EXPECT_LE(port.GetState(), 0);
}

// A modem on the far side of a pty, answering AT commands from the wait loop.
struct SerialModem : ::testing::Test {
    TEventLoopUi Ui;
    TFakeClock Clock;
    int Master = -1;
    QString Device;
    QByteArray Heard;
    QList<QByteArray> Commands;
    QByteArray DialAnswer = "\r\nCONNECT 9600\r\n";
    void SetUp() override
    {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(Master, 0);
        ASSERT_EQ(::grantpt(Master), 0);
        ASSERT_EQ(::unlockpt(Master), 0);
        Device = QString::fromLatin1(::ptsname(Master));
        auto events = Ui.OnYield;
        Ui.OnYield = [this, events](int waitMs) {
            events(std::min(waitMs, 2));
            Clock.Advance(waitMs);
            char buf[64];
            ssize_t n = 0;
            while ((n = ::read(Master, buf, sizeof buf)) > 0)
                Heard.append(buf, n);
            for (qsizetype end; (end = Heard.indexOf("\r\n")) >= 0;) {
                const QByteArray line = Heard.left(end);
                Heard.remove(0, end + 2);
                Commands << line;
                const QByteArray answer = line.startsWith("ATDT") ? DialAnswer : QByteArray("\r\nOK\r\n");
                [[maybe_unused]] const ssize_t w = ::write(Master, answer.constData(), size_t(answer.size()));
            }
        };
    }
    void TearDown() override
    {
        ::close(Master);
    }
};

TEST_F(SerialModem, dialsWithAndWithoutInitString)
{
    struct Case {
        QString init;
        QList<QByteArray> commands;
    };
    for (const Case &c : {Case{"AT&F E0", {"ATZ", "AT&F E0", "ATDT0123456"}}, Case{"", {"ATZ", "ATDT0123456"}}}) {
        SCOPED_TRACE(c.init.toStdString());
        Commands.clear();
        TPortCOM port(Ui, Clock);
        port.SetDevicePath(Device);
        ASSERT_EQ(port.Connect(5, 9600, "0123456", false, c.init, 0), 5);
        EXPECT_EQ(Commands, c.commands);
        port.Disconnect();
    }
}

TEST_F(SerialModem, aRefusedDialFailsTheConnectionWithTheModemsText)
{
    for (const char *refusal : {"NO CARRIER", "BUSY", "NO DIALTONE", "NO ANSWER", "ERROR"}) {
        SCOPED_TRACE(refusal);
        DialAnswer = QByteArray("\r\n") + refusal + "\r\n";
        Ui.Messages.clear();
        TPortCOM port(Ui, Clock);
        port.SetDevicePath(Device);
        EXPECT_EQ(port.Connect(5, 9600, "0123456", false, "", 0), 0);
        EXPECT_EQ(Ui.Messages, QStringList{refusal});
        EXPECT_LE(port.GetState(), 0) << "no link left open";
        EXPECT_LT(Clock.Now, 300000) << "not the wait timeout";
    }
}

struct TcpLink : ::testing::Test {
    TEventLoopUi Ui;
};

TEST_F(TcpLink, connectIdentifyDisconnectReconnect)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    ASSERT_TRUE(sim.Where().startsWith("tcp:127.0.0.1:"));

    TPortIP port(Ui);
    EXPECT_EQ(port.LinkInfo(), "Not connected");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Ui.Confirms.clear();
        ASSERT_EQ(port.Connect(100, 115200, sim.TcpAddress(), false, "", 0), 100);
        EXPECT_EQ(Ui.Confirms, QStringList{"Connect Wavenode on VOLTIX/KELVO \nthen press < OK > button"});
        EXPECT_EQ(port.GetState(), 100);
        EXPECT_EQ(port.LinkInfo(), "127.0.0.1");

        QByteArray second, first;
        ASSERT_TRUE(port.Identify(second, first));
        EXPECT_EQ(first, "127.0.0.1");
        EXPECT_EQ(second, "SN 0042 V2.10 SIM");
        ExpectInstrumentReady(port, 0x10000002, 10);
        if (round == 0) {
            ExpectParameterRoundTrip(port, Ui, 216);
            std::vector<std::uint8_t> records;
            EXPECT_EQ(RunOnce(port, 260, records), 3);
        }
        EXPECT_TRUE(port.SendCommand(27, CommandTimeoutMs));
        port.Disconnect();
        EXPECT_EQ(port.GetState(), 0);
    }
}

TEST_F(TcpLink, cancelledOrRefused_returns0AndNotConnected)
{
    TPortIP port(Ui);
    Ui.ConfirmAnswers = {false};
    EXPECT_EQ(port.Connect(100, 0, "127.0.0.1:1", false, "", 0), 0);
    EXPECT_EQ(port.GetState(), -1);

    // A port nobody listens on any more.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
    probe.close();
    EXPECT_EQ(port.Connect(100, 0, address, false, "", 0), 0);
    EXPECT_EQ(Ui.Messages, QStringList{"Unable to connect to 127.0.0.1"});
    EXPECT_EQ(port.LinkInfo(), "Not connected");
}

TEST_F(TcpLink, emptyAddress_usesTheModuleDefaults)
{
    TPortIP port(Ui);
    Ui.ConfirmAnswers = {false};
    EXPECT_EQ(port.Connect(100, 0, "", false, "", 0), 0);
    EXPECT_EQ(port.LinkInfo(), "192.168.100.76");
    EXPECT_EQ(port.RemotePort(), 29461);
}

TEST_F(TcpLink, peerCloses_nextReadRaisesGetIP)
{
    auto sim = std::make_unique<TSimProcess>(QStringList{"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    TPortIP port(Ui);
    ASSERT_EQ(port.Connect(100, 0, sim->TcpAddress(), false, "", 0), 100);
    sim.reset();
    EXPECT_THROW(port.GetByte(), ETarnelError);
    EXPECT_EQ(port.GetState(), -1);
    try {
        port.PutByte('@');
        FAIL() << "no error";
    } catch (const ETarnelError &e) {
        EXPECT_EQ(e.Message(), "Port err. put IP");
    }
}

TEST_F(TcpLink, instrumentHangsUpAfterAGroup_groupCompletesAndNextCommandRaises)
{
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--fault", "drop-after-groups=1"});
    TPortIP port(Ui);
    ASSERT_EQ(port.Connect(100, 0, sim.TcpAddress(), false, "", 0), 100);
    QByteArray second, first;
    ASSERT_TRUE(port.Identify(second, first));
    ExpectInstrumentReady(port, 0x10000002, 10);
    std::vector<std::uint8_t> records;
    EXPECT_EQ(RunOnce(port, 260, records), 10) << "the group the instrument measured arrives whole";
    EXPECT_EQ(records[0], 0xA0);
    try {
        port.SendCommand(45, CommandTimeoutMs);
        port.SendCommand(45, CommandTimeoutMs);
        FAIL() << "no error";
    } catch (const ETarnelError &e) {
        EXPECT_TRUE(e.Message().startsWith("Port err.")) << e.Message().toStdString();
    }
    EXPECT_FALSE(Ui.Busy);
}

// Run by bench/link-idle-cpu.sh: a read that waits for a silent instrument,
// with the CPU time it cost.
double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void MeasureIdle(TPortVirt &port, const char *name)
{
    const int seconds = qEnvironmentVariableIntValue("TARNEL_IDLE_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("TARNEL_IDLE_SECONDS")
                            : 10;
    const double cpu0 = CpuSeconds();
    const std::int64_t t0 = SystemClock().Ms();
    QByteArray text;
    EXPECT_FALSE(port.ReadLine(text, 40, seconds * 1000));
    const double cpu = CpuSeconds() - cpu0;
    const double wall = (SystemClock().Ms() - t0) / 1000.0;
    std::printf("idle-cpu %s ReadLine: wall %.2f s, cpu %.3f s, %.2f %% of one core\n", name, wall, cpu,
                100.0 * cpu / wall);
    const double cpuW0 = CpuSeconds();
    const std::int64_t w0 = SystemClock().Ms();
    // WaitForText only ends on its own after 300 s: drop the link from a timer.
    QTimer::singleShot(seconds * 1000, [&port] { port.Transport().SetLinkState(-1); });
    EXPECT_FALSE(port.WaitForText("never"));
    const double cpuW = CpuSeconds() - cpuW0;
    const double wallW = (SystemClock().Ms() - w0) / 1000.0;
    std::printf("idle-cpu %s WaitForText: wall %.2f s, cpu %.3f s, %.2f %% of one core\n", name, wallW, cpuW,
                100.0 * cpuW / wallW);
}

TEST(IdleCpu, DISABLED_silentInstrument)
{
    TEventLoopUi ui;
    QTemporaryDir dir;
    const QString path = dir.filePath("voltix");
    TSimProcess pty({"--pty", path, "--time-scale", "0"});
    TSimProcess tcp({"--tcp", "127.0.0.1:0", "--time-scale", "0"});
    TPortCOM com(ui);
    com.SetDevicePath(path);
    ASSERT_EQ(com.Connect(9, 115200, "", false, "", 0), 9);
    MeasureIdle(com, "serial");
    TPortIP ip(ui);
    ASSERT_EQ(ip.Connect(100, 0, tcp.TcpAddress(), false, "", 0), 100);
    MeasureIdle(ip, "tcp");
}

} // namespace
