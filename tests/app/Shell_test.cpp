#include "app/RecordingView.h"
#include "app/Shell.h"
#include "instrument/VoltixPro.h"
#include "link/FakePort.h"
#include "link/PortVirt.h"
#include "support/FakeClock.h"
#include "support/ScriptedUi.h"
#include "support/SmallFs.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {
struct TStartFixture : ::testing::Test {
    QTemporaryDir Tmp;
    QString Data, Program;
    TScriptedUi Ui;
    TRecordingView View;
    TFakeClock Clock;

    void SetUp() override
    {
        Data = Tmp.path() + "/home/Voltix/TarnelPro Data";
        Program = Tmp.path() + "/program";
        QDir().mkpath(Program);
        qputenv("TARNELPRO_DATA_DIR", Data.toLocal8Bit());
        qputenv("TARNELPRO_PROGRAM_DIR", Program.toLocal8Bit());
    }
    void TearDown() override
    {
        qunsetenv("TARNELPRO_DATA_DIR");
        qunsetenv("TARNELPRO_PROGRAM_DIR");
    }
    void WriteFile(const QString &path, const QByteArray &text)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray Read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    std::unique_ptr<TShell> Start()
    {
        auto shell = std::make_unique<TShell>(Ui, View, Clock, TShell::TOptions{false});
        shell->Construct();
        shell->FormCreate();
        return shell;
    }
};
} // namespace

TEST_F(TStartFixture, firstStartCreatesTheFoldersCopiesTheTemplateAndEnablesConnect)
{
    WriteFile(Program + "/Setup.ini", "[Communication]\r\nPort=3\r\n");
    auto shell = Start();
    EXPECT_TRUE(QFileInfo(Data).isDir());
    EXPECT_EQ(Read(Data + "/Setup.ini"), QByteArray("[Communication]\r\nPort=3\r\n"));
    EXPECT_EQ(shell->State.ConfigFile, Data + "/Setup.ini");
    EXPECT_EQ(shell->State.AcquisitionFile, Data + "/Tarnel.bin");
    EXPECT_EQ(shell->State.RunState, TRunState::Idle);
    EXPECT_TRUE(shell->State.ConfigLoaded);
    EXPECT_TRUE(View.ConnectEnabled);
    EXPECT_EQ(View.TickedSelector, 3);
    EXPECT_EQ(View.PortImage, 4);
    EXPECT_FALSE(View.RunControls);
    EXPECT_EQ(View.Page, TPage::Configuration);
    EXPECT_EQ(View.Pseudo.Title("SubTitle"), " ");
    EXPECT_EQ(View.Progress.Setting("RenderEngine").toString(), "tdHybrid");
    EXPECT_TRUE(Ui.Errors.isEmpty());
}

TEST_F(TStartFixture, secondStartLoadsTheExistingFileAndNeverOverwritesIt)
{
    QDir().mkpath(Data);
    WriteFile(Data + "/Setup.ini", "[Communication]\r\nPort=7\r\n");
    WriteFile(Program + "/Setup.ini", "[Communication]\r\nPort=1\r\n; newer template\r\n");
    auto shell = Start();
    EXPECT_EQ(Read(Data + "/Setup.ini"), QByteArray("[Communication]\r\nPort=7\r\n"));
    EXPECT_EQ(shell->State.PortSelector, 7);
    EXPECT_EQ(View.TickedSelector, 7);
    EXPECT_EQ(View.PortImage, 8) << "any selector but 1..6, 99 and 100 is Bluetooth";
}

TEST_F(TStartFixture, missingTemplateLeavesConnectDisabled)
{
    auto shell = Start();
    EXPECT_TRUE(QFileInfo(Data).isDir());
    EXPECT_FALSE(QFileInfo::exists(Data + "/Setup.ini"));
    EXPECT_FALSE(shell->State.ConfigLoaded);
    EXPECT_FALSE(View.ConnectEnabled);
}

TEST_F(TStartFixture, uncreatableDataFolderIsReportedAndStartUpGoesOn)
{
    // A file in place of the "Voltix" level makes it and the levels below fail.
    QDir().mkpath(Tmp.path() + "/home");
    WriteFile(Tmp.path() + "/home/Voltix", "not a folder");
    WriteFile(Program + "/Setup.ini", "[Communication]\r\nPort=1\r\n");
    auto shell = Start();
    EXPECT_GE(Ui.Errors.size(), 2);
    EXPECT_TRUE(Ui.Errors.first().startsWith("TarnelPro|Can't create directory \""));
    EXPECT_FALSE(View.ConnectEnabled);
}

