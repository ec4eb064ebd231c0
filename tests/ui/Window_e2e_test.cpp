// The window against the simulated instrument on a pseudo-terminal: Connect,
// Start an acquisition, see the values, disconnect, as an operator would.
#include "link/SimProcess.h"
#include "ui/DemoRun.h"
#include "ui/MainFrm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {
// Answers every modal question with its default (OK, the preselected action).
class TAutoAnswer {
public:
    TAutoAnswer()
    {
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            Asked << modal->windowTitle();
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                Boxes.push_back(TBox{box->windowTitle(), box->text(), box->icon()});
            TDemoRun::AnswerDefault(modal);
        });
        Timer.start(20);
    }
    QStringList Asked;
    struct TBox {
        QString Title, Text;
        QMessageBox::Icon Icon;
    };
    std::vector<TBox> Boxes;

private:
    QTimer Timer;
};
} // namespace

TEST(WindowWithSimulator, connectAcquireAndDisconnect)
{
    QTemporaryDir tmp;
    const QString pty = tmp.path() + "/tty";
    const QString coords = tmp.path() + "/coords.txt";
    {
        QFile c(coords);
        ASSERT_TRUE(c.open(QIODevice::WriteOnly));
        c.write("# Num X Y Z\r\n");
        for (int i = 1; i <= 14; ++i)
            c.write(QStringLiteral("%1 %2 0 0\r\n").arg(i).arg(5 * i).toLatin1());
        QFile q(tmp.path() + "/quads.txt");
        ASSERT_TRUE(q.open(QIODevice::WriteOnly));
        q.write("# Num A B M N\r\n");
        for (int k = 0; k < 10; ++k)
            q.write(QStringLiteral("%1 1 2 %2 %3\r\n").arg(k + 1).arg(3 + k).arg(4 + k).toLatin1());
        QDir().mkpath(tmp.path() + "/data");
        QFile ini(tmp.path() + "/data/Setup.ini");
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[Name]\r\nQuadripoleFile=%1/quads.txt\r\nCoordinateFile=%2\r\n[Parameters]\r\n"
                                 "AcquisitionFile=%1/run.bin\r\n[Communication]\r\nPort=1\r\n[Devices]\r\nCom1=%3\r\n")
                      .arg(tmp.path(), coords, pty)
                      .toLatin1());
    }
    TSimProcess sim({"--pty", pty, "--time-scale", "0", "--coordinates", coords});
    ASSERT_FALSE(sim.Where().isEmpty());
    qputenv("TARNELPRO_DATA_DIR", (tmp.path() + "/data").toLocal8Bit());

    TAutoAnswer answers;
    TMainFrm w(TShell::TOptions{false});
    w.show();
    auto *power = w.findChild<QAction *>("PowerAction");
    ASSERT_TRUE(power->isEnabled());
    // While the instrument is identified "Bat." cannot be pressed.
    auto *bat = w.findChild<QToolButton *>("BatterieBtn");
    int batUsable = 0, looks = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        ++looks;
        batUsable += bat->isEnabled();
    });
    watch.start(0);
    power->trigger();
    watch.stop();
    EXPECT_GT(looks, 0);
    EXPECT_EQ(batUsable, 0);
    EXPECT_TRUE(bat->isEnabled()) << "usable once connected";
    EXPECT_TRUE(w.findChild<QGroupBox *>("MainGB")->title().contains("SN 0042")) << w.findChild<QGroupBox *>("MainGB")->title().toStdString();
    EXPECT_TRUE(w.findChild<QLabel *>("RsOnImg")->isVisible());
    EXPECT_TRUE(w.findChild<QWidget *>("StartButtonPanel")->isVisible());
    EXPECT_FALSE(w.findChild<QLabel *>("TxBatLblx")->text().isEmpty());
    EXPECT_TRUE(answers.Asked.contains("Remote process"));

    w.findChild<QPushButton *>("NewGpsBtn")->click();
    EXPECT_TRUE(answers.Asked.contains("Start"));
    EXPECT_EQ(QFileInfo(tmp.path() + "/run.bin").size(), 1029 + 10 * 304);
    EXPECT_EQ(w.findChild<QLabel *>("QuadripoleLblx")->text(), "1 .. 10 / 10");
    EXPECT_TRUE(w.findChild<QGroupBox *>("DataGB")->isVisible());
    EXPECT_NE(w.findChild<QLabel *>("Rho1Lblx")->text(), "0");
    const QString log = w.findChild<QTextEdit *>("EditJournal")->toPlainText();
    EXPECT_TRUE(log.contains("Standard acquisition Ended")) << log.toStdString();
    EXPECT_TRUE(w.findChild<QPushButton *>("NewGpsBtn")->isEnabled());

    // For the documentation: TARNEL_SHOTS_DIR=docs keeps a picture of each page.
    const QString shots = qEnvironmentVariable("TARNEL_SHOTS_DIR");
    if (!shots.isEmpty()) {
        EXPECT_TRUE(w.GrabPages(shots));
    }

    power->trigger();
    EXPECT_TRUE(w.findChild<QLabel *>("RsOffImg")->isVisible());
    EXPECT_TRUE(w.findChild<QTextEdit *>("EditJournal")->toPlainText().contains("Disconnected"));
    qunsetenv("TARNELPRO_DATA_DIR");
}

