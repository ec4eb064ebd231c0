// Scripted acquisitions on a fake instrument: the link is connected again
// (or switched) before an acquisition, a failed event says why and is
// cleaned up as a plain acquisition, and nothing waits for an operator.
#include "app/OpeningPort.h"
#include "app/RecordingView.h"
#include "app/Shell.h"
#include "app/UnattendedUi.h"
#include "base/TarnelError.h"
#include "instrument/FakeInstrument.h"
#include "instrument/VoltixPro.h"
#include "link/PortCOM.h"

#include "support/LockHolder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {
// A port whose peer can be replaced when the program connects (the
// instrument rebooted meanwhile).
class TRebootingPort : public TOpeningPort {
public:
    using TOpeningPort::TOpeningPort;
    std::function<void()> OnConnect;
    int Connect(int selector, int baud, const QString &dial, bool dsr, const QString &modem, int delay) override
    {
        if (OnConnect)
            OnConnect();
        return TOpeningPort::Connect(selector, baud, dial, dsr, modem, delay);
    }
};

class TScriptView : public TRecordingView {
public:
    bool PauseDown = false;
    void SetPauseDown(bool down) override { PauseDown = down; }
};

struct TScriptFixture : ::testing::Test {
    QTemporaryDir Tmp;
    TScriptedUi Ui;
    TScriptView View;
    TFakeClock Clock;
    std::unique_ptr<TShell> Shell;
    TRebootingPort *Port = nullptr;
    std::unique_ptr<TFakeInstrument> Instrument;
    int PortsMade = 0;

    void SetUp() override
    {
        qputenv("TARNELPRO_DATA_DIR", Tmp.path().toLocal8Bit());
        WriteSurvey();
        Shell = std::make_unique<TShell>(Ui, View, Clock, TShell::TOptions{false});
        Shell->MakePort = [this](int) -> std::unique_ptr<TPortVirt> {
            auto port = std::make_unique<TRebootingPort>(Ui, Clock);
            port->State = 0;
            Port = port.get();
            ++PortsMade;
            Fresh();
            return port;
        };
        Shell->EventLog.Locale = QLocale::c();
        Shell->ReconnectPausesMs = {30000, 60000};
        ASSERT_TRUE(Shell->LoadConfiguration(Ini("a", 1)));
        Shell->ToggleConnection();
        ASSERT_TRUE(Shell->LinkOpen());
        Instrument->Commands.clear();
    }
    void TearDown() override { qunsetenv("TARNELPRO_DATA_DIR"); }

    // A new instrument on the current port, waiting to be identified.
    void Fresh()
    {
        Instrument = std::make_unique<TFakeInstrument>(*Port);
        Instrument->Identifying = true;
        Instrument->AutoRun = true;
    }

    // Three groups of ten chained dipoles on a line of 40 nodes.
    void WriteSurvey()
    {
        QFile c(Tmp.path() + "/coords.txt");
        ASSERT_TRUE(c.open(QIODevice::WriteOnly));
        c.write("# Num X Y Z\r\n");
        for (int i = 1; i <= 40; ++i)
            c.write(QStringLiteral("%1 %2 0 0\r\n").arg(i).arg(5 * i).toLatin1());
        QFile q(Tmp.path() + "/quads.txt");
        ASSERT_TRUE(q.open(QIODevice::WriteOnly));
        q.write("# Num A B M N\r\n");
        int n = 1;
        for (int g = 0; g < 3; ++g)
            for (int k = 0; k < 10; ++k, ++n)
                q.write(QStringLiteral("%1 %2 %3 %4 %5\r\n").arg(n).arg(13 * g + 1).arg(13 * g + 2).arg(13 * g + 3 + k).arg(13 * g + 4 + k).toLatin1());
    }
    // A configuration measuring into NAME.bin over serial port PORT, mapped to /dev/fake-NAME.
    QString Ini(const QString &name, int port, const QString &quadripoles = {})
    {
        const QString path = Tmp.path() + "/" + name + ".ini";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Name]\r\nQuadripoleFile=%1\r\nCoordinateFile=%2/coords.txt\r\n[Parameters]\r\n"
                               "AcquisitionFile=%2/%3.bin\r\n[Communication]\r\nPort=%4\r\n[Devices]\r\nCom%4=/dev/fake-%3\r\n")
                    .arg(quadripoles.isEmpty() ? Tmp.path() + "/quads.txt" : quadripoles, Tmp.path(), name)
                    .arg(port)
                    .toLatin1());
        return path;
    }
    static QString Start(int n, const QString &ini)
    {
        return QStringLiteral("%1 : Start configuration %2 -<X: 2 @ %2 >-").arg(n).arg(ini);
    }
    QStringList Log() const
    {
        QStringList l;
        for (const auto &line : Shell->EventLog.Lines())
            l << (line.Text.startsWith("< ") && line.Text.contains(" > ") ? line.Text.section(" > ", 1) : line.Text);
        return l;
    }
    QStringList Red() const
    {
        QStringList l;
        for (const auto &line : Shell->EventLog.Lines())
            if (line.Color == LogColor::Red)
                l << (line.Text.startsWith("< ") ? line.Text.section(" > ", 1) : line.Text);
        return l;
    }
    qint64 Size(const QString &name) const { return QFileInfo(Tmp.path() + "/" + name).size(); }
    void RunScript(const QStringList &lines)
    {
        Shell->Script.Lines = lines;
        Shell->RunStartAction(TShell::ActionScript);
    }
};
} // namespace