TEST_F(TStartFixture, aTemplateThatDoesNotFitTheDiskIsReportedNotLeftEmpty)
{
    TSmallFs fs(16 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << TSmallFs::SkipReason;
    Data = fs.File("data");
    QDir().mkpath(Data);
    qputenv("TARNELPRO_DATA_DIR", Data.toLocal8Bit());
    WriteFile(Program + "/Setup.ini", "[Communication]\r\nPort=3\r\n" + QByteArray(8192, ';'));
    fs.Fill();
    auto shell = Start();
    EXPECT_FALSE(QFileInfo::exists(Data + "/Setup.ini")) << "an empty copy would be taken for the configuration";
    ASSERT_EQ(Ui.Errors.size(), 1);
    EXPECT_TRUE(Ui.Errors[0].contains("Can't save configuration")) << Ui.Errors[0].toStdString();
    EXPECT_TRUE(Ui.Errors[0].endsWith("No space left on device")) << Ui.Errors[0].toStdString();
    EXPECT_EQ(shell->EventLog.Lines().back().Color, LogColor::Red);
}

TEST_F(TStartFixture, nonNumericPortTakesTheDefault)
{
    WriteFile(Program + "/Setup.ini", "[communication]\r\nport=abc\r\n");
    auto shell = Start();
    EXPECT_EQ(shell->State.PortSelector, 1);
}

TEST(PortImage, followsTheLinkAndTheUsbDevicePresence)
{
    const struct {
        int selector, usb, image;
    } cases[] = {{1, 0, 2}, {6, 0, 7}, {7, 0, 8}, {98, 0, 8}, {99, 0, 0}, {99, 2, 1}, {100, 0, 9}, {0, 0, 8}};
    for (const auto &c : cases)
        EXPECT_EQ(TShell::PortImageFor(c.selector, c.usb), c.image) << c.selector << "/" << c.usb;
}

TEST_F(TStartFixture, unpluggingTheUsbCableOnlyChangesThePicture)
{
    WriteFile(Program + "/Setup.ini", "[Communication]\r\nPort=99\r\n");
    TShell shell(Ui, View, Clock, TShell::TOptions{false});
    int devices = 1;
    int created = 0;
    shell.UsbDeviceCount = [&] { return devices; };
    shell.MakePort = [&](int selector) -> std::unique_ptr<TPortVirt> {
        ++created;
        EXPECT_EQ(selector, 99);
        return nullptr;
    };
    shell.Construct();
    shell.FormCreate();
    EXPECT_EQ(View.PortImage, 1);
    devices = 0;
    shell.ShowPortImage(false);
    EXPECT_EQ(View.PortImage, 0);
    EXPECT_EQ(created, 1) << "refreshing the picture makes no port";
}

TEST_F(TStartFixture, surveyFilesNamedButMissingAreReportedAtLoad)
{
    WriteFile(Program + "/Setup.ini", "[Name]\r\nQuadripoleFile=" + (Tmp.path() + "/gone.txt").toLocal8Bit() +
                                          "\r\nCoordinateFile=\r\n[Communication]\r\nPort=1\r\n");
    auto shell = Start();
    EXPECT_EQ(Ui.Errors, QStringList{"Tarnel Pro 2|Quadripole file not found: " + Tmp.path() + "/gone.txt"});
    ASSERT_FALSE(shell->EventLog.Lines().empty());
    EXPECT_TRUE(shell->EventLog.Lines().back().Text.endsWith("Quadripole file not found: " + Tmp.path() + "/gone.txt"));
    EXPECT_EQ(shell->EventLog.Lines().back().Color, LogColor::Red);
    EXPECT_EQ(shell->Model->QuadCount, 0);
}

TEST_F(TStartFixture, loadingAConfigurationSwitchesToTheLinkItNames)
{
    WriteFile(Program + "/Setup.ini", "[Communication]\r\nPort=1\r\n");
    TShell shell(Ui, View, Clock, TShell::TOptions{false});
    QList<int> made;
    shell.MakePort = [&](int selector) -> std::unique_ptr<TPortVirt> {
        made << selector;
        auto port = std::make_unique<TFakePort>(Ui, Clock);
        port->State = 0;
        return port;
    };
    shell.Construct();
    shell.FormCreate();
    ASSERT_EQ(made, QList<int>{1});
    // Serial to TCP, TCP to USB, USB to serial: each a port of the new kind;
    // another serial number keeps the serial port, which reads the number at Connect.
    const struct {
        int Port;
        QList<int> Made;
    } steps[] = {{100, {1, 100}}, {99, {1, 100, 99}}, {3, {1, 100, 99, 3}}, {5, {1, 100, 99, 3}}};
    for (const auto &step : steps) {
        SCOPED_TRACE(step.Port);
        const QString ini = Tmp.path() + QStringLiteral("/link%1.ini").arg(step.Port);
        WriteFile(ini, QStringLiteral("[Communication]\r\nPort=%1\r\nIPAddress=192.168.100.76\r\n").arg(step.Port).toLatin1());
        ASSERT_TRUE(shell.LoadConfiguration(ini));
        EXPECT_EQ(shell.State.PortSelector, step.Port);
        EXPECT_EQ(made, step.Made);
        EXPECT_EQ(View.PortImage, TShell::PortImageFor(step.Port, 0));
    }
}