namespace {
// A data folder whose Setup.ini names the survey files and the link.
QString WriteSetup(const QString &folder, const QString &quadripoles, const QString &coords, const QString &link)
{
    QDir().mkpath(folder + "/data");
    QFile ini(folder + "/data/Setup.ini");
    if (!ini.open(QIODevice::WriteOnly))
        return {};
    ini.write(QStringLiteral("[Name]\r\nQuadripoleFile=%1\r\nCoordinateFile=%2\r\n[Parameters]\r\n"
                             "AcquisitionFile=%3/run.bin\r\n[Communication]\r\n%4\r\n")
                  .arg(quadripoles, coords, folder, link)
                  .toLatin1());
    return folder + "/run.bin";
}

QString WriteLine(const QString &folder, int groups)
{
    QFile c(folder + "/coords.txt");
    if (!c.open(QIODevice::WriteOnly))
        return {};
    c.write("# Num X Y Z\r\n");
    for (int i = 1; i <= 14 * groups; ++i)
        c.write(QStringLiteral("%1 %2 0 0\r\n").arg(i).arg(5 * i).toLatin1());
    QFile q(folder + "/quads.txt");
    if (!q.open(QIODevice::WriteOnly))
        return {};
    q.write("# Num A B M N\r\n");
    for (int g = 0; g < groups; ++g)
        for (int k = 0; k < 10; ++k)
            q.write(QStringLiteral("%1 %2 %3 %4 %5\r\n")
                        .arg(10 * g + k + 1)
                        .arg(14 * g + 1)
                        .arg(14 * g + 2)
                        .arg(14 * g + 3 + k)
                        .arg(14 * g + 4 + k)
                        .toLatin1());
    return c.fileName();
}

// Colour of the last line of the event log pane.
QColor LastLineColor(QTextEdit *pane)
{
    const QTextBlock last = pane->document()->lastBlock();
    return last.begin() == last.end() ? QColor() : last.begin().fragment().charFormat().foreground().color();
}
} // namespace