TEST_F(TScriptFixture, aLinkThatDroppedBetweenEventsIsConnectedAgainFirst)
{
    const QString a = Ini("a", 1);
    Port->State = -1; // dropped during the wait before the event
    Port->OnConnect = [this] { Fresh(); };
    RunScript({Start(1, a), Start(2, a)});
    EXPECT_EQ(Shell->ScriptFailures, 0) << Log().join('\n').toStdString();
    EXPECT_EQ(Size("a.bin"), 1029 + 30 * 304);
    EXPECT_EQ(Size("a1.bin"), 1029 + 30 * 304);
    const QStringList log = Log();
    EXPECT_EQ(log.count("Link lost"), 1);
    EXPECT_EQ(log.count("Connecting to serial /dev/fake-a (attempt 1 of 3)"), 1) << "the second event finds it up";
    EXPECT_EQ(log.filter("Connect to ").size(), 2);
    EXPECT_EQ(PortsMade, 1) << "the same link, the same port";
    EXPECT_TRUE(View.LinkOn);
    EXPECT_TRUE(View.RunControls);
    EXPECT_TRUE(View.HealthTimer);
}

// Another program has chosen a.bin (locked, not yet created): the script's
// events take the next free numbers, as for a file that exists.
TEST_F(TScriptFixture, aNameAnotherProgramIsAboutToWriteIsSkippedLikeAnExistingFile)
{
    const QString a = Ini("a", 1);
    TLockHolder other(Tmp.path() + "/a.bin", "tarnelpro-cli acquire");
    ASSERT_TRUE(other.Held);
    RunScript({Start(1, a), Start(2, a)});
    EXPECT_EQ(Shell->ScriptFailures, 0) << Log().join('\n').toStdString();
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/a.bin"));
    EXPECT_EQ(Size("a1.bin"), 1029 + 30 * 304);
    EXPECT_EQ(Size("a2.bin"), 1029 + 30 * 304);
    EXPECT_FALSE(QFileInfo::exists(TDataFileLock::LockFileFor(Tmp.path() + "/a1.bin"))) << "each event's lock ends with it";
}

TEST_F(TScriptFixture, anInstrumentStillAwayFailsTheEventAfterBoundedAttemptsAndTheScriptGoesOn)
{
    const QString a = Ini("a", 1);
    Port->State = -1;
    Port->Refuse = true;
    std::vector<std::int64_t> tries;
    Port->OnConnect = [&] { tries.push_back(Clock.Now); };
    RunScript({Start(1, a), "2 : memo between", Start(3, a)});
    ASSERT_EQ(tries.size(), 6u);
    // Growing pauses: 30 s, then 60 s.
    EXPECT_GE(tries[1] - tries[0], 30000);
    EXPECT_LT(tries[1] - tries[0], 32000);
    EXPECT_GE(tries[2] - tries[1], 60000);
    EXPECT_LT(tries[2] - tries[1], 62000);
    EXPECT_EQ(Shell->ScriptFailures, 2);
    const QStringList red = Red();
    EXPECT_EQ(red.count("No instrument on serial /dev/fake-a after 3 attempts: the link did not open"), 2)
        << red.join('\n').toStdString();
    EXPECT_EQ(red.count("Connection attempt 3 failed: the link did not open"), 2);
    EXPECT_EQ(red.count("Start configuration Error"), 2);
    EXPECT_EQ(Log().count("Link lost"), 1) << "said once, when first found";
    EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/a.bin"));
    EXPECT_TRUE(Ui.Errors.isEmpty() && Ui.Messages.isEmpty()) << "no box while the script runs";
    EXPECT_FALSE(View.LinkOn);
    EXPECT_FALSE(View.RunControls) << "the script has ended with the link down";
}

