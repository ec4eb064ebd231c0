// A script run in the window against the simulated instrument: nobody is at
// the screen, so nothing waits on a box; what went wrong is in the log.
#include "link/SimProcess.h"
#include "ui/DemoRun.h"
#include "ui/MainFrm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>

namespace {
// Answers every modal window with its default and remembers its title.
class TModalWatch {
public:
    TModalWatch()
    {
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                Titles << modal->windowTitle();
                TDemoRun::AnswerDefault(modal);
            }
        });
        Timer.start(20);
    }
    QStringList Titles;

private:
    QTimer Timer;
};

QString WriteFile(const QString &path, const QString &text)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.toLatin1());
    return path;
}

// Red lines of the pane.
QStringList RedLines(QTextEdit *pane)
{
    QStringList out;
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next())
        if (b.begin() != b.end() && b.begin().fragment().charFormat().foreground().color() == QColor(255, 0, 0))
            out << b.text();
    return out;
}
} // namespace

TEST(WindowScript, aMissingQuadripoleFileIsARedLineAndTheNextEventRuns)
{
    QTemporaryDir tmp;
    const QString pty = tmp.path() + "/tty";
    QString coords = "# Num X Y Z\r\n", quads = "# Num A B M N\r\n";
    for (int i = 1; i <= 14; ++i)
        coords += QStringLiteral("%1 %2 0 0\r\n").arg(i).arg(5 * i);
    for (int k = 0; k < 10; ++k)
        quads += QStringLiteral("%1 1 2 %2 %3\r\n").arg(k + 1).arg(3 + k).arg(4 + k);
    WriteFile(tmp.path() + "/coords.txt", coords);
    WriteFile(tmp.path() + "/quads.txt", quads);
    const auto config = [&](const QString &name, const QString &quadripoles) {
        return WriteFile(tmp.path() + "/" + name + ".ini",
                         QStringLiteral("[Name]\r\nQuadripoleFile=%1\r\nCoordinateFile=%2/coords.txt\r\n[Parameters]\r\n"
                                        "AcquisitionFile=%2/%3.bin\r\n[Communication]\r\nPort=1\r\n[Devices]\r\nCom1=%4\r\n")
                             .arg(quadripoles, tmp.path(), name, pty));
    };
    QDir().mkpath(tmp.path() + "/data");
    QFile::copy(config("good", tmp.path() + "/quads.txt"), tmp.path() + "/data/Setup.ini");
    const QString moved = config("moved", tmp.path() + "/gone.txt");
    const QString good = tmp.path() + "/good.ini";
    TSimProcess sim({"--pty", pty, "--time-scale", "0", "--coordinates", tmp.path() + "/coords.txt"});
    ASSERT_FALSE(sim.Where().isEmpty());
    qputenv("TARNELPRO_DATA_DIR", (tmp.path() + "/data").toLocal8Bit());

    TModalWatch modals;
    TMainFrm w(TShell::TOptions{false});
    w.show();
    w.findChild<QAction *>("PowerAction")->trigger();
    ASSERT_TRUE(w.Controller().LinkOpen());
    w.Controller().Script.Lines = {
        QStringLiteral("1 : Start configuration %1 -<X: 2 @ %1 >-").arg(moved),
        QStringLiteral("2 : Start configuration %1 -<X: 2 @ %1 >-").arg(good),
    };
    w.ShowPage(TPage::Script);
    modals.Titles.clear();
    w.findChild<QPushButton *>("NewGpsBtn")->click();

    EXPECT_EQ(modals.Titles, QStringList{"Start"}) << "the action window only: " << modals.Titles.join(", ").toStdString();
    auto *pane = w.findChild<QTextEdit *>("EditJournal");
    const QStringList red = RedLines(pane);
    const auto has = [&](const QString &text) {
        return std::any_of(red.begin(), red.end(), [&](const QString &l) { return l.endsWith(text); });
    };
    EXPECT_TRUE(has("Quadripole file not found: " + tmp.path() + "/gone.txt")) << red.join('\n').toStdString();
    EXPECT_TRUE(has("No quadripole to measure: load a quadripole file first"));
    EXPECT_TRUE(has("Start configuration Error"));
    EXPECT_EQ(QFileInfo(tmp.path() + "/good.bin").size(), 1029 + 10 * 304);
    EXPECT_TRUE(pane->toPlainText().contains("============= Script ended at "));
    EXPECT_EQ(w.Controller().ScriptFailures, 1);
    EXPECT_TRUE(w.findChild<QPushButton *>("NewGpsBtn")->isEnabled());

    // The window asks again once the script is over.
    EXPECT_FALSE(w.Controller().Guard.Unattended);
    qunsetenv("TARNELPRO_DATA_DIR");
}