TEST(WindowWithSimulator, aMissingQuadripoleFileIsReportedAndStartTouchesNoFile)
{
    QTemporaryDir tmp;
    const QString pty = tmp.path() + "/tty";
    const QString coords = WriteLine(tmp.path(), 1);
    const QString data = WriteSetup(tmp.path(), tmp.path() + "/moved.txt", coords,
                                    QStringLiteral("Port=1\r\n[Devices]\r\nCom1=%1").arg(pty));
    {
        QFile earlier(data);
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier run");
    }
    TSimProcess sim({"--pty", pty, "--time-scale", "0", "--coordinates", coords});
    ASSERT_FALSE(sim.Where().isEmpty());
    qputenv("TARNELPRO_DATA_DIR", (tmp.path() + "/data").toLocal8Bit());

    TAutoAnswer answers;
    TMainFrm w(TShell::TOptions{false});
    w.show();
    QApplication::processEvents();
    auto *pane = w.findChild<QTextEdit *>("EditJournal");
    EXPECT_TRUE(pane->toPlainText().contains("Quadripole file not found: " + tmp.path() + "/moved.txt"))
        << pane->toPlainText().toStdString();
    w.findChild<QAction *>("PowerAction")->trigger();
    ASSERT_TRUE(w.findChild<QWidget *>("StartButtonPanel")->isVisible());
    answers.Boxes.clear();

    w.findChild<QPushButton *>("NewGpsBtn")->click();
    ASSERT_FALSE(answers.Boxes.empty());
    const auto &box = answers.Boxes.back();
    EXPECT_EQ(box.Title, "Tarnel Pro 2");
    EXPECT_EQ(box.Icon, QMessageBox::Critical);
    EXPECT_TRUE(box.Text.contains("No quadripole")) << box.Text.toStdString();
    QFile earlier(data);
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), "earlier run");
    EXPECT_FALSE(pane->toPlainText().contains("acquisition Ended"));
    EXPECT_EQ(LastLineColor(pane), QColor(255, 0, 0));
    EXPECT_TRUE(w.findChild<QPushButton *>("NewGpsBtn")->isEnabled());
    qunsetenv("TARNELPRO_DATA_DIR");
}

TEST(WindowWithSimulator, aLinkThatDropsDuringARunIsShownAndLogged)
{
    QTemporaryDir tmp;
    const QString coords = WriteLine(tmp.path(), 3);
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0", "--coordinates", coords, "--fault", "drop-after-groups=1"});
    ASSERT_FALSE(sim.Where().isEmpty());
    const QString data = WriteSetup(tmp.path(), tmp.path() + "/quads.txt", coords,
                                    QStringLiteral("Port=100\r\nIPAddress=%1").arg(sim.TcpAddress()));
    qputenv("TARNELPRO_DATA_DIR", (tmp.path() + "/data").toLocal8Bit());

    TAutoAnswer answers;
    TMainFrm w(TShell::TOptions{false});
    w.show();
    w.findChild<QAction *>("PowerAction")->trigger();
    ASSERT_TRUE(w.findChild<QLabel *>("RsOnImg")->isVisible());
    answers.Boxes.clear();
    w.findChild<QPushButton *>("NewGpsBtn")->click();

    ASSERT_FALSE(answers.Boxes.empty());
    EXPECT_EQ(answers.Boxes.back().Icon, QMessageBox::Critical);
    EXPECT_EQ(answers.Boxes.back().Title, "Tarnel Pro 2");
    EXPECT_TRUE(answers.Boxes.back().Text.startsWith("Port err.")) << answers.Boxes.back().Text.toStdString();
    auto *pane = w.findChild<QTextEdit *>("EditJournal");
    const QString text = pane->toPlainText();
    EXPECT_TRUE(text.contains("acquisition ended at quadripoles ")) << text.toStdString();
    EXPECT_TRUE(text.contains("Link lost"));
    EXPECT_EQ(LastLineColor(pane), QColor(255, 0, 0));
    EXPECT_TRUE(w.findChild<QLabel *>("RsOffImg")->isVisible());
    EXPECT_FALSE(w.findChild<QAction *>("PowerAction")->isChecked());
    EXPECT_FALSE(w.findChild<QWidget *>("StartButtonPanel")->isVisible());
    QFile log(tmp.path() + "/run_Log.txt");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("acquisition ended at quadripoles "));
    EXPECT_EQ(QFileInfo(data).size(), 1029 + 10 * 304);
    qunsetenv("TARNELPRO_DATA_DIR");
}