TEST_F(TScriptFixture, stopDuringAReconnectionPauseEndsTheScriptAtOnce)
{
    const QString a = Ini("a", 1);
    Port->State = -1;
    Port->Refuse = true;
    int tries = 0;
    Port->OnConnect = [&] { ++tries; };
    std::int64_t pressed = -1;
    Port->OnIdle = [&] {
        if (tries == 1 && pressed < 0 && Clock.Now > 5000) {
            pressed = Clock.Now;
            Shell->RequestStop();
        }
    };
    RunScript({Start(1, a), Start(2, a)});
    EXPECT_EQ(tries, 1);
    EXPECT_LE(Clock.Now - pressed, 1000);
    const QStringList log = Log();
    EXPECT_TRUE(log.contains("Stopped by user"));
    EXPECT_TRUE(log.last().startsWith("============= Script ended at ")) << log.last().toStdString();
    EXPECT_EQ(Shell->ScriptFailures, 0);
}

TEST_F(TScriptFixture, aConfigurationOfAnotherLinkSwitchesToIt)
{
    const QString a = Ini("a", 1), b = Ini("b", 2);
    RunScript({Start(1, a), Start(2, b), Start(3, a)});
    EXPECT_EQ(Shell->ScriptFailures, 0) << Log().join('\n').toStdString();
    const QStringList log = Log();
    EXPECT_EQ(log.count("Link switched from serial /dev/fake-a to serial /dev/fake-b"), 1);
    EXPECT_EQ(log.count("Link switched from serial /dev/fake-b to serial /dev/fake-a"), 1);
    EXPECT_EQ(PortsMade, 3);
    EXPECT_EQ(Size("b.bin"), 1029 + 30 * 304);
    EXPECT_EQ(Size("a1.bin"), 1029 + 30 * 304);
    EXPECT_EQ(Shell->ConnectedLink, "serial /dev/fake-a");
    EXPECT_EQ(Shell->State.PortSelector, 1);
}

// The instrument goes away in the middle of the first acquisition and is
// back for the second: the reason and where the data file ends are in the
// log, the window shows the lost link, and the electrodes it could not be
// told about are released as soon as it answers.
TEST_F(TScriptFixture, aLinkLostMidAcquisitionFailsTheEventWithItsCleanUp)
{
    const QString a = Ini("a", 1);
    Instrument->DuringRun = [this] {
        if (Instrument->Runs == 2)
            Port->State = -1;
    };
    bool linkShownDown = false;
    Port->OnConnect = [&] {
        linkShownDown = !View.LinkOn && !View.ConnectPressed && View.StatusHistory.contains("Link lost");
        Fresh();
    };
    RunScript({Start(1, a), Start(2, a)});
    EXPECT_EQ(Shell->ScriptFailures, 1);
    EXPECT_TRUE(linkShownDown);
    EXPECT_EQ(Size("a.bin"), 1029 + 10 * 304);
    EXPECT_EQ(Size("a1.bin"), 1029 + 30 * 304);
    const QStringList red = Red();
    ASSERT_GE(red.size(), 4) << red.join('\n').toStdString();
    EXPECT_TRUE(red[0].startsWith("Port err.")) << red[0].toStdString();
    EXPECT_TRUE(red[0].endsWith(" (acquisition ended at quadripoles 11 .. 20 / 30; the data file ends at quadripole 10)"))
        << red[0].toStdString();
    EXPECT_EQ(red[1], "Electrodes not released: the link is down; they are released when the instrument answers again");
    EXPECT_EQ(red[2], "Link lost");
    EXPECT_EQ(red[3], "Start configuration Error");
    const QStringList log = Log();
    const auto released = log.indexOf("Electrodes released");
    ASSERT_GE(released, 0);
    EXPECT_LT(released, log.lastIndexOf("Start Standard acquisition"));
    ASSERT_GE(Instrument->Commands.size(), 2u);
    EXPECT_EQ(std::vector<int>(Instrument->Commands.begin(), Instrument->Commands.begin() + 2), (std::vector<int>{30, 41}))
        << "the empty electrode list right after the description";
    EXPECT_FALSE(Shell->ElectrodesPending);
}

// What would be a box during a script is a red line; the next event runs.
TEST_F(TScriptFixture, aMissingQuadripoleFileOpensNoBoxAndTheNextEventRuns)
{
    const QString moved = Ini("moved", 1, Tmp.path() + "/gone.txt");
    const QString a = Ini("a", 1);
    RunScript({Start(1, moved), Start(2, a)});
    EXPECT_TRUE(Ui.Errors.isEmpty()) << Ui.Errors.join('\n').toStdString();
    EXPECT_TRUE(Ui.Messages.isEmpty()) << Ui.Messages.join('\n').toStdString();
    const QStringList red = Red();
    EXPECT_TRUE(red.contains("Quadripole file not found: " + Tmp.path() + "/gone.txt")) << red.join('\n').toStdString();
    EXPECT_TRUE(red.contains("No quadripole to measure: load a quadripole file first"));
    EXPECT_EQ(red.count("Start configuration Error"), 1);
    EXPECT_EQ(Size("a.bin"), 1029 + 30 * 304);
    EXPECT_EQ(Shell->ScriptFailures, 1);
    EXPECT_FALSE(Shell->Guard.Unattended) << "boxes come back after the script";
}

