// The USB link's use of the FTDI calls, against a recording fake device.
#include "link/PortUSB.h"

#include "base/TarnelError.h"
#include "support/FakeClock.h"
#include "support/ScriptedUi.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <deque>

namespace {

class TFakeFtdi : public TFtdiDevice {
public:
    static constexpr int DeviceNotFound = 2;
    QStringList Calls;
    std::deque<int> Counts{1};       // ListDevices answers; the last one repeats
    int FailOpens = 0;
    std::deque<std::uint8_t> Rx;
    int DriverStatus = Ok, LibraryStatus = Ok;
    std::uint32_t Driver = 0x021210, Library = 0x030215;
    unsigned Modem = 0;
    int BytesBeforeUnplug = -1;      // the cable goes after this many bytes were read
    bool Unplugged = false;

    int ListDevices(int &count) override
    {
        count = Counts.front();
        if (Counts.size() > 1)
            Counts.pop_front();
        return count < 0 ? 4 : Ok;
    }
    int Open(int index) override
    {
        Calls << QString("Open %1").arg(index);
        return FailOpens-- > 0 ? 3 : Ok;
    }
    int Close() override { return Log("Close"); }
    int Read(std::span<std::uint8_t> buffer, int &read) override
    {
        read = 0;
        if (Unplugged)
            return DeviceNotFound;
        while (read < int(buffer.size()) && !Rx.empty()) {
            if (BytesBeforeUnplug >= 0 && BytesBeforeUnplug-- == 0) {
                Unplugged = true;
                return DeviceNotFound;
            }
            buffer[read++] = Rx.front();
            Rx.pop_front();
        }
        return Ok;
    }
    int Write(std::span<const std::uint8_t> data, int &written) override
    {
        written = 0;
        if (Unplugged)
            return DeviceNotFound;
        written = int(data.size());
        return Log(QString("Write %1").arg(data[0]));
    }
    int SetBaudRate(int rate) override { return Log(QString("Baud %1").arg(rate)); }
    int SetDataCharacteristics(int w, int s, int p) override { return Log(QString("Data %1 %2 %3").arg(w).arg(s).arg(p)); }
    int SetFlowControl(int mode, std::uint8_t xon, std::uint8_t xoff) override
    {
        return Log(QString("Flow %1 %2 %3").arg(mode, 0, 16).arg(xon).arg(xoff));
    }
    int SetDtr(bool on) override { return Log(on ? "SetDtr" : "ClrDtr"); }
    int SetRts(bool on) override { return Log(on ? "SetRts" : "ClrRts"); }
    int GetModemStatus(unsigned &status) override
    {
        status = Modem;
        return Ok;
    }
    int Purge(int mask) override { return Log(QString("Purge %1").arg(mask)); }
    int SetTimeouts(int, int) override { return Ok; }
    int GetQueueStatus(int &received) override
    {
        received = int(Rx.size());
        return Unplugged ? DeviceNotFound : Ok;
    }
    int GetStatus(int &received, int &toSend, int &events) override
    {
        received = int(Rx.size());
        toSend = events = 0;
        return Unplugged ? DeviceNotFound : Ok;
    }
    int SetLatencyTimer(int ms) override { return Log(QString("Latency %1").arg(ms)); }
    int GetDriverVersion(std::uint32_t &v) override
    {
        v = Driver;
        return DriverStatus;
    }
    int GetLibraryVersion(std::uint32_t &v) override
    {
        v = Library;
        return LibraryStatus;
    }

private:
    int Log(const QString &call)
    {
        Calls << call;
        return Ok;
    }
};

struct UsbLink : ::testing::Test {
    TScriptedUi Ui;
    TFakeClock Clock;
    TFakeFtdi *Device = nullptr;
    std::unique_ptr<TPortUSB> Port;
    void SetUp() override
    {
        auto device = std::make_unique<TFakeFtdi>();
        Device = device.get();
        Port = std::make_unique<TPortUSB>(Ui, Clock, std::move(device));
        Ui.OnYield = [this](int ms) { Clock.Advance(ms); };
    }
    void Open()
    {
        ASSERT_EQ(Port->Connect(99, 115200, "", false, "", 0), 99);
        Device->Calls.clear();
    }
};

TEST_F(UsbLink, Connect_opensConfiguresAndRaisesTheLines)
{
    EXPECT_EQ(Port->Connect(99, 115200, "555", false, "", 0), 99);
    EXPECT_EQ(Device->Calls, (QStringList{"Open 0", "ClrDtr", "ClrRts", "Baud 115200", "SetDtr", "SetRts",
                                          "Data 8 0 0"}));
    EXPECT_TRUE(Ui.Confirms.isEmpty());
    EXPECT_EQ(Clock.Slept, 15 + 1000 + 400);
    EXPECT_EQ(Port->Transport().BaudRate(), 115200);
}

TEST_F(UsbLink, Connect_noDevice_promptsAgainUntilPluggedOrCancelled)
{
    Device->Counts = {0, 0, 1};
    EXPECT_EQ(Port->Connect(99, 19200, "", false, "", 0), 99);
    EXPECT_EQ(Ui.Confirms.size(), 2);
    EXPECT_EQ(Ui.Confirms[0], "Connect USB link between computer and VOLTIX/KELVO,\nthen press < OK > button");
    // The second asking says it is a repeat: an unattended run cancels it.
    ASSERT_EQ(Ui.Asked.size(), 2u);
    EXPECT_FALSE(Ui.Asked[0].Repeated);
    EXPECT_TRUE(Ui.Asked[1].Repeated);

    Port->Disconnect();
    Device->Counts = {0};
    Ui.ConfirmAnswers = {true, false};
    EXPECT_EQ(Port->Connect(99, 19200, "", false, "", 0), 0);
    EXPECT_EQ(Port->GetState(), -1);
}

TEST_F(UsbLink, Connect_openFailing501Times_returns0WithStateMinus1)
{
    Device->FailOpens = 1000;
    EXPECT_EQ(Port->Connect(99, 19200, "", false, "", 0), 0);
    EXPECT_EQ(Device->Calls.count("Open 0"), 501);
    EXPECT_EQ(Port->GetState(), -1);
    EXPECT_EQ(Port->LinkInfo(), "NA");
}

TEST_F(UsbLink, LineSettings_whileClosed_storeNothing)
{
    EXPECT_FALSE(Port->Transport().SetDtr(true));
    EXPECT_FALSE(Port->Transport().SetRts(true));
    Port->Transport().SetBaudRate(9600);
    EXPECT_EQ(Port->Transport().BaudRate(), 0);
    EXPECT_TRUE(Device->Calls.isEmpty());
}

TEST_F(UsbLink, LinkInfo_versionTexts)
{
    Open();
    EXPECT_EQ(Port->LinkInfo(), "DRV v2.12.10\nDLL v3.02.15");
    Device->LibraryStatus = 4;
    EXPECT_EQ(Port->LinkInfo(), "DRV v2.12.10");
    Device->DriverStatus = 4;
    EXPECT_EQ(Port->LinkInfo(), "Unknown");
}

TEST_F(UsbLink, DsrAndLatency)
{
    Device->Modem = 0x20;
    EXPECT_EQ(Port->Transport().Dsr(), std::optional(true));
    Device->Modem = 0x10;
    EXPECT_EQ(Port->Transport().Dsr(), std::optional(false));
    Port->SetLatency(20);
    EXPECT_EQ(Device->Calls, QStringList{"Latency 20"});
}

TEST_F(UsbLink, ReadsAndCountsThroughTheDevice)
{
    Open();
    Device->Rx = {'a', 'b', '\n', ':', '>'};
    EXPECT_EQ(Port->RxCount(), 5);
    QByteArray line;
    EXPECT_TRUE(Port->ReadLine(line, 40, 1000));
    EXPECT_EQ(line, "ab");
    EXPECT_TRUE(Port->WaitPrompt());
    EXPECT_EQ(Port->RawReadByteTimed(2000), -1);
    EXPECT_GE(Clock.Now, 2000);
}

TEST_F(UsbLink, WaitForText_linkDown_raisesWaitError)
{
    Open();
    Ui.OnYield = [this](int) { Port->Transport().SetLinkState(0); };
    try {
        Port->WaitForText(":>");
        FAIL() << "no error";
    } catch (const ETarnelError &e) {
        EXPECT_EQ(e.Message(), "Wait error");
        EXPECT_EQ(e.Kind(), TErrorKind::LinkLost);
    }
}

TEST_F(UsbLink, Disconnect_dropsLinesAndCloses)
{
    Open();
    Port->Disconnect();
    EXPECT_EQ(Device->Calls, (QStringList{"ClrDtr", "ClrRts", "Close"}));
    EXPECT_EQ(Port->GetState(), 0);
    Device->Calls.clear();
    Port->Disconnect();
    EXPECT_TRUE(Device->Calls.isEmpty());
}

// The cable pulled in the middle of a read: the link goes down at once and
// every later operation raises instead of polling the dead device.
TEST_F(UsbLink, cablePulledMidRead_linkDownAndEachOperationRaisesAtOnce)
{
    ASSERT_EQ(Port->Connect(99, 19200, QString(), false, QString(), 0), 99);
    Device->Rx = {1, 2, 3, 4};
    Device->BytesBeforeUnplug = 2;
    const std::int64_t start = Clock.Now;
    std::array<std::uint8_t, 4> four{};
    QString error;
    try {
        Port->ReadExact(four);
    } catch (const ETarnelError &e) {
        error = e.Message();
    }
    EXPECT_EQ(error, "Port err. Getcom");
    EXPECT_LE(Port->GetState(), 0);
    EXPECT_LT(Clock.Now - start, 1000) << "no polling of the dead device";
    for (const auto &[text, op] : std::vector<std::pair<QString, std::function<void()>>>{
             {"Port err. Getcom", [this] { Port->GetByte(); }},
             {"Port err. putcom", [this] { Port->PutByte(1); }},
             {"Port err. Setcmd", [this] { Port->SendCommand(45, 2000); }}}) {
        QString raised;
        try {
            op();
        } catch (const ETarnelError &e) {
            raised = e.Message();
        }
        EXPECT_EQ(raised, text);
    }
    Port->Disconnect();
    EXPECT_EQ(Device->Calls.last(), "Close") << "the handle is let go";
}

} // namespace