// The instrument falls silent after its first group: Stop ends the wait at
// once, the whole group stays, and the window is ready again.
TEST(WindowStop, stopDuringASilentWaitEndsTheRunAtOnce)
{
    QTemporaryDir tmp;
    const QString pty = tmp.path() + "/tty";
    QString coords = "# Num X Y Z\r\n", quads = "# Num A B M N\r\n";
    for (int i = 1; i <= 28; ++i)
        coords += QStringLiteral("%1 %2 0 0\r\n").arg(i).arg(5 * i);
    for (int g = 0; g < 2; ++g)
        for (int k = 0; k < 10; ++k)
            quads += QStringLiteral("%1 %2 %3 %4 %5\r\n").arg(10 * g + k + 1).arg(14 * g + 1).arg(14 * g + 2).arg(14 * g + 3 + k).arg(14 * g + 4 + k);
    WriteFile(tmp.path() + "/coords.txt", coords);
    WriteFile(tmp.path() + "/quads.txt", quads);
    QDir().mkpath(tmp.path() + "/data");
    WriteFile(tmp.path() + "/data/Setup.ini",
              QStringLiteral("[Name]\r\nQuadripoleFile=%1/quads.txt\r\nCoordinateFile=%1/coords.txt\r\n[Parameters]\r\n"
                             "AcquisitionFile=%1/run.bin\r\n[Communication]\r\nPort=1\r\n[Devices]\r\nCom1=%2\r\n")
                  .arg(tmp.path(), pty));
    TSimProcess sim({"--pty", pty, "--time-scale", "0", "--fault", "silent-after-groups=1"});
    ASSERT_FALSE(sim.Where().isEmpty());
    qputenv("TARNELPRO_DATA_DIR", (tmp.path() + "/data").toLocal8Bit());

    TModalWatch modals;
    TMainFrm w(TShell::TOptions{false});
    w.show();
    w.findChild<QAction *>("PowerAction")->trigger();
    ASSERT_TRUE(w.Controller().LinkOpen());
    auto *label = w.findChild<QLabel *>("QuadripoleLblx");
    QElapsedTimer clock;
    clock.start();
    qint64 firstGroup = -1, pressed = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (firstGroup < 0 && label->text() == "1 .. 10 / 20")
            firstGroup = clock.elapsed();
        // A second and a half of silence, then Stop.
        if (firstGroup >= 0 && pressed < 0 && clock.elapsed() - firstGroup > 1500) {
            pressed = clock.elapsed();
            w.findChild<QPushButton *>("StopBtn")->click();
        }
    });
    watch.start(50);
    w.findChild<QPushButton *>("NewGpsBtn")->click();
    const qint64 ended = clock.elapsed();
    watch.stop();

    ASSERT_GE(pressed, 0) << "the first group never came";
    std::printf("window: the run ended %lld ms after Stop\n", static_cast<long long>(ended - pressed));
    EXPECT_LT(ended - pressed, 5000) << "generous for a loaded machine; it takes well under a second";
    EXPECT_EQ(QFileInfo(tmp.path() + "/run.bin").size(), 1029 + 10 * 304);
    const QString log = w.findChild<QTextEdit *>("EditJournal")->toPlainText();
    EXPECT_TRUE(log.contains("Quadripoles 11 .. 20 / 20 given up")) << log.toStdString();
    EXPECT_TRUE(log.contains("Electrodes not released: the instrument does not answer"));
    EXPECT_TRUE(log.contains("Standard acquisition Ended"));
    EXPECT_TRUE(w.findChild<QPushButton *>("NewGpsBtn")->isEnabled());
    EXPECT_FALSE(w.findChild<QPushButton *>("PauseBtn")->isChecked());
    qunsetenv("TARNELPRO_DATA_DIR");
}
