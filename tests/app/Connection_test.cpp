#include "app/RecordingView.h"
#include "app/OpeningPort.h"
#include "app/Shell.h"
#include "base/TarnelError.h"
#include "instrument/FakeInstrument.h"
#include "instrument/Generation.h"
#include "instrument/VoltixPro.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <utility>

namespace {
struct TConnectFixture : ::testing::Test {
    QTemporaryDir Tmp;
    TScriptedUi Ui;
    TRecordingView View;
    TFakeClock Clock;
    std::unique_ptr<TShell> Shell;
    TOpeningPort *Port = nullptr;
    std::unique_ptr<TFakeInstrument> Instrument;
    QStringList Started;
    int PortsMade = 0;

    void SetUp() override
    {
        qputenv("TARNELPRO_DATA_DIR", (Tmp.path() + "/data").toLocal8Bit());
        qputenv("TARNELPRO_PROGRAM_DIR", (Tmp.path() + "/program").toLocal8Bit());
        QDir().mkpath(Tmp.path() + "/data");
        WriteConfig("[Communication]\r\nPort=3\r\nSpeed=38400\r\n");
        Shell = std::make_unique<TShell>(Ui, View, Clock, TShell::TOptions{false});
        Shell->MakePort = [this](int) -> std::unique_ptr<TPortVirt> {
            ++PortsMade;
            auto port = std::make_unique<TOpeningPort>(Ui, Clock);
            port->State = 0;
            Port = port.get();
            Instrument = std::make_unique<TFakeInstrument>(*port);
            Instrument->Identifying = true;
            return port;
        };
        Shell->StartProgram = [this](const QString &p) { Started << p; };
        Shell->EventLog.Locale = QLocale::c();
        Shell->Construct();
        Shell->FormCreate();
    }
    void TearDown() override
    {
        qunsetenv("TARNELPRO_DATA_DIR");
        qunsetenv("TARNELPRO_PROGRAM_DIR");
    }
    void WriteConfig(const QByteArray &text)
    {
        QFile f(Tmp.path() + "/data/Setup.ini");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray Config()
    {
        QFile f(Tmp.path() + "/data/Setup.ini");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList LogTexts() const
    {
        QStringList l;
        for (const auto &line : Shell->EventLog.Lines())
            l << line.Text;
        return l;
    }
    void ConnectNow() { Shell->ToggleConnection(); }
};
} // namespace

TEST_F(TConnectFixture, connectionIdentifiesChoosesTheGenerationAndStartsTheHealthTimer)
{
    ASSERT_NE(Port, nullptr) << "loading the configuration creates the port";
    ConnectNow();
    EXPECT_EQ(Ui.Confirms, QStringList{"Select < Remote > on VOLTIX/KELVO menu and press < OK >"});
    EXPECT_EQ(View.Status, "SN 00042 / VOLTIX 10 CH V2.31 ");
    ASSERT_NE(Shell->Model->Protocol().Table(), nullptr);
    EXPECT_EQ(Shell->Model->Protocol().Table()->Generation, 2);
    EXPECT_EQ(Shell->Model->InstrumentType, 0x10000002u);
    EXPECT_EQ(Instrument->Commands, (std::vector<int>{30, 45}));
    EXPECT_TRUE(View.ConnectPressed);
    EXPECT_TRUE(View.LinkOn);
    EXPECT_TRUE(View.HealthTimer);
    EXPECT_TRUE(View.RunControls);
    ASSERT_EQ(View.Health.size(), 1u);
    EXPECT_EQ(View.Health[0].Texts, (std::array<QString, 3>{"12.6", "12.4", "31"}));
    // Truncated toward zero: the float 12.4 times 10 is just below 124.
    EXPECT_EQ(View.Health[0].GaugePositions, (std::array<int, 3>{126, 123, 69}));
    EXPECT_EQ(View.Health[0].BarColors[0], THealthColor::Lime);
    const QStringList log = LogTexts();
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log[0], "");
    EXPECT_TRUE(log[1].startsWith("< ") && log[1].endsWith(" > Connect to SN 00042 / VOLTIX 10 CH V2.31 "));
    EXPECT_EQ(Shell->EventLog.Lines()[1].Color, LogColor::Orange);
    EXPECT_EQ(Port->Tx.left(1), QByteArray(1, '\0')) << "a 0 byte goes first";

