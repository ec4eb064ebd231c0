#include "app/Shell.h"
#include "base/EventLog.h"
#include "instrument/VoltixPro.h"
#include "ui/ConfigPage.h"
#include "ui/MainFrm.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>

namespace {
struct TConfigPageFixture : ::testing::Test {
    QTemporaryDir Tmp;
    QString Data;
    std::unique_ptr<TMainFrm> Window;

    void SetUp() override
    {
        Data = Tmp.path() + "/data";
        QDir().mkpath(Data);
        qputenv("TARNELPRO_DATA_DIR", Data.toLocal8Bit());
        qputenv("TARNELPRO_PROGRAM_DIR", Tmp.path().toLocal8Bit());
        QFile f(Data + "/Setup.ini");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("; kept\r\n[StartParameters]\r\nConfig=328225\r\n[Parameters]\r\nAcquisitionFile=" + Data.toLocal8Bit() +
                "/run.bin\r\n");
        f.close();
        Window = std::make_unique<TMainFrm>(TShell::TOptions{false});
        Window->show();
    }
    void TearDown() override
    {
        Window.reset();
        qunsetenv("TARNELPRO_DATA_DIR");
        qunsetenv("TARNELPRO_PROGRAM_DIR");
    }
    template <class T>
    T *Find(const char *name)
    {
        T *w = Window->findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void Enter(const char *edit, const QString &text)
    {
        auto *e = Find<QLineEdit>(edit);
        e->setText(text);
        emit e->returnPressed();
    }
    QByteArray Config()
    {
        QFile f(Data + "/Setup.ini");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};
} // namespace

TEST_F(TConfigPageFixture, defaultConfigShowsVpSaveEnergyRhoOnlyAndTwoSeconds)
{
    EXPECT_TRUE(Find<QRadioButton>("VpRdBtn")->isChecked());
    EXPECT_EQ(Find<QComboBox>("VmnCB")->currentText(), "Save energy");
    EXPECT_FALSE(Find<QComboBox>("VabCB")->isVisible());
    EXPECT_TRUE(Find<QRadioButton>("RhoOnlyRdBtn")->isChecked());
    EXPECT_FALSE(Find<QComboBox>("IPModeCB")->isVisible());
    EXPECT_EQ(Find<QComboBox>("TimeCB")->currentText(), "2000 ms");
    EXPECT_EQ(Find<QComboBox>("IPModeCB")->currentText(), "Arithmetic");
    EXPECT_EQ(Find<QLineEdit>("VabMaxEdt")->text(), "0");
    EXPECT_EQ(Find<QLineEdit>("LatitudeLblx")->text(), "000:00.000 N");
    EXPECT_TRUE(Find<QLabel>("AcquisitionFileSTxt")->toolTip().endsWith("/run.bin"));
}

TEST_F(TConfigPageFixture, editsApplyTheirRules)
{
    TStartParameters &p = Window->Controller().Model->StartParameters;
    Enter("VabMaxEdt", "805");
    EXPECT_EQ(Find<QLineEdit>("VabMaxEdt")->text(), "800");
    EXPECT_EQ(p.VabMax(), 80);
    Enter("StdChannelEdn", "4");
    EXPECT_EQ(p.Channel, 4);
    EXPECT_EQ(Find<QLineEdit>("TriggerEdn")->text(), "2");
    Enter("TriggerEdn", "7");
    EXPECT_EQ(Find<QLineEdit>("TriggerEdn")->text(), "1");
    EXPECT_EQ(p.ChannelSynchro, 0);
    Enter("LongitudeLblx", "012:34.567 W");
    EXPECT_FLOAT_EQ(p.Longitude, -1234.567f);

    Find<QRadioButton>("RhoIPRdBtn")->click();
    EXPECT_FALSE(p.RhoOnly());
    EXPECT_TRUE(Find<QComboBox>("IPModeCB")->isVisible());
    Find<QRadioButton>("VabRdBtn")->click();
    EXPECT_EQ(p.VpCode(), 0);
    EXPECT_EQ(p.VabCode(), 1);
    EXPECT_TRUE(Find<QComboBox>("VabCB")->isVisible());
    EXPECT_FALSE(Find<QLineEdit>("VabMaxEdt")->isVisible());
}

TEST_F(TConfigPageFixture, measurementModeSwitchesTheSetupGroups)
{
    Find<QRadioButton>("HighSpeedRdBtn")->click();
    EXPECT_FALSE(Find<QGroupBox>("StandardGb")->isVisible());
    EXPECT_TRUE(Find<QGroupBox>("HighSpeedGb")->isVisible());
    EXPECT_TRUE(Find<QLineEdit>("TxVoltageEdt")->isVisible());
    Find<QRadioButton>("SpOnlyRdBtn")->click();
    EXPECT_FALSE(Find<QLineEdit>("TxVoltageEdt")->isVisible());
    EXPECT_EQ(Window->Controller().State.MeasMode, 2);
}

TEST_F(TConfigPageFixture, openingASurveyFileShowsItsCountAndSavesTheConfiguration)
{
    TConfigPage *page = Window->ConfigPage();
    const QString survey = QStringLiteral(TARNEL_TEST_DATA) + "/survey/wenner.txt";
    page->OpenDialog = [&](const QString &, const QString &, const QString &) { return survey; };
    page->OpenQuadripoleFileBtnClick();
    EXPECT_NE(Find<QLabel>("QuadripoleMaxLblx")->text(), "0");
    EXPECT_EQ(Find<QLabel>("QuadripoleFileTxt")->toolTip(), survey);
    EXPECT_TRUE(Config().contains("QuadripoleFile=" + survey.toLocal8Bit()));
    EXPECT_TRUE(Config().startsWith("; kept"));

    // A file that yields nothing keeps an empty path.
    page->OpenDialog = [&](const QString &, const QString &, const QString &) { return Tmp.path() + "/none.txt"; };
    page->OpenQuadripoleFileBtnClick();
    EXPECT_EQ(Find<QLabel>("QuadripoleMaxLblx")->text(), "0");
    EXPECT_TRUE(Window->Controller().State.QuadripoleFile.isEmpty());
}

TEST_F(TConfigPageFixture, saveFileWritesTheCurrentFileThenTheChosenOneAndKeepsTheCurrent)
{
    TConfigPage *page = Window->ConfigPage();
    Enter("StackMinEdn", "7");
    const QString other = Tmp.path() + "/other.Ini";
    page->SaveDialog = [&](const QString &, const QString &, const QString &, const QString &) { return other; };
    page->SaveConfigurationFileBtnClick();
    EXPECT_TRUE(Config().contains("CrenMin=7"));
    QFile f(other);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("CrenMin=7"));
    EXPECT_EQ(Window->Controller().State.ConfigFile, Data + "/Setup.ini");
}

TEST_F(TConfigPageFixture, qualityLimitsAreEditedSavedAndLoadedWithTheConfiguration)
{
    TConfigPage *page = Window->ConfigPage();
    EXPECT_EQ(Find<QLineEdit>("MaxReciprocalEdt")->text(), "5") << "the default limit";
    Enter("MinCurrentEdt", "0,5");
    Enter("MinVoltageEdt", "-2"); // refused: the floor stays
    Enter("MaxReciprocalEdt", "3");
    EXPECT_EQ(Find<QLineEdit>("MinVoltageEdt")->text(), "0.01");
    const QString other = Tmp.path() + "/quality.Ini";
    page->SaveDialog = [&](const QString &, const QString &, const QString &, const QString &) { return other; };
    page->SaveConfigurationFileBtnClick();
    QFile f(other);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("[Quality]\r\nMinCurrent=0.5\r\nMinVoltage=0.01\r\nMaxReciprocalError=3\r\n"));
    Enter("MaxReciprocalEdt", "9");
    ASSERT_TRUE(Window->Controller().LoadConfiguration(other));
    EXPECT_EQ(Find<QLineEdit>("MaxReciprocalEdt")->text(), "3");
    EXPECT_EQ(Window->Controller().QualityKeys.MinCurrent, 0.5f);
}

