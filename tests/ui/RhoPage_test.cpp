// The "Rho pseudo section" page and the "Rho display options" dialog on their
// real widgets, driven as the operator drives them, with the section logic
// behind them.
#include "support/ScriptedUi.h"
#include "graph/PseudoSection.h"
#include "graph/SectionPresenter.h"
#include "graph/SurveyBuilder.h"
#include "instrument/DataRecord.h"
#include "ui/ContourGraph.h"
#include "ui/MainFrm.h"
#include "ui/RangeFrm.h"
#include "ui/RhoPage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QMouseEvent>
#include <QTemporaryDir>

namespace {
// Wenner soundings along X at Y = 0: positions 10, 20, 30 m at two spacings,
// so plane XZ has one section and plane XY one per depth.
struct TPageFixture : ::testing::Test {
    TSurveyBuilder Survey;
    TScriptedUi Ui;
    QProgressBar ProgressBar2;
    std::unique_ptr<TRhoPage> Page;
    std::unique_ptr<TPseudoSection> Model;
    std::unique_ptr<TSectionPresenter> Presenter;

    void SetUp() override
    {
        for (float a : {2.0f, 4.0f})
            for (float x : {10.0f, 20.0f, 30.0f})
                Survey.Wenner(x, 0, a);
        Page = std::make_unique<TRhoPage>([] { return true; });
        Page->AttachProgressBar(&ProgressBar2);
        Model = std::make_unique<TPseudoSection>(*Survey.Survey);
        Presenter = std::make_unique<TSectionPresenter>(*Model, *Page->PESGraph1, *Page, Ui);
        Presenter->Locale = QLocale::c();
        Page->Attach(Presenter.get(), &Ui);
        Page->resize(900, 500);
        Page->show();
    }
    template <class T>
    T *Child(const char *name) const
    {
        return Page->findChild<T *>(QString::fromLatin1(name));
    }
    QStringList Sections() const
    {
        QStringList out;
        auto *list = Child<QListWidget>("SectionGroup");
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text() + (list->item(i)->checkState() == Qt::Checked ? "*" : "");
        return out;
    }
};
} // namespace

TEST_F(TPageFixture, designTimeControls)
{
    auto *sMin = Child<QSlider>("SMin");
    auto *sMax = Child<QSlider>("SMax");
    EXPECT_EQ(std::make_tuple(sMin->minimum(), sMin->maximum(), sMin->value()), std::make_tuple(0, 48, 0));
    EXPECT_EQ(std::make_tuple(sMax->minimum(), sMax->maximum(), sMax->value()), std::make_tuple(2, 50, 50));
    auto *tabs = Child<QTabBar>("TabPlane");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0) + tabs->tabText(1) + tabs->tabText(2), "XZYZXY");
    EXPECT_TRUE(Child<QPushButton>("BitBtnApplyColorScale")->isDefault());
    for (const char *name : {"BitBtnUnZoom", "BitBtn3", "BitBtn5", "BitBtnMaximize", "GraphRangeBtn"})
        EXPECT_NE(Child<QPushButton>(name), nullptr) << name;
    EXPECT_EQ(Page->PESGraph1->Title("XAxisLabel"), "mid point (m)");
    EXPECT_EQ(Page->PESGraph1->Title("YAxisLabel"), "report point  (m)");
}

TEST_F(TPageFixture, sectionListIsASingleChoiceAndRedrawsOnlyBeforeTheFirstBlock)
{
    Presenter->BuildPseudoSection();
    auto *tabs = Child<QTabBar>("TabPlane");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), "XZ");
    EXPECT_EQ(tabs->tabText(1), "XY");
    EXPECT_EQ(Sections(), QStringList{"Y 0*"});
    EXPECT_EQ(Model->lastSection, -1) << "the build does not draw";

    // The operator picks plane XY outside a run: its sections, the first
    // checked and drawn, north up.
    tabs->setCurrentIndex(1);
    EXPECT_EQ(Sections(), (QStringList{"Z 1.14*", "Z 2.28"}));
    EXPECT_EQ(Model->lastPlane, TPseudoSection::PlaneXY);
    EXPECT_EQ(Model->lastSection, 0);
    EXPECT_EQ(Page->PESGraph1->Title("YAxisLabel"), "Y (m)");

    // A click on the second section while no run counts blocks draws it.
    auto *list = Child<QListWidget>("SectionGroup");
    list->setCurrentRow(1);
    EXPECT_EQ(Sections(), (QStringList{"Z 1.14", "Z 2.28*"}));
    EXPECT_EQ(Model->lastPlane, TPseudoSection::PlaneXY);
    EXPECT_EQ(Model->lastSection, 1);
    EXPECT_EQ(Page->PESGraph1->Annotations.size(), 3u);

    // Once a run has counted a block the click only moves the check.
    ProgressBar2.setRange(0, 10);
    ProgressBar2.setValue(1);
    list->setCurrentRow(0);
    EXPECT_EQ(Sections(), (QStringList{"Z 1.14*", "Z 2.28"}));
    EXPECT_EQ(Model->lastSection, 1);

    // Unchecking the chosen item by its box puts the check back.
    list->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(Sections(), (QStringList{"Z 1.14*", "Z 2.28"}));
}

