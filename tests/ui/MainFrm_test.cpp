#include "ui/MainFrm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

namespace {
struct TWindowFixture : ::testing::Test {
    QTemporaryDir Tmp;
    void SetUp() override
    {
        qputenv("TARNELPRO_DATA_DIR", (Tmp.path() + "/data").toLocal8Bit());
        QDir().mkpath(Tmp.path() + "/program");
        QFile t(Tmp.path() + "/program/Setup.ini");
        ASSERT_TRUE(t.open(QIODevice::WriteOnly));
        t.write("[Communication]\r\nPort=100\r\n");
        t.close();
        qputenv("TARNELPRO_PROGRAM_DIR", (Tmp.path() + "/program").toLocal8Bit());
    }
    void TearDown() override
    {
        qunsetenv("TARNELPRO_DATA_DIR");
        qunsetenv("TARNELPRO_PROGRAM_DIR");
    }
};
} // namespace

TEST_F(TWindowFixture, everyNamedComponentExists)
{
    TMainFrm w(TShell::TOptions{false});
    const char *names[] = {"ConnectPannel", "ConnectBtn", "StartButtonPanel", "NewGpsBtn", "PauseBtn", "StopBtn",
                           "ProgressGB", "MainGB", "ProgressBar1", "ErrorSetUp", "RsOffImg", "RsOnImg", "Image2",
                           "BatPannel", "BatterieBtn", "TxBatLblx", "RxBatLblx", "RxTempLblx", "TxGauge", "RxGauge",
                           "TempGauge", "PageControl1", "ProgressBar2", "EditJournal", "MaxResValueCb", "BitBtn1",
                           "ConfigurationTb", "AcquisitonDataTb", "StateTb", "RhoTb", "ResistanceTb", "ScriptTb"};
    for (const char *n : names)
        EXPECT_NE(w.findChild<QWidget *>(n), nullptr) << n;
    const char *actions[] = {"PowerAction", "Com11", "Com61", "USB1", "BT1", "Wavenode1", "Communicationspeed1",
                             "ZIREriva1", "Rubriquedaide1", "Homepage1", "Productsupport1", "Apropos1"};
    for (const char *n : actions)
        EXPECT_NE(w.findChild<QAction *>(n), nullptr) << n;

    auto *power = w.findChild<QAction *>("PowerAction");
    EXPECT_EQ(power->text(), "Connect");
    EXPECT_EQ(power->toolTip(), "Connect to  VOLTIX");
    EXPECT_EQ(power->shortcut(), QKeySequence(Qt::Key_F2));
    EXPECT_EQ(w.findChild<QToolButton *>("ConnectBtn")->defaultAction(), power);
    EXPECT_EQ(w.findChild<QProgressBar *>("RxGauge")->minimum(), 90);
    EXPECT_EQ(w.findChild<QProgressBar *>("TxGauge")->maximum(), 130);
    EXPECT_EQ(w.findChild<QProgressBar *>("TempGauge")->minimum(), 40);
    EXPECT_EQ(w.findChild<QProgressBar *>("TempGauge")->maximum(), 80);
    auto *timer = w.findChild<QTimer *>("Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 20000);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(w.windowTitle(), "Tarnel Pro 2");
}

TEST_F(TWindowFixture, sixPagesInOrderAndTheStartState)
{
    TMainFrm w(TShell::TOptions{false});
    auto *pages = w.findChild<QTabWidget *>("PageControl1");
    ASSERT_NE(pages, nullptr);
    QStringList captions;
    for (int i = 0; i < pages->count(); ++i)
        captions << pages->tabText(i);
    EXPECT_EQ(captions, (QStringList{"Configuration", "Acquisition", "Progress status", "Rho pseudo section",
                                     "Resistance", "Script / Event log"}));
    EXPECT_EQ(pages->currentIndex(), 0);
    EXPECT_FALSE(w.findChild<QLabel *>("ErrorSetUp")->isVisibleTo(&w));
    EXPECT_FALSE(w.findChild<QLabel *>("RsOnImg")->isVisibleTo(&w));
    EXPECT_TRUE(w.findChild<QLabel *>("RsOffImg")->isVisibleTo(&w));
    EXPECT_FALSE(w.findChild<QWidget *>("StartButtonPanel")->isVisibleTo(&w));
    EXPECT_EQ(w.findChild<QComboBox *>("MaxResValueCb")->currentText(), "Line open");
    // Setup.ini was copied from the template: Connect enabled, Wavenode ticked.
    EXPECT_TRUE(w.findChild<QAction *>("PowerAction")->isEnabled());
    EXPECT_TRUE(w.findChild<QAction *>("Wavenode1")->isChecked());
    EXPECT_EQ(w.PortImageIndex(), 9);
}

TEST_F(TWindowFixture, cannotShrinkBelowTheDesignSize)
{
    TMainFrm w(TShell::TOptions{false});
    w.show();
    const QSize design = w.size();
    EXPECT_EQ(w.centralWidget()->width(), 902);
    EXPECT_EQ(w.minimumSize(), design);
    w.resize(design.width() - 100, design.height() - 100);
    EXPECT_EQ(w.size(), design);
    w.resize(design.width() + 100, design.height() + 50);
    EXPECT_EQ(w.size(), design + QSize(100, 50));
}

TEST_F(TWindowFixture, runControlsAndEventLogPane)
{
    TMainFrm w(TShell::TOptions{false});
    w.ShowRunControls(true);
    for (const char *n : {"NewGpsBtn", "PauseBtn", "StopBtn", "BatterieBtn"})
        EXPECT_TRUE(w.findChild<QWidget *>(n)->isEnabled()) << n;
    EXPECT_TRUE(w.findChild<QWidget *>("StartButtonPanel")->isVisibleTo(&w));
    w.ShowRunControls(false);
    EXPECT_FALSE(w.findChild<QWidget *>("StopBtn")->isEnabled());

    TEventLog &log = w.Controller().EventLog;
    log.SetColor(LogColor::Orange);
    log.Add("first");
    log.SetColor(LogColor::Black);
    log.Add("second");
    auto *pane = w.findChild<QTextEdit *>("EditJournal");
    EXPECT_EQ(pane->toPlainText(), "first\nsecond");
    log.Clear();
    EXPECT_TRUE(pane->toPlainText().isEmpty());
}

TEST_F(TWindowFixture, enableChildControlsShallowAndDeep)
{
    QWidget outer;
    auto *inner = new QWidget(&outer);
    auto *leaf = new QPushButton(inner);
    TMainFrm::EnableChildControls(&outer, false, false);
    EXPECT_FALSE(inner->isEnabled());
    inner->setEnabled(true);
    EXPECT_TRUE(leaf->isEnabled());
    TMainFrm::EnableChildControls(&outer, false, true);
    EXPECT_FALSE(inner->isEnabled());
    inner->setEnabled(true);
    EXPECT_FALSE(leaf->isEnabled()) << "deep also disables grandchildren";
}