TEST_F(TConfigPageFixture, publishToMqttStartsTheReportAndSaysWhatCannotWork)
{
    TShell &shell = Window->Controller();
    auto *publish = Find<QCheckBox>("MqttCheckBox");
    EXPECT_FALSE(publish->isChecked());
    EXPECT_EQ(shell.Observer, nullptr) << "no broker configured, nothing changes";
    const auto lastLine = [&shell] { return shell.EventLog.Lines().back(); };

    publish->click();
    EXPECT_TRUE(lastLine().Text.contains("MQTT: no broker address")) << lastLine().Text.toStdString();
    EXPECT_EQ(lastLine().Color, LogColor::Red);
    Enter("MqttBrokerEdt", "http://broker");
    EXPECT_TRUE(lastLine().Text.contains("is no broker address")) << lastLine().Text.toStdString();
    EXPECT_EQ(lastLine().Color, LogColor::Red);
    EXPECT_EQ(shell.Observer, nullptr);

    // A broker nobody answers on: the report runs all the same and waits for it.
    Enter("MqttBrokerEdt", "mqtt://127.0.0.1:1");
    Enter("MqttTopicEdt", "fleet/dike");
    EXPECT_NE(shell.Observer, nullptr);
    shell.SaveConfiguration(shell.State.ConfigFile);
    EXPECT_TRUE(Config().contains("[Mqtt]\r\nPublish=1\r\nBroker=mqtt://127.0.0.1:1\r\nTopic=fleet/dike\r\n"))
        << Config().toStdString();

    publish->click();
    EXPECT_EQ(shell.Observer, nullptr);
    shell.SaveConfiguration(shell.State.ConfigFile);
    EXPECT_TRUE(Config().contains("Publish=0")) << "the broker is kept for the next time";
    ASSERT_TRUE(shell.LoadConfiguration(shell.State.ConfigFile));
    EXPECT_FALSE(publish->isChecked());
    EXPECT_EQ(Find<QLineEdit>("MqttBrokerEdt")->text(), "mqtt://127.0.0.1:1");
    EXPECT_EQ(Find<QLineEdit>("MqttTopicEdt")->text(), "fleet/dike");
}
