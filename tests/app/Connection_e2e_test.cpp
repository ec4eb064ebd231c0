// The connection workflow against voltix-sim over a pty and TCP, with the
// operator's answers scripted: cancels, a failed connection, type codes.
#include "app/RecordingView.h"
#include "app/Shell.h"
#include "base/Clock.h"
#include "base/TarnelError.h"
#include "instrument/Generation.h"
#include "instrument/VoltixPro.h"
#include "link/EventLoopUi.h"
#include "link/PortVirt.h"
#include "link/SimProcess.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {
struct TLink {
    const char *name;
    bool pty;
};

class TConnectE2e : public ::testing::TestWithParam<TLink> {
protected:
    QTemporaryDir Tmp;
    TEventLoopUi Ui;
    TRecordingView View;
    std::unique_ptr<TShell> Shell;

    void SetUp() override
    {
        qputenv("TARNELPRO_DATA_DIR", Tmp.path().toLocal8Bit());
        Shell = std::make_unique<TShell>(Ui, View, SystemClock(), TShell::TOptions{false});
        Shell->EventLog.Locale = QLocale::c();
    }
    void TearDown() override { qunsetenv("TARNELPRO_DATA_DIR"); }

    // A configuration selecting the simulator's link; starts the simulator.
    std::unique_ptr<TSimProcess> Start(const QStringList &extra)
    {
        QStringList args = {"--time-scale", "0"};
        args << extra;
        if (GetParam().pty)
            args << "--pty" << Tmp.path() + "/tty";
        else
            args << "--tcp" << "127.0.0.1:0";
        auto sim = std::make_unique<TSimProcess>(args);
        QFile ini(Tmp.path() + "/Setup.ini");
        EXPECT_TRUE(ini.open(QIODevice::WriteOnly));
        if (GetParam().pty)
            ini.write(QStringLiteral("[Communication]\r\nPort=1\r\n[Devices]\r\nCom1=%1/tty\r\n").arg(Tmp.path()).toLatin1());
        else
            ini.write(QStringLiteral("[Communication]\r\nPort=100\r\nIPAddress=%1\r\n").arg(sim->TcpAddress()).toLatin1());
        ini.close();
        EXPECT_TRUE(Shell->LoadConfiguration(Tmp.path() + "/Setup.ini"));
        return sim;
    }
};
} // namespace

TEST_P(TConnectE2e, cancellingEitherPromptLeavesTheLinkClosed)
{
    auto sim = Start({});
    // The "Remote process" question, then the link's own prompt.
    for (int cancelled = 0; cancelled < 2; ++cancelled) {
        Ui.ConfirmAnswers.clear();
        for (int i = 0; i < cancelled; ++i)
            Ui.ConfirmAnswers.push_back(true);
        Ui.ConfirmAnswers.push_back(false);
        Shell->ToggleConnection();
        EXPECT_FALSE(Shell->LinkOpen()) << cancelled;
        EXPECT_FALSE(View.ConnectPressed);
        EXPECT_FALSE(View.HealthTimer);
        EXPECT_GE(Ui.Confirms.size(), cancelled + 1);
    }
    EXPECT_EQ(Ui.Confirms.first(), "Select < Remote > on VOLTIX/KELVO menu and press < OK >");
}

TEST_P(TConnectE2e, typeCodesChooseTheGeneration)
{
    const struct {
        const char *code;
        int generation; // 0: the object in place stays
    } cases[] = {{"0x10000003", 2}, {"0x10000001", 1}, {"0x12345678", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        auto sim = Start({"--type-code", c.code});
        const TVoltixProVxx *before = &Shell->Model->Protocol();
        Shell->ToggleConnection();
        ASSERT_TRUE(Shell->LinkOpen());
        EXPECT_TRUE(View.HealthTimer);
        EXPECT_TRUE(View.RunControls);
        if (c.generation == 0) {
            // Connected, but the operator is told no action can run.
            EXPECT_EQ(View.Status, "unknown instrument type 0x12345678");
            EXPECT_EQ(&Shell->Model->Protocol(), before);
            EXPECT_THROW(Shell->RunStartAction(TShell::ActionAcquisition), ETarnelError);
        } else {
            EXPECT_TRUE(View.Status.contains("SN 0042")) << View.Status.toStdString();
            EXPECT_EQ(Shell->Model->Protocol().Table()->Generation, c.generation);
        }
        Shell->ToggleConnection();
        EXPECT_FALSE(Shell->LinkOpen());
        Shell->Port.reset();
        Shell->Model->Port = nullptr;
    }
}

TEST_P(TConnectE2e, aLinkThatCannotOpenLeavesOpenCom)
{
    if (GetParam().pty) {
        QFile ini(Tmp.path() + "/Setup.ini");
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[Communication]\r\nPort=1\r\n[Devices]\r\nCom1=%1/no-such-tty\r\n").arg(Tmp.path()).toLatin1());
    } else {
        QFile ini(Tmp.path() + "/Setup.ini");
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Communication]\r\nPort=100\r\nIPAddress=127.0.0.1:1\r\n");
    }
    ASSERT_TRUE(Shell->LoadConfiguration(Tmp.path() + "/Setup.ini"));
    Shell->ToggleConnection();
    EXPECT_FALSE(Shell->LinkOpen());
    EXPECT_EQ(View.Status, GetParam().pty ? "Open Com failed" : "Open Com");
    EXPECT_FALSE(View.HealthTimer);
    if (GetParam().pty) {
        // The device and the system's reason, in a box and in red in the log.
        const QString why = "Cannot open serial port " + Tmp.path() + "/no-such-tty: No such file or directory";
        EXPECT_TRUE(Ui.Messages.join('|').contains(why)) << Ui.Messages.join('|').toStdString();
        ASSERT_FALSE(Shell->EventLog.Lines().empty());
        EXPECT_TRUE(Shell->EventLog.Lines().back().Text.contains(why));
        EXPECT_EQ(Shell->EventLog.Lines().back().Color, LogColor::Red);
    } else {
        const QString shown = Ui.Messages.join(QLatin1Char('|'));
        EXPECT_TRUE(shown.contains("Unable to connect to 127.0.0.1")) << shown.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Links, TConnectE2e, ::testing::Values(TLink{"pty", true}, TLink{"tcp", false}),
                         [](const auto &caseInfo) { return std::string(caseInfo.param.name); });
