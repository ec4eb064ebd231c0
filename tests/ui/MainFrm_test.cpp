#include "ui/MainFrm.h"

#include "app/Guard.h"
#include "ui/DesktopOpen.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
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
#include <QScrollBar>
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
                             "ZIREriva1", "Rubriquedaide1", "Apropos1"};
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

TEST_F(TWindowFixture, placedWholeOnTheScreenAndCannotShrinkBelowTheDesignSize)
{
    TMainFrm w(TShell::TOptions{false});
    w.show();
    const QSize design = w.size();
    // The design width where the screen allows it; on a small screen (the
    // offscreen platform's is 800 x 600) the whole window stays on it, the
    // Link menu and Connect included.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(w.centralWidget()->width(), std::min(902, area.width() - 8));
    EXPECT_TRUE(area.contains(w.frameGeometry())) << w.frameGeometry().x() << "," << w.frameGeometry().y();
    auto *connect = w.findChild<QWidget *>("ConnectBtn");
    EXPECT_TRUE(area.contains(QRect(connect->mapToGlobal(QPoint(0, 0)), connect->size())));
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
    for (const char *n : {"NewGpsBtn", "PauseBtn", "StopBtn"})
        EXPECT_TRUE(w.findChild<QWidget *>(n)->isEnabled()) << n;
    EXPECT_TRUE(w.findChild<QWidget *>("StartButtonPanel")->isVisibleTo(&w));
    w.ShowRunControls(false);
    EXPECT_FALSE(w.findChild<QWidget *>("StopBtn")->isEnabled());

    TEventLog &log = w.Controller().EventLog;
    log.Add("first", LogColor::Orange);
    log.Add("second");
    auto *pane = w.findChild<QTextEdit *>("EditJournal");
    EXPECT_EQ(pane->toPlainText(), "first\nsecond");
    // A long line does not leave the pane scrolled sideways: each new line
    // shows from its start.
    w.show();
    log.Add(QString(400, QLatin1Char('x')));
    log.Add("short");
    EXPECT_EQ(pane->horizontalScrollBar()->value(), 0);
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

TEST_F(TWindowFixture, batteryButtonFollowsTheLinkAndTheBoxesClearOnDisconnect)
{
    TMainFrm w(TShell::TOptions{false});
    w.show();
    auto *bat = w.findChild<QToolButton *>("BatterieBtn");
    auto *tx = w.findChild<QLabel *>("TxBatLblx");
    EXPECT_FALSE(bat->isEnabled()) << "no link yet";
    w.ShowRunControls(true);
    EXPECT_FALSE(bat->isEnabled()) << "run controls do not make a link";
    w.ShowLinkIndicator(true);
    EXPECT_TRUE(bat->isEnabled());
    w.SetBatteryButtonVisible(false);
    EXPECT_TRUE(bat->isVisible()) << "greyed while reading, never hidden";
    EXPECT_FALSE(bat->isEnabled());
    w.SetBatteryButtonVisible(true);
    w.SetActionRunning(true);
    EXPECT_FALSE(bat->isEnabled());
    w.SetActionRunning(false);
    EXPECT_TRUE(bat->isEnabled());

    THealthDisplay d;
    d.Texts = {"12.1", "11.9", "31"};
    d.GaugePositions = {121, 119, 69};
    w.ShowHealth(d);
    EXPECT_EQ(tx->text(), "12.1");
    w.ShowLinkIndicator(false);
    EXPECT_FALSE(bat->isEnabled());
    for (const char *n : {"TxBatLblx", "RxBatLblx", "RxTempLblx"})
        EXPECT_TRUE(w.findChild<QLabel *>(n)->text().isEmpty()) << n;
    EXPECT_EQ(w.findChild<QProgressBar *>("TxGauge")->value(), 90);
}

TEST_F(TWindowFixture, helpAndDatremSayWhyNothingOpens)
{
    QList<QUrl> opened;
    bool openerWorks = true;
    SetDesktopOpener([&](const QUrl &url) {
        opened << url;
        return openerWorks;
    });
    TMainFrm w(TShell::TOptions{false});
    auto *topics = w.findChild<QAction *>("Rubriquedaide1");
    EXPECT_EQ(topics->shortcut(), QKeySequence(Qt::Key_F1));

    topics->trigger();
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(w.NoticeText(), "Manual not found: " + Tmp.path() + "/program/TarnelPro.html");

    QFile manual(Tmp.path() + "/program/TarnelPro.html");
    ASSERT_TRUE(manual.open(QIODevice::WriteOnly));
    manual.close();
    topics->trigger();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(manual.fileName()));
    EXPECT_TRUE(w.NoticeText().isEmpty());
    openerWorks = false;
    topics->trigger();
    EXPECT_TRUE(w.NoticeText().startsWith("No browser")) << w.NoticeText().toStdString();

    QFile data(w.Controller().State.AcquisitionFile);
    ASSERT_TRUE(data.open(QIODevice::WriteOnly));
    data.close();
    w.BitBtn1Click();
    EXPECT_EQ(w.NoticeText(), "No program to open " + data.fileName());
    SetDesktopOpener({});
}