TEST_F(TPageFixture, aMouseClickOnANameOrACheckBoxDrawsThatSection)
{
    Presenter->BuildPseudoSection();
    Child<QTabBar>("TabPlane")->setCurrentIndex(1);
    auto *list = Child<QListWidget>("SectionGroup");
    const auto click = [&](int row, bool onBox) {
        const QRect r = list->visualItemRect(list->item(row));
        // The check box sits at the left of the row, the name to its right.
        const QPoint at = onBox ? QPoint(r.left() + r.height() / 2, r.center().y()) : QPoint(r.right() - 4, r.center().y());
        const QPointF global = list->viewport()->mapToGlobal(QPointF(at));
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent e(type, QPointF(at), global, Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &e);
        }
    };
    click(1, false);
    EXPECT_EQ(Sections(), (QStringList{"Z 1.14", "Z 2.28*"}));
    EXPECT_EQ(Model->lastSection, 1);
    click(0, false);
    EXPECT_EQ(Sections(), (QStringList{"Z 1.14*", "Z 2.28"}));
    EXPECT_EQ(Model->lastSection, 0);
    // The box of the other row: that row is drawn, not the one selected before.
    click(1, true);
    EXPECT_EQ(Sections(), (QStringList{"Z 1.14", "Z 2.28*"}));
    EXPECT_EQ(Model->lastSection, 1);
}

TEST_F(TPageFixture, applyColorScaleMovesCrossedBarsApartAndSetsTheTable)
{
    auto *sMin = Child<QSlider>("SMin");
    auto *sMax = Child<QSlider>("SMax");
    sMin->setValue(30);
    sMax->setValue(20);
    Child<QPushButton>("BitBtnApplyColorScale")->click();
    EXPECT_EQ(sMin->value(), 18);
    EXPECT_EQ(sMax->value(), 22);
    const auto table = TSectionPresenter::ColorTable(18, 22);
    for (int i = 0; i < 51; ++i)
        EXPECT_EQ(Page->PESGraph1->Colors[std::size_t(i)], table[std::size_t(i)]) << i;
}

TEST_F(TPageFixture, rangeDialogForwardsToTheColourRange)
{
    Presenter->BuildPseudoSection();
    Model->StoreRho(0, 12.3f);
    Model->StoreRho(1, 487.9f);
    TRangeFrm dialog(*Presenter, Ui, Page.get());
    EXPECT_EQ(dialog.windowTitle(), "Rho display options");
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(dialog.isModal());
    dialog.ShowModeless();
    // Full range: the running range shown, the edits locked.
    EXPECT_EQ(dialog.MinEdt->text(), "12");
    EXPECT_EQ(dialog.MaxEdt->text(), "488");
    EXPECT_FALSE(dialog.MinEdt->isEnabled());
    EXPECT_EQ(Page->PESGraph1->MinZ, 12);
    EXPECT_EQ(Page->PESGraph1->MaxZ, 488);
    EXPECT_EQ(Page->PESGraph1->ZAxisLine, 10);

    dialog.AutoScaleRb->click();
    EXPECT_TRUE(dialog.MinEdt->isEnabled());
    dialog.MinEdt->setText("0");
    dialog.MaxEdt->setText("1000");
    dialog.BitBtn1->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(Page->PESGraph1->MinZ, 0);
    EXPECT_EQ(Page->PESGraph1->MaxZ, 1000);
    EXPECT_EQ(Page->PESGraph1->ZAxisLine, 21);

    // Not a number: nothing changes, the dialog closes and says why.
    dialog.ShowModeless();
    dialog.MaxEdt->setText("lots");
    dialog.BitBtn1->click();
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_EQ(Ui.Messages.size(), 1);
    EXPECT_TRUE(Ui.Messages[0].contains("\"lots\" is not a number")) << Ui.Messages[0].toStdString();
    EXPECT_EQ(Page->PESGraph1->MaxZ, 1000);
    dialog.ShowModeless();

    dialog.AutoScaleRb->click();
    EXPECT_FALSE(dialog.MaxEdt->isEnabled());
    EXPECT_EQ(dialog.MaxEdt->text(), "488");
    EXPECT_EQ(Page->PESGraph1->MaxZ, 488);
}