    // Connect again while open: disconnects without asking.
    Shell->ToggleConnection();
    EXPECT_EQ(Ui.Confirms.size(), 1);
    EXPECT_EQ(Instrument->Commands.back(), 27);
    EXPECT_EQ(Port->State, 0);
    EXPECT_FALSE(View.HealthTimer);
    EXPECT_FALSE(View.RunControls);
    EXPECT_FALSE(View.ConnectPressed);
    EXPECT_FALSE(View.LinkOn);
    EXPECT_TRUE(LogTexts().last().endsWith(" > Disconnected"));
}

TEST_F(TConnectFixture, typeCodesChooseTheProtocolObject)
{
    const struct {
        std::uint32_t code;
        int generation; // 0: the previous object stays
    } cases[] = {{0x10000003, 2}, {0x10000001, 1}, {0x20000000, 0}};
    for (const auto &c : cases) {
        Shell->Model->ChooseProtocol(0); // back to whatever is there
        const TVoltixProVxx *before = &Shell->Model->Protocol();
        Instrument->TypeCode = c.code;
        Instrument->Identifying = true;
        if (c.code == 0x10000001)
            Instrument->Description = Le<std::int32_t>(10) + QByteArray(172, '\0');
        ConnectNow();
        if (c.generation == 0)
            EXPECT_EQ(&Shell->Model->Protocol(), before) << std::hex << c.code;
        else
            EXPECT_EQ(Shell->Model->Protocol().Table()->Generation, c.generation) << std::hex << c.code;
        Shell->ToggleConnection(); // disconnect
    }
}

TEST_F(TConnectFixture, cancellingTheRemotePromptChangesNothing)
{
    Ui.ConfirmAnswers = {false};
    Shell->ToggleConnection();
    EXPECT_EQ(Port->Connects, 0);
    EXPECT_TRUE(Port->Tx.isEmpty());
    EXPECT_FALSE(View.ConnectPressed);
    EXPECT_FALSE(View.HealthTimer);
    EXPECT_TRUE(Shell->EventLog.Lines().empty());
}

TEST_F(TConnectFixture, aRefusedLinkLeavesOpenComAndTheTimerOff)
{
    Port->Refuse = true;
    Shell->ToggleConnection();
    EXPECT_EQ(Port->Connects, 1);
    EXPECT_EQ(View.Status, "Open Com");
    EXPECT_FALSE(View.HealthTimer);
    EXPECT_FALSE(View.ConnectPressed);
    EXPECT_FALSE(View.RunControls);
}

TEST_F(TConnectFixture, wifiLinkShowsTheBaudMessageAndDialsTheAddress)
{
    Ui.InputAnswers = {"10.1.2.3"};
    Shell->ChooseLink(100);
    EXPECT_TRUE(Config().contains("IPAddress=10.1.2.3"));
    EXPECT_TRUE(Config().contains("Port=100"));
    EXPECT_EQ(View.PortImage, 9);
    ConnectNow();
    EXPECT_EQ(Ui.Messages.first(), "Select baud rate : 115200 Bds, on Wavenode configuration page at10.1.2.3");

    // Cancelling the address prompt keeps the address and writes it again.
    Ui.InputAnswers.clear();
    WriteConfig("[Communication]\r\nPort=1\r\n");
    Shell->ChooseLink(100);
    EXPECT_EQ(Shell->State.IPAddress, "10.1.2.3");
    EXPECT_TRUE(Config().contains("IPAddress=10.1.2.3"));
}

TEST_F(TConnectFixture, bluetoothPromptReturnsUntilAValidNumber)
{
    Shell->State.PortSelector = 100;
    Ui.InputAnswers = {"100", "abc", "0", "3"};
    Shell->ChooseLink(TShell::BtItem);
    EXPECT_EQ(Ui.Prompts.size(), 4);
    EXPECT_EQ(Shell->State.PortSelector, 3);
    EXPECT_EQ(View.TickedSelector, -1) << "the BT item stays ticked";
    EXPECT_TRUE(Config().contains("Port=3"));
    EXPECT_EQ(View.PortImage, 4);
    EXPECT_EQ(PortsMade, 2) << "a new port object replaces the old one";
}

TEST_F(TConnectFixture, bluetoothPromptCancelledLeavesLinkTickAndConfigurationAsTheyWere)
{
    for (const int selector : {100, 4}) {
        SCOPED_TRACE(selector);
        WriteConfig(QStringLiteral("[Communication]\r\nPort=%1\r\n").arg(selector).toLatin1());
        const auto before = Config();
        Shell->State.PortSelector = selector;
        const int made = PortsMade;
        Ui.Prompts.clear();
        Ui.InputAnswers = {"abc"}; // one wrong entry, then Cancel
        Shell->ChooseLink(TShell::BtItem);
        EXPECT_EQ(Ui.Prompts.size(), 2) << "the box closes at Cancel";
        EXPECT_EQ(Shell->State.PortSelector, selector);
        EXPECT_EQ(View.TickedSelector, selector);
        EXPECT_EQ(Config(), before);
        EXPECT_EQ(PortsMade, made) << "the link object stays";
    }
}

TEST_F(TConnectFixture, usbChoiceStartsTheUsbToolEveryTimeWhenItIsThere)
{
    Shell->ChooseLink(99);
    Shell->StartUsbTool();
    EXPECT_TRUE(Started.isEmpty()) << "no tool in the program folder: nothing is started";

    QDir().mkpath(Tmp.path() + "/program");
    QFile tool(Tmp.path() + "/program/ZIREriva");
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\n");
    tool.close();
    tool.setPermissions(tool.permissions() | QFileDevice::ExeOwner);
    Shell->ChooseLink(99);
    Shell->ChooseLink(99);
    ASSERT_EQ(Started.size(), 2);
    EXPECT_EQ(Started.first(), Tmp.path() + "/program/ZIREriva");
}

TEST_F(TConnectFixture, healthThresholdsColoursAndLines)
{
    const struct {
        float tx, rx, temp;
        bool duringAction;
        bool result;
        std::array<THealthColor, 3> bars;
        QStringList lines; // stamped lines without their stamp, then plain lines
    } cases[] = {
        {12.0f, 12.5f, 30.0f, true, true, {THealthColor::Lime, THealthColor::Lime, THealthColor::Lime}, {}},
        {10.2f, 12.0f, 40.0f, true, true, {THealthColor::Orange, THealthColor::Keep, THealthColor::Keep},
         {"Warning Batteries TX : 10.2"}},
        {9.4f, 12.0f, 30.0f, true, false, {THealthColor::Red, THealthColor::Keep, THealthColor::Keep},
         {"Batteries TX : 9.4", "< STOP DATA ACQUISITION >"}},
        {9.4f, 12.0f, 30.0f, false, false, {THealthColor::Red, THealthColor::Keep, THealthColor::Keep}, {}},
        {12.0f, 12.0f, 66.0f, true, false, {THealthColor::Keep, THealthColor::Keep, THealthColor::Red},
         {"Temp :66", "< STOP DATA ACQUISITION >"}},
        {12.0f, 12.0f, 60.0f, true, true, {THealthColor::Keep, THealthColor::Keep, THealthColor::Orange},
         {"Warning Temp :60"}},
        {9.5f, 10.5f, 55.0f, true, true, {THealthColor::Orange, THealthColor::Keep, THealthColor::Keep},
         {"Warning Batteries TX : 9.5"}},
        {12.0f, 12.0f, 65.0f, true, true, {THealthColor::Keep, THealthColor::Keep, THealthColor::Orange},
         {"Warning Temp :65"}},
    };
    ConnectNow();
    for (const auto &c : cases) {
        Shell->EventLog.Clear();
        View.Page = TPage::Configuration;
        Shell->ShowRunControls(!c.duringAction);
        Instrument->Health = {c.tx, c.rx, c.temp};
        EXPECT_EQ(Shell->CheckInstrumentHealth(), c.result) << c.tx << " " << c.rx << " " << c.temp;
        EXPECT_EQ(View.Health.back().BarColors, c.bars) << c.tx << " " << c.rx << " " << c.temp;
        QStringList lines;
        for (const auto &l : Shell->EventLog.Lines())
            lines << (l.Text.startsWith("< ") && l.Text.contains(" > ") ? l.Text.section(" > ", 1) : l.Text);
        EXPECT_EQ(lines, c.lines) << c.tx << " " << c.rx << " " << c.temp;
        EXPECT_EQ(View.Page == TPage::Script, !c.result && c.duringAction);
        EXPECT_TRUE(View.BatteryButton);
        if (!c.result && c.duringAction) {
            Shell->EventLog.Add("next");
            EXPECT_EQ(Shell->EventLog.Lines().back().Color, LogColor::Red) << "the colour stays red after an alarm";
        }
    }
}

TEST_F(TConnectFixture, aFailedHealthCheckGivesTheBatteryButtonBack)
{
    ConnectNow();
    Port->State = -1;
    EXPECT_THROW(Shell->CheckInstrumentHealth(), ETarnelError);
    EXPECT_TRUE(View.BatteryButton);
}

TEST_F(TConnectFixture, aTimerTickDuringAnotherExchangeIsSkipped)
{
    ConnectNow();
    const auto before = Instrument->Commands.size();
    Shell->Exchanges = 1;
    Shell->HealthTick();
    Shell->ReadHealthNow();
    EXPECT_EQ(Instrument->Commands.size(), before);
    Shell->Exchanges = 0;
    Shell->HealthTick();
    EXPECT_EQ(Instrument->Commands.back(), 45);
}

// The instrument falls silent during an exchange: after the default limit the
// window says so, and Connect ends the waiting exchange at once.
TEST_F(TConnectFixture, aSilentInstrumentIsReportedAndConnectEndsTheWait)
{
    ConnectNow();
    Port->OnWrite = nullptr;
    const std::int64_t start = Clock.Now;
    bool pressed = false;
    Port->OnIdle = [&] {
        if (Port->Stalled() && !pressed) {
            pressed = true;
            Shell->ToggleConnection();
        }
    };
    QString error;
    try {
        Shell->HealthTick();
    } catch (const ETarnelError &e) {
        error = e.Message();
    }
    EXPECT_TRUE(error.startsWith("Port err.")) << "the link-loss path: " << error.toStdString();
    const auto &lines = Shell->EventLog.Lines();
    const auto said = std::find_if(lines.begin(), lines.end(), [](const TLogLine &l) {
        return l.Text.endsWith(" > No answer from the instrument for 120 s");
    });
    ASSERT_NE(said, lines.end());
    EXPECT_EQ(said->Color, LogColor::Red);
    EXPECT_TRUE(View.StatusHistory.contains("No answer from the instrument for 120 s"));
    EXPECT_LT(Clock.Now - start, 125000) << "ended at the report, not after the port's own timeouts";
    EXPECT_FALSE(Shell->LinkOpen());
}

// A command the instrument does not take ends the exchange that sent it with
// its kind: an Escape refused between the two identifications ends the
// connection, in red, before anything is read as the instrument's answer.
TEST_F(TConnectFixture, anEscapeRefusedBeforeTheSecondIdentificationEndsTheConnection)
{
    Instrument->Identifying = false; // the first identification reads no lines
    const auto inner = Port->OnWrite;
    bool pending = false;
    Port->OnWrite = [&](std::uint8_t b) {
        if (!pending && b == 27) {
            pending = true;
            return;
        }
        if (std::exchange(pending, false) && b == (27 ^ 0xFF)) {
            Port->Feed({0xFF});
            return;
        }
        inner(b);
    };
    try {
        ConnectNow();
        FAIL() << "connected";
    } catch (const ETarnelError &e) {
        EXPECT_EQ(e.Kind(), TErrorKind::Refused);
        EXPECT_EQ(e.Message(), "the instrument refused command 27 (\"Escape\")");
    }
    EXPECT_TRUE(Instrument->Commands.empty()) << "no description, no health reading";
    ASSERT_FALSE(Shell->EventLog.Lines().empty());
    EXPECT_TRUE(Shell->EventLog.Lines().back().Text.endsWith(" > the instrument refused command 27 (\"Escape\")"));
    EXPECT_EQ(Shell->EventLog.Lines().back().Color, LogColor::Red);
}

// A health reading the instrument never takes ends at once as unanswered,
// rather than wait for three values that cannot come.
TEST_F(TConnectFixture, aHealthReadingLeftUnansweredEndsTheCheckAtOnce)
{
    ConnectNow();
    const auto shown = View.Health.size();
    const auto inner = Port->OnWrite;
    bool pending = false;
    Port->OnWrite = [&](std::uint8_t b) {
        if (!pending && b == 45) {
            pending = true;
            return;
        }
        if (std::exchange(pending, false) && b == (45 ^ 0xFF))
            return;
        inner(b);
    };
    const std::int64_t start = Clock.Now;
    try {
        Shell->ReadHealthNow();
        FAIL() << "no error";
    } catch (const ETarnelError &e) {
        EXPECT_EQ(e.Kind(), TErrorKind::Timeout);
        EXPECT_EQ(e.Message(), "Port err. Setcmd");
    }
    EXPECT_LT(Clock.Now - start, 20000) << "six attempts of 2 s";
    EXPECT_EQ(View.Health.size(), shown) << "nothing shown as a reading";
    EXPECT_TRUE(View.BatteryButton);
    EXPECT_TRUE(Shell->LinkOpen());
}

// The configuration's link choice becomes one link value: the serial device
// map is part of the settings, an empty Wi-Fi address is the module's own.
TEST_F(TConnectFixture, theConfiguredChoiceBecomesOneLinkValue)
{
    struct Case {
        int Selector;
        QString Address;
        QString Dial;
        QString Describe;
    } cases[] = {
        {3, "", "", "serial /dev/mapped3"},
        {2, "", "", "serial /dev/ttyS1"},
        {2, "", " 0123 ", "serial /dev/ttyS1 dialling 0123"},
        {UsbPortSelector, "", "", "USB"},
        {IPPortSelector, "", "", "TCP 192.168.100.76:29461"},
        {IPPortSelector, " 10.0.0.5:4001 ", "", "TCP 10.0.0.5:4001"},
        {IPPortSelector, "10.0.0.5", "0123", "TCP 10.0.0.5:29461"},
    };
    Shell->State.Devices = {{3, "/dev/mapped3"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Describe.toStdString());
        Shell->State.PortSelector = c.Selector;
        Shell->State.IPAddress = c.Address;
        const TLinkAddress link = Shell->ConfiguredLink(57600, c.Dial);
        EXPECT_EQ(link.Describe(), c.Describe);
        EXPECT_EQ(link.Baud, 57600);
    }
}