TEST_F(TWindowFixture, usbCheckWithoutTheToolDoesNothingVisible)
{
    TMainFrm w(TShell::TOptions{false});
    w.show();
    QStringList started;
    w.Controller().StartProgram = [&](const QString &p) { started << p; };
    const QString title = w.findChild<QGroupBox *>("MainGB")->title();
    const auto windowsBefore = QApplication::topLevelWidgets().size();
    w.findChild<QAction *>("ZIREriva1")->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(QApplication::topLevelWidgets().size(), windowsBefore);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(w.findChild<QGroupBox *>("MainGB")->title(), title);
    EXPECT_TRUE(w.NoticeText().isEmpty());
}

TEST_F(TWindowFixture, eventLogSaveFailureLeavesTheIdentificationInPlace)
{
    TMainFrm w(TShell::TOptions{false});
    w.SetStatusText("VOLTIX 48 ch. V2");
    w.Controller().EventLog.Add("line");
    w.Controller().EventLog.Save(Tmp.path() + "/no such folder/run.bin");
    EXPECT_EQ(w.findChild<QGroupBox *>("MainGB")->title(), "VOLTIX 48 ch. V2");
    EXPECT_TRUE(w.NoticeText().startsWith("Event log not saved")) << w.NoticeText().toStdString();
    EXPECT_TRUE(w.findChild<QTextEdit *>("EditJournal")->toPlainText().contains("Event log not saved"));
}

TEST_F(TWindowFixture, anErrorResetsTheTransferBarAndPauseShows)
{
    TMainFrm w(TShell::TOptions{false});
    w.Ui().SetProgressRange(0, 100);
    w.Ui().SetProgressPosition(60);
    QTimer::singleShot(0, [] {
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    Guarded(w.Ui(), [] { throw ETarnelError("Port err. Setcmd"); });
    EXPECT_EQ(w.findChild<QProgressBar *>("ProgressBar1")->value(), 0);

    w.show();
    w.ShowRunControls(true);
    w.SetPauseDown(true);
    EXPECT_TRUE(w.findChild<QLabel *>("PausedLbl")->isVisible());
    w.SetPauseDown(false);
    EXPECT_FALSE(w.findChild<QLabel *>("PausedLbl")->isVisible());
}

TEST(ShortPath, dropsLeadingFoldersSoTheNameStaysVisible)
{
    const QFontMetrics fm(QApplication::font());
    const QString a = "/home/crew/surveys/2026/site-north/line-1/Quadripoles.txt";
    const QString b = "/home/crew/surveys/2026/site-south/line-1/Quadripoles.txt";
    EXPECT_EQ(TMainFrm::ShortPath("/d/q.txt", fm, 1000), "/d/q.txt");
    const int width = fm.horizontalAdvance(QString::fromUtf8("…/site-north/line-1/Quadripoles.txt")) + 2;
    EXPECT_EQ(TMainFrm::ShortPath(a, fm, width), QString::fromUtf8("…/site-north/line-1/Quadripoles.txt"));
    EXPECT_NE(TMainFrm::ShortPath(a, fm, width), TMainFrm::ShortPath(b, fm, width));
    const QString tight = TMainFrm::ShortPath(a, fm, fm.horizontalAdvance("Quadripoles.txt") + 2);
    EXPECT_TRUE(tight.endsWith("Quadripoles.txt")) << tight.toStdString();
    const QString tiny = TMainFrm::ShortPath(a, fm, 40);
    EXPECT_LE(fm.horizontalAdvance(tiny), 40);
    EXPECT_TRUE(tiny.startsWith("Q")) << "what is left is the name, not folders: " << tiny.toStdString();
}

TEST(WindowWithoutTemplate, theConfigurationPageShowsTheStartingSettings)
{
    QTemporaryDir tmp;
    qputenv("TARNELPRO_DATA_DIR", (tmp.path() + "/data").toLocal8Bit());
    QDir().mkpath(tmp.path() + "/program");
    qputenv("TARNELPRO_PROGRAM_DIR", (tmp.path() + "/program").toLocal8Bit());
    {
        TMainFrm w(TShell::TOptions{false});
        w.show();
        EXPECT_TRUE(w.findChild<QRadioButton *>("StandardRdBtn")->isChecked());
        EXPECT_FALSE(w.findChild<QWidget *>("HighSpeedGb")->isVisible()) << "one setup group, not both";
        EXPECT_FALSE(w.findChild<QLineEdit *>("StdChannelEdn")->text().isEmpty());
    }
    qunsetenv("TARNELPRO_DATA_DIR");
    qunsetenv("TARNELPRO_PROGRAM_DIR");
}

// TARNELPRO_TRACE starts the link trace with the window; the Link menu's item
// shows it and stops it, and the event log says both.
TEST_F(TWindowFixture, theTraceVariableStartsTheLinkTraceAndTheMenuStopsIt)
{
    const QString path = Tmp.path() + "/trace.txt";
    qputenv("TARNELPRO_TRACE", path.toLocal8Bit());
    {
        TMainFrm w(TShell::TOptions{false});
        qunsetenv("TARNELPRO_TRACE");
        auto *item = w.findChild<QAction *>("TraceLink1");
        ASSERT_NE(item, nullptr);
        EXPECT_TRUE(item->isCheckable() && item->isChecked());
        const QString log = w.findChild<QTextEdit *>("EditJournal")->toPlainText();
        EXPECT_TRUE(log.contains("Link trace written to " + path)) << log.toStdString();
        item->trigger();
        EXPECT_FALSE(item->isChecked());
        EXPECT_TRUE(w.findChild<QTextEdit *>("EditJournal")->toPlainText().contains("Link trace stopped"));
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains("## trace started") && text.contains("## trace stopped")) << text.toStdString();
}
