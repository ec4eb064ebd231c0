// The window against the simulated instrument on a pseudo-terminal: Connect,
// Start an acquisition, see the values, disconnect, as an operator would.
#include "link/SimProcess.h"
#include "ui/MainFrm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>

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
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                QAbstractButton *b = box->button(QMessageBox::Ok);
                if (!b)
                    b = box->defaultButton();
                if (b)
                    b->click();
                else
                    box->accept();
            } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
                dialog->accept();
            }
        });
        Timer.start(20);
    }
    QStringList Asked;

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
    power->trigger();
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