TEST_F(TScriptFixture, pauseDuringTheLastGroupDoesNotHoldTheNextAcquisition)
{
    const QString a = Ini("a", 1);
    std::vector<bool> shownPaused;
    Instrument->DuringRun = [&] {
        if (Instrument->Runs == 3)
            Shell->TogglePause();
        if (Instrument->Runs == 4)
            shownPaused.push_back(View.PauseDown);
    };
    RunScript({Start(1, a), Start(2, a)});
    EXPECT_EQ(Instrument->Runs, 6);
    EXPECT_EQ(shownPaused, std::vector<bool>{false});
    EXPECT_FALSE(View.PauseDown);
    EXPECT_EQ(Shell->ScriptFailures, 0);
}

TEST_F(TScriptFixture, aLoopWithoutAPauseIsRefused)
{
    try {
        RunScript({"1 : memo -<X: 9 @ 1 >-", "2 : back -<X: 3 @ 1 >-"});
        FAIL() << "ran";
    } catch (const ETarnelError &e) {
        EXPECT_TRUE(e.Message().startsWith("Script refused: Line 2 jumps back to line 1")) << e.Message().toStdString();
    }
    EXPECT_TRUE(Instrument->Commands.empty()) << "refused before the instrument is asked anything";
    EXPECT_TRUE(Red().last().startsWith("Script refused: "));
}

// Unattended, every question is answered by one policy and becomes one log
// line: a confirmation is OK unless it is asked again because it is still not
// done (a cable nobody can plug in), text is cancelled keeping the value
// offered, notices and errors are lines.
TEST(UnattendedUi, answersEveryQuestionByOnePolicy)
{
    TScriptedUi real;
    TUnattendedUi ui(real);
    QStringList lines;
    ui.OnBox = [&](const QString &text) { lines << text; };
    ui.Unattended = true;
    const QString plug = "Connect the cable,\nthen press < OK >";
    struct Case {
        TQuestion Question;
        bool Accepted;
        QString Value;
        QString Line;
    } cases[] = {
        {TQuestion::Confirm("Communication", plug), true, {}, "Communication: Connect the cable, then press < OK > (OK, unattended)"},
        {TQuestion::Confirm("Communication", plug, true), false, {}, "Communication: Connect the cable, then press < OK > (cancelled, unattended)"},
        {TQuestion::Input("GPS Download", "Enter NMEA sentence", "GPGGA"), false, "GPGGA", "GPS Download: Enter NMEA sentence (cancelled, unattended)"},
        {TQuestion::Notice("Unable to connect to\n10.0.0.5"), true, {}, "Unable to connect to 10.0.0.5"},
        {TQuestion::Error("Resume", "no room"), true, {}, "no room"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Line.toStdString());
        lines.clear();
        const TAnswer answer = ui.Ask(c.Question);
        EXPECT_EQ(answer.Accepted, c.Accepted);
        EXPECT_EQ(answer.Value, c.Value);
        EXPECT_EQ(lines, QStringList{c.Line});
    }
    // The old entry points follow the same policy.
    lines.clear();
    EXPECT_TRUE(ui.Confirm(plug, "Communication"));
    EXPECT_TRUE(ui.Confirm(plug, "Communication")) << "no guessing from a repeated text";
    QString value = "1";
    EXPECT_FALSE(ui.InputPrompt("BT", "port", value));
    EXPECT_EQ(value, "1");
    EXPECT_EQ(lines.size(), 3);
    EXPECT_TRUE(real.Confirms.isEmpty() && real.Prompts.isEmpty() && real.Messages.isEmpty());

    ui.Unattended = false;
    EXPECT_TRUE(ui.Ask(TQuestion::Confirm("Communication", plug, true)));
    EXPECT_EQ(real.Confirms.size(), 1) << "attended: the operator is asked";
}

TEST_F(TScriptFixture, aUsbLinkWithoutItsCableFailsTheEventWithoutAskingForIt)
{
    Ini("usb", UsbPortSelector);
    Shell->UsbDeviceCount = [] { return 0; };
    Shell->ReconnectPausesMs = {1000, 1000};
    Ui.Confirms.clear();
    RunScript({Start(1, Tmp.path() + "/usb.ini")});
    EXPECT_EQ(Shell->ScriptFailures, 1);
    EXPECT_TRUE(Red().contains("No instrument on USB after 3 attempts: no FTDI USB cable found")) << Red().join('\n').toStdString();
    EXPECT_TRUE(Log().contains("Link switched from serial /dev/fake-a to USB")) << Log().join('\n').toStdString();
    EXPECT_TRUE(Ui.Confirms.isEmpty()) << "nobody asked to plug a cable in";
}