TEST(MainWindowGraphs, pagesHoldTheGraphsAndAPageChangeReappliesTheColourRange)
{
    QTemporaryDir tmp;
    qputenv("TARNELPRO_DATA_DIR", (tmp.path() + "/data").toLocal8Bit());
    QDir().mkpath(tmp.path() + "/program");
    qputenv("TARNELPRO_PROGRAM_DIR", (tmp.path() + "/program").toLocal8Bit());
    {
        TMainFrm w(TShell::TOptions{false});
        auto *graph = w.findChild<TContourGraph *>("PESGraph1");
        ASSERT_NE(graph, nullptr);
        EXPECT_EQ(&w.PseudoSectionGraph(), static_cast<TGraph2D *>(graph));
        EXPECT_NE(w.findChild<QWidget *>("Pe3do1"), nullptr);
        EXPECT_EQ(w.findChild<QWidget *>("Pe3do1")->parentWidget()->objectName(), "StateTb");

        w.SectionLogic().rangeMode = TSectionPresenter::RangeManual;
        w.SectionLogic().manualMin = 5;
        w.SectionLogic().manualMax = 55;
        w.findChild<QTabWidget *>("PageControl1")->setCurrentIndex(int(TPage::Resistance));
        EXPECT_EQ(graph->MinZ, 5);
        EXPECT_EQ(graph->MaxZ, 55);
        EXPECT_EQ(graph->ZAxisLine, 2);

        w.findChild<QPushButton *>("GraphRangeBtn")->click();
        ASSERT_NE(w.RangeDialog(), nullptr);
        EXPECT_TRUE(w.RangeDialog()->isVisible());
    }
    qunsetenv("TARNELPRO_DATA_DIR");
    qunsetenv("TARNELPRO_PROGRAM_DIR");
}

TEST_F(TPageFixture, nearlyUniformValuesKeepAFivePercentColourSpanAndTheCsvReadsAsSurveyed)
{
    Presenter->BuildPseudoSection();
    EXPECT_FALSE(Page->PESGraph1->CellColor(0, 0).isValid()) << "nothing painted after a build";
    // Values 1 Ohm.m apart on a 100 Ohm.m ground.
    std::vector<TDataRecord> records(6);
    const float rho[] = {99.6f, 100.4f, 100.0f, 99.8f, 100.2f, 100.1f};
    for (std::size_t k = 0; k < records.size(); ++k)
        records[k].Rho = rho[k];
    Presenter->UpdatePseudoSection(records.data(), 0, 6);
    EXPECT_EQ(Page->PESGraph1->MinZ, 95);
    EXPECT_GE(Page->PESGraph1->MaxZ, 105);
    EXPECT_LE(Page->PESGraph1->MaxZ, 106);
    // The cells of the two values a little apart share one band or its neighbour:
    // no checkerboard from one end of the table to the other.
    const QColor low = Page->PESGraph1->CellColor(0, 0), high = Page->PESGraph1->CellColor(0, 1);
    ASSERT_TRUE(low.isValid());
    EXPECT_LT(std::abs(low.hue() - high.hue()), 60);

    QTemporaryDir dir;
    const QString path = dir.filePath("section.csv");
    ASSERT_TRUE(Page->PESGraph1->ExportTo(path, TContourGraph::TExportFormat::Csv));
    QFile csv(path);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    EXPECT_EQ(lines[0].trimmed(), "row,column,x,depth,rho");
    // Depths positive, as the survey has them (Wenner a = 2 m: 1.14 m).
    EXPECT_TRUE(lines[1].startsWith("0,0,10,1.14,99.6")) << lines[1].toStdString();
}