namespace {
// How long the window's event loop went without turning, sampled by a 10 ms
// timer: the time a click or a key would have waited.
class TLatencyProbe {
public:
    TLatencyProbe()
    {
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            const qint64 now = Clock.nsecsElapsed() / 1000000;
            if (Last >= 0)
                Gaps.push_back(now - Last - Timer.interval());
            Last = now;
            if (OnTick)
                OnTick();
        });
        Clock.start();
        Timer.start(10);
    }
    std::function<void()> OnTick;
    std::vector<qint64> Gaps;
    qint64 Worst() const { return Gaps.empty() ? 0 : *std::max_element(Gaps.begin(), Gaps.end()); }
    qint64 Over(qint64 ms) const { return std::count_if(Gaps.begin(), Gaps.end(), [ms](qint64 g) { return g > ms; }); }

private:
    QTimer Timer;
    QElapsedTimer Clock;
    qint64 Last = -1;
};
} // namespace

// The window answers within 100 ms while it connects, while an acquisition
// exchanges with the instrument, and while it waits on an instrument that has
// gone silent; Stop ends that wait at once.
TEST(WindowWithSimulator, theWindowAnswersDuringExchangesAndWaits)
{
    QTemporaryDir tmp;
    const QString coords = WriteLine(tmp.path(), 6);
    TSimProcess sim({"--tcp", "127.0.0.1:0", "--time-scale", "0.02", "--coordinates", coords, "--fault",
                     "silent-after-groups=3"});
    ASSERT_FALSE(sim.Where().isEmpty());
    WriteSetup(tmp.path(), tmp.path() + "/quads.txt", coords, QStringLiteral("Port=100\r\nIPAddress=%1").arg(sim.TcpAddress()));
    qputenv("TARNELPRO_DATA_DIR", (tmp.path() + "/data").toLocal8Bit());

    TAutoAnswer answers;
    TMainFrm w(TShell::TOptions{false});
    w.show();
    auto *progress = w.findChild<QLabel *>("QuadripoleLblx");
    auto *stop = w.findChild<QPushButton *>("StopBtn");
    QElapsedTimer sinceChange, sinceStop;
    QString shown;
    bool stopped = false;
    TLatencyProbe probe;
    probe.OnTick = [&] {
        // Two seconds without a new group: the instrument is silent.
        if (progress->text() != shown) {
            shown = progress->text();
            sinceChange.start();
        } else if (!stopped && sinceChange.isValid() && sinceChange.elapsed() > 2000 && stop->isVisible()) {
            stopped = true;
            sinceStop.start();
            stop->click();
        }
    };
    w.findChild<QAction *>("PowerAction")->trigger();
    ASSERT_TRUE(w.findChild<QLabel *>("RsOnImg")->isVisible());
    w.findChild<QPushButton *>("NewGpsBtn")->click();
    const qint64 stopTook = sinceStop.isValid() ? sinceStop.elapsed() : -1;

    ASSERT_TRUE(stopped) << "the silent wait was reached";
    EXPECT_LT(stopTook, 1000) << "Stop ends the wait on a silent instrument";
    const QString log = w.findChild<QTextEdit *>("EditJournal")->toPlainText();
    EXPECT_TRUE(log.contains("Stopped by user")) << log.toStdString();
    // A loaded machine may stall any program now and then; a wait that does not
    // turn the event loop stalls it every time.
    std::printf("event loop: %zu samples, worst %lld ms, %lld over 100 ms\n", probe.Gaps.size(),
                static_cast<long long>(probe.Worst()), static_cast<long long>(probe.Over(100)));
    EXPECT_GT(probe.Gaps.size(), 100u);
    EXPECT_LE(probe.Over(100), qint64(probe.Gaps.size() / 100)) << "worst " << probe.Worst() << " ms";
    EXPECT_LT(probe.Worst(), 300);
    qunsetenv("TARNELPRO_DATA_DIR");
}
