#include "app/Shell.h"
#include "instrument/DataFile.h"
#include "support/SmallFs.h"
#include "ui/ExportBox.h"
#include "ui/MainFrm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <optional>

namespace {
struct TExportWindowFixture : ::testing::Test {
    QTemporaryDir Tmp;
    QString Data;
    std::unique_ptr<TMainFrm> Window;

    void SetUp() override
    {
        Data = Tmp.path() + "/data";
        QDir().mkpath(Data);
        qputenv("TARNELPRO_DATA_DIR", Data.toLocal8Bit());
        qputenv("TARNELPRO_PROGRAM_DIR", Tmp.path().toLocal8Bit());
        Window = std::make_unique<TMainFrm>(TShell::TOptions{false});
        Window->show();
    }
    void TearDown() override
    {
        Window.reset();
        qunsetenv("TARNELPRO_DATA_DIR");
        qunsetenv("TARNELPRO_PROGRAM_DIR");
    }
    // Clicks the button of the next modal box that `pick` chooses; returns the box's title.
    QString Answer(const std::function<QAbstractButton *(QMessageBox &)> &pick, const std::function<void()> &action)
    {
        QString title;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                pick(*box)->click();
            }
        });
        timer.start(20);
        action();
        return title;
    }
    bool LogHas(const QString &text, std::optional<TColor> color = std::nullopt)
    {
        for (const auto &line : Window->Controller().EventLog.Lines())
            if (line.Text.contains(text) && (!color || line.Color == *color))
                return true;
        return false;
    }
};
} // namespace

TEST_F(TExportWindowFixture, exportWritesTheChosenFormatAndReportsAFileThatIsNotData)
{
    auto *box = Window->findChild<TExportBox *>("ExportBox");
    ASSERT_NE(box, nullptr);
    const QString bin = Tmp.path() + "/line.bin";
    WriteDataFileHeader(bin, "", QDateTime::currentDateTime());
    TDataRecord r;
    r.Ten = 10;
    r.Version = 3;
    r.Coords = {0, 15, 5, 10, 0, 0, 0, 0, 0, 0, 0, 0};
    r.Vp = 20;
    r.In = 100;
    const TDataRecord records[] = {r, r};
    AppendDataRecords(bin, records);
    Window->Controller().State.AcquisitionFile = bin;

    QString proposed;
    QString answer = Tmp.path() + "/out.ohm";
    box->SaveDialog = [&](const QString &, const QString &start, const QString &, const QString &) {
        proposed = start;
        return answer;
    };
    box->ExportFormatCB->setCurrentIndex(1);
    box->ExportBtn->click();
    EXPECT_EQ(proposed, Tmp.path() + "/line.ohm");
    QFile out(answer);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_TRUE(out.readAll().startsWith("4 # electrodes, positions in m\n# x y z\n0.0 0.0 0.0\n"));
    EXPECT_TRUE(LogHas("Exported 2 records to " + answer));

    // The data file itself is never an export's target.
    answer = bin;
    const QString refused = Answer([](QMessageBox &b) { return b.buttons().first(); }, [&] { box->ExportBtn->click(); });
    EXPECT_EQ(refused, "Export");
    EXPECT_TRUE(LogHas("data file being exported", LogColor::Red));
    QFile kept(bin);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.size(), 1029 + 2 * 304);

    answer.clear(); // cancelled: nothing happens
    box->ExportBtn->click();

    Window->Controller().State.AcquisitionFile = Tmp.path() + "/notes.txt";
    QFile notes(Window->Controller().State.AcquisitionFile);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("not data");
    notes.close();
    answer = Tmp.path() + "/notes.csv";
    const QString title = Answer([](QMessageBox &b) { return b.buttons().first(); }, [&] { box->ExportBtn->click(); });
    EXPECT_EQ(title, "Export");
    EXPECT_TRUE(LogHas("Export failed: "));
    EXPECT_FALSE(QFile::exists(answer));
}

