// The window's Start as an operator meets it when a file lets it down: a
// configuration on a full disk, a coordinate file that is gone or unreadable.
#include "link/SimProcess.h"
#include "support/SmallFs.h"
#include "ui/DemoRun.h"
#include "ui/MainFrm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>

namespace {
// Closes every box with its default answer and keeps what the critical ones said.
class TBoxes {
public:
    TBoxes()
    {
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            if (auto *box = qobject_cast<QMessageBox *>(modal); box && box->icon() == QMessageBox::Critical)
                Errors << box->text();
            TDemoRun::AnswerDefault(modal);
        });
        Timer.start(20);
    }
    QStringList Errors;

private:
    QTimer Timer;
};

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// One group of ten chained dipoles on 14 electrodes, 5 m apart.
void WriteSurvey(const QString &folder)
{
    QByteArray coords = "# Num X Y Z\r\n";
    for (int i = 1; i <= 14; ++i)
        coords += QByteArray::number(i) + ' ' + QByteArray::number(5 * i) + ",0 0 0\r\n";
    Write(folder + "/coords.txt", coords);
    QByteArray quads = "# Num A B M N\r\n";
    for (int k = 0; k < 10; ++k)
        quads += QStringLiteral("%1 1 2 %2 %3\r\n").arg(k + 1).arg(3 + k).arg(4 + k).toLatin1();
    Write(folder + "/quads.txt", quads);
}

QByteArray SetupIni(const QString &folder, const QString &coordinateFile, const QString &pty)
{
    return QStringLiteral("[Name]\r\nQuadripoleFile=%1/quads.txt\r\nCoordinateFile=%2\r\n[Parameters]\r\n"
                          "AcquisitionFile=%1/run.bin\r\n[Communication]\r\nPort=1\r\n[Devices]\r\nCom1=%3\r\n")
        .arg(folder, coordinateFile, pty)
        .toLatin1();
}

bool HasRedLine(QTextEdit *pane, const QString &text)
{
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next())
        if (b.text().contains(text) && b.begin() != b.end() &&
            b.begin().fragment().charFormat().foreground().color() == QColor(255, 0, 0))
            return true;
    return false;
}

struct TWindowFiles : ::testing::Test {
    QTemporaryDir Tmp;
    QString Pty() const { return Tmp.path() + "/tty"; }
    void TearDown() override { qunsetenv("TARNELPRO_DATA_DIR"); }
};
} // namespace

TEST_F(TWindowFiles, startOnAFullDiskMeasuresAndSaysTheConfigurationWasNotSaved)
{
    TSmallFs fs(32 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << TSmallFs::SkipReason;
    WriteSurvey(Tmp.path());
    // The data folder (and its Setup.ini) on the full disk; the data file elsewhere.
    const QString ini = fs.File("Setup.ini");
    Write(ini, SetupIni(Tmp.path(), Tmp.path() + "/coords.txt", Pty()));
    const QByteArray before = Bytes(ini);
    fs.Fill();
    TSimProcess sim({"--pty", Pty(), "--time-scale", "0", "--coordinates", Tmp.path() + "/coords.txt"});
    ASSERT_FALSE(sim.Where().isEmpty());
    qputenv("TARNELPRO_DATA_DIR", fs.Path().toLocal8Bit());

    TBoxes boxes;
    TMainFrm w(TShell::TOptions{false});
    w.show();
    w.findChild<QAction *>("PowerAction")->trigger();
    ASSERT_TRUE(w.findChild<QLabel *>("RsOnImg")->isVisible());
    boxes.Errors.clear();
    w.findChild<QPushButton *>("NewGpsBtn")->click();

    ASSERT_EQ(boxes.Errors.size(), 1) << boxes.Errors.join('\n').toStdString();
    const QString expected = QStringLiteral("Can't save configuration \"%1\": No space left on device").arg(ini);
    EXPECT_EQ(boxes.Errors[0], expected);
    EXPECT_TRUE(HasRedLine(w.findChild<QTextEdit *>("EditJournal"), expected));
    EXPECT_EQ(Bytes(ini), before) << "the configuration keeps its bytes";
    // The measurements do not depend on the configuration being saved.
    EXPECT_EQ(QFileInfo(Tmp.path() + "/run.bin").size(), 1029 + 10 * 304);
    const QByteArray log = Bytes(Tmp.path() + "/run_Log.txt");
    EXPECT_TRUE(log.contains("Standard acquisition Ended")) << log.toStdString();
    EXPECT_TRUE(log.contains(expected.toLatin1())) << log.toStdString();
    for (const QString &name : QDir(fs.Path()).entryList(QDir::Files | QDir::Hidden))
        EXPECT_FALSE(name.startsWith('.')) << "temporary file left behind: " << name.toStdString();
}

TEST_F(TWindowFiles, startRefusesACoordinateFileItCouldNotReadAndWarnsWhenNoneIsNamed)
{
    WriteSurvey(Tmp.path());
    Write(Tmp.path() + "/bad.txt", "# Num X Y Z\r\n1 5 0 0\r\n2 ten 0 0\r\n");
    const struct {
        const char *File, *Refusal, *Why;
    } cases[] = {
        {"gone.txt", "Coordinate file not found: ", ""},
        {"bad.txt", "Coordinate file error: ", ": line 3: X \"ten\" is not a number"},
        {"", nullptr, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.File);
        const QString coords = *c.File ? Tmp.path() + '/' + c.File : QString();
        QDir().mkpath(Tmp.path() + "/data");
        Write(Tmp.path() + "/data/Setup.ini", SetupIni(Tmp.path(), coords, Pty()));
        QFile::remove(Tmp.path() + "/run.bin");
        TSimProcess sim({"--pty", Pty(), "--time-scale", "0", "--coordinates", Tmp.path() + "/coords.txt"});
        ASSERT_FALSE(sim.Where().isEmpty());
        qputenv("TARNELPRO_DATA_DIR", (Tmp.path() + "/data").toLocal8Bit());

        TBoxes boxes;
        TMainFrm w(TShell::TOptions{false});
        w.show();
        w.findChild<QAction *>("PowerAction")->trigger();
        ASSERT_TRUE(w.findChild<QLabel *>("RsOnImg")->isVisible());
        boxes.Errors.clear();
        w.findChild<QPushButton *>("NewGpsBtn")->click();
        auto *pane = w.findChild<QTextEdit *>("EditJournal");
        const QString text = pane->toPlainText();

        if (c.Refusal) {
            const QString refusal = c.Refusal + coords + c.Why + ": no acquisition without the electrode positions";
            ASSERT_FALSE(boxes.Errors.empty());
            EXPECT_EQ(boxes.Errors.back(), refusal);
            EXPECT_TRUE(HasRedLine(pane, refusal)) << text.toStdString();
            EXPECT_FALSE(QFileInfo::exists(Tmp.path() + "/run.bin")) << "nothing measured";
            EXPECT_FALSE(text.contains("Start Standard acquisition")) << text.toStdString();
            EXPECT_TRUE(w.findChild<QPushButton *>("NewGpsBtn")->isEnabled());
        } else {
            EXPECT_TRUE(boxes.Errors.empty()) << boxes.Errors.join('\n').toStdString();
            EXPECT_TRUE(text.contains("No coordinate file: Rho is Vp/In (geometric factor 1)")) << text.toStdString();
            EXPECT_EQ(QFileInfo(Tmp.path() + "/run.bin").size(), 1029 + 10 * 304);
        }
        w.findChild<QAction *>("PowerAction")->trigger();
    }
}