TEST_F(TExportWindowFixture, reverseNumbersTheLineFromItsOtherEndAndTheSurveyNamesTheElectrodes)
{
    auto *box = Window->findChild<TExportBox *>("ExportBox");
    ASSERT_NE(box, nullptr);
    const QString bin = Tmp.path() + "/line.bin";
    WriteDataFileHeader(bin, "", QDateTime::currentDateTime());
    TDataRecord r;
    r.Ten = 10;
    r.Version = 3;
    r.Coords = {0, 15, 5, 10, 0, 0, 0, 0, 0, 0, 0, 0};
    r.Vp = 20;
    r.In = 100;
    r.Rho = 25;
    const TDataRecord records[] = {r};
    AppendDataRecords(bin, records);
    Window->Controller().State.AcquisitionFile = bin;
    const QString out = Tmp.path() + "/line_protocol.dat", list = Tmp.path() + "/line_electrodes.csv";
    box->SaveDialog = [&](const QString &, const QString &, const QString &, const QString &) { return out; };
    box->ExportFormatCB->setCurrentIndex(2);
    const auto firstRow = [&list] {
        QFile f(list);
        return f.open(QIODevice::ReadOnly) ? f.readAll().split('\n').value(1) : QByteArray();
    };
    const auto run = [&] {
        // Replacing the electrode list is asked about: yes.
        Answer(
            [](QMessageBox &b) {
                for (const auto button : {QMessageBox::Yes, QMessageBox::Ok})
                    if (b.button(button))
                        return static_cast<QAbstractButton *>(b.button(button));
                return b.buttons().first();
            },
            [&] { box->ExportBtn->click(); });
    };
    run();
    EXPECT_EQ(firstRow(), "1,0.0,0.0,0.0,0,0.0,");
    EXPECT_TRUE(LogHas("nearest the first measured quadripole"));
    box->ExportReverseCb->setChecked(true);
    run();
    EXPECT_EQ(firstRow(), "1,15.0,0.0,0.0,0,0.0,");

    // A loaded survey numbers the electrodes, 1 at x = 15 here.
    const QString coords = Tmp.path() + "/coords.txt";
    QFile c(coords);
    ASSERT_TRUE(c.open(QIODevice::WriteOnly));
    c.write("# Num X Y Z\r\n4 0 0 0\r\n3 5 0 0\r\n2 10 0 0\r\n1 15 0 0\r\n");
    c.close();
    ASSERT_EQ(Window->Controller().OpenCoordinateFile(coords), 4);
    box->ExportReverseCb->setChecked(false);
    run();
    EXPECT_EQ(firstRow(), "1,15.0,0.0,0.0,0,0.0,1");
    EXPECT_TRUE(LogHas("field numbers of coords.txt"));
}

TEST_F(TExportWindowFixture, exportOnAFullDiskShowsWhyAndKeepsThePreviousFile)
{
    TSmallFs fs(256 * 1024);
    if (!fs.Mounted())
        GTEST_SKIP() << TSmallFs::SkipReason;
    auto *box = Window->findChild<TExportBox *>("ExportBox");
    ASSERT_NE(box, nullptr);
    const QString bin = fs.File("line.bin");
    WriteDataFileHeader(bin, "", QDateTime::currentDateTime());
    TDataRecord r;
    r.Ten = 10;
    r.Version = 3;
    r.Coords = {0, 15, 5, 10, 0, 0, 0, 0, 0, 0, 0, 0};
    r.Vp = 20;
    r.In = 100;
    r.Rho = 25;
    const TDataRecord records[] = {r, r};
    AppendDataRecords(bin, records);
    Window->Controller().State.AcquisitionFile = bin;
    const QString earlier = fs.File("line.csv");
    {
        QFile f(earlier);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("an earlier export\n");
    }
    fs.Fill();
    box->SaveDialog = [&](const QString &, const QString &, const QString &, const QString &) { return earlier; };
    box->ExportFormatCB->setCurrentIndex(0);
    const QString title = Answer([](QMessageBox &b) { return b.buttons().first(); }, [&] { box->ExportBtn->click(); });
    EXPECT_EQ(title, "Export");
    EXPECT_TRUE(LogHas("No space left on device", LogColor::Red));
    QFile f(earlier);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "an earlier export\n");
}

TEST_F(TExportWindowFixture, existingFileQuestionOffersResume)
{
    const struct {
        const char *button;
        TMainView::TExistingFile answer;
    } cases[] = {
        {"ResumeBtn", TMainView::TExistingFile::Resume},
        {"yes", TMainView::TExistingFile::Overwrite},
        {"no", TMainView::TExistingFile::ChooseOther},
    };
    for (const auto &c : cases) {
        TMainView::TExistingFile got{};
        const QString title = Answer(
            [&](QMessageBox &b) -> QAbstractButton * {
                if (QByteArray(c.button) == "yes")
                    return b.button(QMessageBox::Yes);
                if (QByteArray(c.button) == "no")
                    return b.button(QMessageBox::No);
                return b.findChild<QPushButton *>(c.button);
            },
            [&] { got = Window->AskExistingFile("/x/run.bin"); });
        EXPECT_EQ(title, "File exist");
        EXPECT_EQ(got, c.answer) << c.button;
    }
}
