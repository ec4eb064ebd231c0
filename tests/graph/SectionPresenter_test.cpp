// The pseudo-section page's logic on the in-memory graph and plain controls.
#include "graph/SectionPresenter.h"

#include "graph/FakeSectionControls.h"
#include "graph/MemoryGraph.h"
#include "graph/SurveyBuilder.h"
#include "instrument/DataRecord.h"
#include "support/ScriptedUi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

struct TPage {
    TSurveyBuilder Builder;
    TPseudoSection Model{*Builder.Survey};
    TMemoryGraph2D Graph;
    TFakeSectionControls Controls;
    TScriptedUi Ui;
    TSectionPresenter Presenter{Model, Graph, Controls, Ui};

    TPage() { Presenter.Locale = QLocale::c(); }

    std::vector<TDataRecord> Records(std::initializer_list<float> rho)
    {
        std::vector<TDataRecord> r(rho.size());
        std::size_t k = 0;
        for (float v : rho)
            r[k++].Rho = v;
        return r;
    }
    void Measure(int first, std::initializer_list<float> rho)
    {
        const auto r = Records(rho);
        Presenter.UpdatePseudoSection(r.data(), first, int(r.size()));
    }
    bool Drawn() const { return Model.lastPlane >= 0; }
};

// Two lines along X (Y = 0 and Y = 4) of Wenner quadripoles, one line along Y.
void ThreePlanes(TSurveyBuilder &b)
{
    for (float x : {0.0f, 1.0f, 2.0f})
        b.Wenner(x, 0, 1);
    b.Wenner(1.5f, 0, 2);
    for (float x : {0.0f, 1.0f})
        b.Wenner(x, 4, 1);
    b.Wenner(7, 1, 1, false);
}

} // namespace

TEST(SectionPresenterBuild, tabsInOrderXZYZXYFirstSectionCheckedNothingDrawn)
{
    TPage p;
    ThreePlanes(p.Builder);
    p.Controls.Position = 5; // a bar left at its maximum must not make the build draw
    p.Controls.Maximum = 5;
    EXPECT_TRUE(p.Presenter.BuildPseudoSection());

    EXPECT_EQ(p.Controls.Tabs, (QStringList{"XZ", "YZ", "XY"}));
    EXPECT_EQ(p.Controls.Tab, 0);
    EXPECT_EQ(p.Controls.Sections, (QStringList{"Y 0", "Y 4"}));
    EXPECT_EQ(p.Controls.Section, 0);
    EXPECT_EQ(p.Controls.CheckedCount(), 1);
    EXPECT_TRUE(p.Controls.Checked[0]);
    EXPECT_EQ(p.Controls.Position, 0);
    EXPECT_EQ(p.Controls.Maximum, 1);
    EXPECT_FALSE(p.Ui.Busy) << "hourglass restored";

    EXPECT_FALSE(p.Drawn());
    EXPECT_EQ(p.Graph.Subsets(), 1);
    EXPECT_EQ(p.Graph.Points(), 1);
    EXPECT_TRUE(p.Graph.Annotations.empty());
    // Configuration: axes from plane XZ (0..2 m, depths 0.57..1.14 m negated), Z 10..500 step 10.
    EXPECT_DOUBLE_EQ(p.Graph.MaxX, 2.0 + 0.01);
    EXPECT_DOUBLE_EQ(p.Graph.MinX, -0.01);
    EXPECT_NEAR(p.Graph.MaxY, -(0.57 - 0.0057), 1e-6);
    EXPECT_NEAR(p.Graph.MinY, -(1.14 + 0.0057), 1e-6);
    EXPECT_EQ(p.Graph.MinZ, 10);
    EXPECT_EQ(p.Graph.MaxZ, 500);
    EXPECT_EQ(p.Graph.ZAxisLine, 10);
    EXPECT_EQ(p.Graph.NullX, double(-9e30f));
    EXPECT_TRUE(p.Graph.Inverted);
    EXPECT_EQ(p.Graph.Title("XAxisLabel"), "mid point (m)");
    EXPECT_EQ(p.Graph.Title("YAxisLabel"), "report point  (m)");
    EXPECT_EQ(p.Graph.Colors[50], PEargb(255, 255, 0, 0));
    EXPECT_EQ(p.Graph.Actions.back(), TGraph2DAction::sgReinitAndReset);
}

TEST(SectionPresenterBuild, captionsInMetresWithAtMostTwoDecimals)
{
    TPage p;
    // The position rounded to the centimetre, not its key (biased toward
    // zero for negative positions: -5 m has key -499).
    p.Builder.Wenner(0, -5, 1);
    p.Builder.Wenner(0, -1.234f, 1);
    p.Builder.Wenner(0, -0.001f, 1);
    p.Builder.Wenner(0, 2.5f, 1);
    p.Builder.Wenner(0, 1200, 1);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    EXPECT_EQ(p.Controls.Sections, (QStringList{"Y -5", "Y -1.23", "Y 0", "Y 2.5", "Y 1200"}));

    p.Presenter.Locale = QLocale(QLocale::German);
    p.Presenter.FillSectionList(TPseudoSection::PlaneXZ);
    EXPECT_EQ(p.Controls.Sections, (QStringList{"Y -5", "Y -1,23", "Y 0", "Y 2,5", "Y 1200"}));
    p.Controls.Tab = 1; // "XY"
    p.Presenter.TabPlaneChange();
    EXPECT_EQ(p.Controls.Sections, QStringList{"Z 0,57"});
}

TEST(SectionPresenterBuild, noSectionStopsAtThePlaneSelectorAndUpdatesDoNothing)
{
    TPage p;
    p.Builder.Wenner(0, 0, 1, true, -1);
    p.Controls.Tabs = {"XZ"};
    p.Controls.Tab = 0;
    EXPECT_FALSE(p.Presenter.BuildPseudoSection());
    EXPECT_TRUE(p.Controls.Tabs.isEmpty());
    EXPECT_EQ(p.Controls.Tab, -1);
    EXPECT_TRUE(p.Controls.Sections.isEmpty());
    EXPECT_FALSE(p.Ui.Busy);
    EXPECT_EQ(p.Graph.ZAxisLine, 0) << "the graph is not configured";

    const int yields = p.Ui.Yields;
    p.Measure(0, {100.0f});
    EXPECT_FALSE(p.Drawn());
    EXPECT_EQ(p.Graph.Points(), 1);
    EXPECT_EQ(p.Ui.Yields, yields + 1) << "pending events still run";
}

TEST(SectionPresenterDraw, firstUpdateDrawsTheSectionLaterOnesOnlyAddValues)
{
    TPage p;
    ThreePlanes(p.Builder);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    p.Controls.Position = 0;
    p.Controls.Maximum = 7;

    p.Measure(0, {50.0f, 70.0f});
    ASSERT_TRUE(p.Drawn());
    EXPECT_EQ(p.Model.lastPlane, TPseudoSection::PlaneXZ);
    EXPECT_EQ(p.Model.lastSection, 0);
    // Line Y = 0: row 0 positions 0, 1, 2 m; row 1 position 1.5 m; columns 0, 1, 1.5, 2.
    EXPECT_EQ(p.Graph.Subsets(), 2);
    EXPECT_EQ(p.Graph.Points(), 4);
    ASSERT_EQ(p.Graph.Annotations.size(), 4u) << "one marker per quadripole of the section";
    EXPECT_EQ(p.Graph.Annotations[3].X, 1.5);
    EXPECT_NEAR(p.Graph.Annotations[3].Y, -1.14, 1e-6);
    EXPECT_EQ(p.Graph.Annotations[3].Type, 1);
    EXPECT_EQ(p.Graph.Annotations[3].Color, PEargb(255, 0, 0, 0));
    EXPECT_EQ(p.Graph.ZData(0, 0), 50.0f);
    EXPECT_EQ(p.Graph.ZData(0, 1), 70.0f);
    EXPECT_EQ(p.Graph.ZData(0, 2), 70.0f) << "position 1 m stretches to the midpoint 1.5 m";
    EXPECT_EQ(p.Graph.ZData(0, 3), TPseudoSection::NoValue);
    EXPECT_EQ(p.Graph.XData(0, 2), 1.0f);
    EXPECT_NEAR(p.Graph.YData(1, 0), -1.14f, 1e-6);

    // The next block writes its cells only: a cell changed by hand stays.
    p.Graph.XData(1, 0, 123.0f);
    p.Measure(2, {90.0f, 40.0f});
    EXPECT_EQ(p.Graph.XData(1, 0), 123.0f);
    EXPECT_EQ(p.Graph.ZData(0, 3), 90.0f);
    EXPECT_EQ(p.Graph.ZData(1, 2), 40.0f);
    EXPECT_EQ(p.Model.rhoMin, 40.0f);
    EXPECT_EQ(p.Model.rhoMax, 90.0f);

    // A value outside the drawn section widens the range but changes no cell.
    p.Measure(4, {900.0f});
    EXPECT_EQ(p.Model.rhoMax, 900.0f);
    EXPECT_EQ(p.Model.rhoValues[4], 900.0f);
    for (int s = 0; s < 2; ++s)
        for (int c = 0; c < 4; ++c)
            EXPECT_NE(p.Graph.ZData(s, c), 900.0f);
    // The colour range follows the values while the page is shown...
    EXPECT_EQ(p.Graph.MinZ, 40);
    EXPECT_EQ(p.Graph.MaxZ, 900);
    // ...and waits for a page change otherwise.
    p.Controls.RhoPage = false;
    p.Measure(5, {1.5f});
    EXPECT_EQ(p.Graph.MinZ, 40);
    p.Presenter.PageControl1Change();
    EXPECT_EQ(p.Graph.MinZ, 1);
}

TEST(SectionPresenterDraw, singleRowSectionIsDrawnAsTwoIdenticalRows)
{
    TPage p;
    for (float x : {0.0f, 1.0f, 2.0f})
        p.Builder.Wenner(x, 0, 1);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    p.Controls.Position = 0;
    p.Measure(0, {10.0f});
    p.Measure(1, {20.0f, 30.0f});
    ASSERT_EQ(p.Graph.Subsets(), 2);
    ASSERT_EQ(p.Graph.Points(), 3);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(p.Graph.XData(1, c), p.Graph.XData(0, c));
        EXPECT_EQ(p.Graph.YData(1, c), p.Graph.YData(0, c));
        EXPECT_EQ(p.Graph.ZData(1, c), p.Graph.ZData(0, c));
        EXPECT_EQ(p.Graph.ZData(0, c), 10.0f * float(c + 1));
    }
}

TEST(SectionPresenterDraw, hideFlaggedLeavesFlaggedRecordsOutAndBringsThemBack)
{
    TPage p;
    for (float x : {0.0f, 1.0f, 2.0f})
        p.Builder.Wenner(x, 0, 1);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    p.Controls.Hide = true;
    p.Presenter.SetQualityFlags(1, 1);
    p.Measure(0, {10.0f, 20.0f});
    EXPECT_EQ(p.Graph.ZData(0, 0), 10.0f);
    EXPECT_EQ(p.Graph.ZData(0, 1), TPseudoSection::NoValue) << "flagged before it was drawn";
    // A reciprocal flags an earlier record: it goes at the next update.
    p.Presenter.SetQualityFlags(0, 16);
    p.Measure(2, {30.0f});
    EXPECT_EQ(p.Graph.ZData(0, 0), TPseudoSection::NoValue);
    EXPECT_EQ(p.Graph.ZData(0, 2), 30.0f);
    p.Controls.Hide = false;
    p.Presenter.HideFlaggedClick();
    EXPECT_EQ(p.Graph.ZData(0, 0), 10.0f);
    EXPECT_EQ(p.Graph.ZData(0, 1), 20.0f);
    EXPECT_EQ(p.Model.rhoValues[1], 20.0f) << "the value is kept";
}

TEST(SectionPresenterDraw, recordsOfQuadripolesApartAreSkippedButKeepTheirPlace)
{
    TPage p;
    p.Builder.Wenner(0, 0, 1);
    p.Builder.Wenner(1, 0, 1, true, -1);
    p.Builder.Wenner(2, 0, 1);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    p.Measure(0, {10.0f, -5.0f, 30.0f});
    EXPECT_EQ(p.Model.rhoValues[2], 30.0f) << "record k belongs to quadripole first + k";
    EXPECT_EQ(p.Model.rhoMin, 10.0f);
    EXPECT_EQ(p.Graph.Annotations.size(), 2u);
}

TEST(SectionPresenterGuards, drawsFromTheListOnlyAgainstTheRunsProgressBar)
{
    TPage p;
    ThreePlanes(p.Builder);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());

    // A run is under way (bar between 0 and its maximum): a plane change does not draw.
    p.Controls.Position = 3;
    p.Controls.Maximum = 7;
    p.Controls.Tab = 1; // "YZ"
    p.Presenter.TabPlaneChange();
    EXPECT_EQ(p.Controls.Sections, QStringList{"X 7"});
    EXPECT_FALSE(p.Drawn());
    // A section click after the first block only moves the check mark.
    p.Presenter.SectionGroupClick();
    EXPECT_TRUE(p.Controls.Checked[0]);
    EXPECT_FALSE(p.Drawn());
    // The next block draws the newly chosen section.
    p.Measure(6, {80.0f});
    EXPECT_EQ(p.Model.lastPlane, TPseudoSection::PlaneYZ);
    EXPECT_EQ(p.Graph.ZData(0, 0), 80.0f);

    // Bar at its maximum (the last block counted): a plane change draws.
    p.Controls.Position = 7;
    p.Controls.Tab = 0; // "XZ"
    p.Presenter.TabPlaneChange();
    EXPECT_EQ(p.Model.lastPlane, TPseudoSection::PlaneXZ);
    EXPECT_EQ(p.Model.lastSection, 0);

    // Bar at 0 (no run): a click on another section draws it at once, as a single choice.
    p.Controls.Position = 0;
    p.Controls.Section = 1;
    p.Presenter.SectionGroupClick();
    EXPECT_EQ(p.Controls.Checked, (std::vector<bool>{false, true}));
    EXPECT_EQ(p.Model.lastSection, 1);
    EXPECT_EQ(p.Graph.Annotations.size(), 2u);
    EXPECT_FALSE(p.Ui.Busy);

    // A click that leaves nothing selected unchecks everything and draws nothing.
    p.Controls.Section = -1;
    p.Presenter.SectionGroupClick();
    EXPECT_EQ(p.Controls.CheckedCount(), 0);
}

TEST(ColorScale, tableRowsForTheTrackBarPositions)
{
    const auto t = TSectionPresenter::ColorTable(0, 50);
    const struct {
        int Index;
        int R, G, B;
    } rows[] = {
        {0, 0, 0, 255},    {11, 0, 233, 255},  {12, 0, 255, 255}, {23, 0, 255, 22},  {24, 0, 255, 0},
        {35, 233, 255, 0}, {36, 255, 255, 0},  {49, 255, 19, 0},  {50, 255, 0, 0},
    };
    for (const auto &r : rows)
        EXPECT_EQ(t[std::size_t(r.Index)], PEargb(255, std::uint8_t(r.R), std::uint8_t(r.G), std::uint8_t(r.B)))
            << "entry " << r.Index;

    // a = 18, e = 22, q = 1: dark blue below a, dark red from e.
    const auto n = TSectionPresenter::ColorTable(18, 22);
    EXPECT_EQ(n[0], PEargb(255, 0, 0, 55));
    EXPECT_EQ(n[17], PEargb(255, 0, 0, 55 + 150 * 17 / 18));
    EXPECT_EQ(n[18], PEargb(255, 0, 0, 255));
    EXPECT_EQ(n[19], PEargb(255, 0, 255, 255));
    EXPECT_EQ(n[20], PEargb(255, 0, 255, 0));
    EXPECT_EQ(n[21], PEargb(255, 255, 255, 0));
    EXPECT_EQ(n[22], PEargb(255, 255, 0, 0));
    EXPECT_EQ(n[50], PEargb(255, 255 - 150 * 28 / 29, 0, 0));
}

TEST(ColorScale, barsMovedApartWhenMaximumIsNotAboveMinimum)
{
    const struct {
        int SMin, SMax, NewMin, NewMax;
    } cases[] = {{30, 20, 18, 22}, {48, 48, 46, 50}, {10, 2, 0, 4}, {0, 50, 0, 50}};
    for (const auto &c : cases) {
        TPage p;
        p.Controls.SMin = c.SMin;
        p.Controls.SMax = c.SMax;
        p.Presenter.BitBtnApplyColorScaleClick();
        EXPECT_EQ(p.Controls.SMin, c.NewMin);
        EXPECT_EQ(p.Controls.SMax, c.NewMax);
        const auto expected = TSectionPresenter::ColorTable(c.NewMin, c.NewMax);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), p.Graph.Colors.begin()));
        EXPECT_EQ(p.Graph.Actions, std::vector{TGraph2DAction::sgReinitAndReset});
        EXPECT_EQ(p.Graph.ZAxisLine, 0) << "the range is not recomputed";
    }
}

TEST(ColorRange, zRangeAndContourStep)
{
    const struct {
        const char *Name;
        float Lo, Hi, Min, Max, Step;
    } cases[] = {
        {"measured 12.3..487.9", 12.3f, 487.9f, 12, 488, 10},
        {"manual 0..1000", 0, 1000, 0, 1000, 21},
        {"start-up 10..500", 10, 500, 10, 500, 10},
        {"equal bounds", 5, 5, 5, 5, 1},
        {"nothing stored yet", 9e30f, -9e30f, 9e30f, -9e30f, 2},
    };
    for (const auto &c : cases) {
        const auto s = TSectionPresenter::ScaleFor(std::floor(c.Lo), std::ceil(c.Hi));
        EXPECT_EQ(s.Min, c.Min) << c.Name;
        EXPECT_EQ(s.Max, c.Max) << c.Name;
        EXPECT_EQ(s.Step, c.Step) << c.Name;
    }

    TPage p;
    p.Builder.Wenner(0, 0, 1);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    p.Presenter.ApplyColorRange();
    EXPECT_EQ(p.Graph.ZAxisLine, 2) << "inverted range right after a build";
    EXPECT_EQ(p.Graph.ScaleZ, TScaleControl::sgManualMinAndMax);
    p.Model.StoreRho(0, 12.3f);
    p.Model.StoreRho(0, 487.9f);
    p.Presenter.ApplyColorRange();
    EXPECT_EQ(p.Graph.MinZ, 12);
    EXPECT_EQ(p.Graph.MaxZ, 488);
    EXPECT_EQ(p.Graph.ZAxisLine, 10);
}

TEST(RangeDialog, fullRangeFollowsTheValuesManualRangeHoldsUntilFullRangeAgain)
{
    TPage p;
    p.Builder.Wenner(0, 0, 1);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    p.Model.StoreRho(0, 12.3f);
    p.Model.StoreRho(0, 487.9f);

    TSectionPresenter::TRangeDialog dialog;
    p.Presenter.FormShow(dialog);
    EXPECT_EQ(dialog.MinText, "12");
    EXPECT_EQ(dialog.MaxText, "488");
    EXPECT_FALSE(dialog.RangeEnabled);
    EXPECT_EQ(p.Presenter.rangeMode, 0);
    EXPECT_EQ(p.Graph.MaxZ, 488);

    dialog.FullRange = false;
    p.Presenter.AutoScaleRbClick(dialog);
    EXPECT_TRUE(dialog.RangeEnabled);
    dialog.MinText = "0";
    dialog.MaxText = "1000";
    EXPECT_TRUE(p.Presenter.BitBtn1Click(dialog));
    EXPECT_EQ(p.Presenter.rangeMode, 2);
    EXPECT_EQ(p.Graph.MaxZ, 1000);
    EXPECT_EQ(p.Graph.ZAxisLine, 21);

    // Ignored: a maximum below the minimum, or a text that is no number (the
    // dialog says so; it closes in both cases).
    const struct {
        const char *Min, *Max;
        bool Closes;
    } ignored[] = {{"500", "100", true}, {"abc", "100", false}, {"1e39", "2e39", false}, {"1,5", "20", false}};
    for (const auto &c : ignored) {
        dialog.MinText = c.Min;
        dialog.MaxText = c.Max;
        EXPECT_EQ(p.Presenter.ApplyRange(dialog), c.Closes) << c.Min;
        EXPECT_EQ(p.Presenter.RangeProblem(dialog).isEmpty(), c.Closes) << c.Min;
        EXPECT_TRUE(p.Presenter.BitBtn1Click(dialog));
        EXPECT_EQ(p.Presenter.manualMin, 0.0f);
        EXPECT_EQ(p.Presenter.manualMax, 1000.0f);
    }

    // The manual range survives a new build and new values.
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    p.Model.StoreRho(0, 3000.0f);
    p.Presenter.ApplyColorRange();
    EXPECT_EQ(p.Graph.MaxZ, 1000);

    // Decimal separator of the locale.
    p.Presenter.Locale = QLocale(QLocale::German);
    dialog.MinText = "0,5";
    dialog.MaxText = "99,5";
    EXPECT_TRUE(p.Presenter.ApplyRange(dialog));
    EXPECT_EQ(p.Presenter.manualMin, 0.5f);

    dialog.FullRange = true;
    p.Presenter.AutoScaleRbClick(dialog);
    EXPECT_EQ(p.Presenter.rangeMode, 0);
    // A single value: the range spans 5 % of it each side.
    EXPECT_EQ(dialog.MinText, "2850");
    EXPECT_EQ(p.Graph.MaxZ, 3150);
}

TEST(SectionPresenterButtons, graphActions)
{
    TPage p;
    p.Presenter.BitBtnUnZoomClick();
    p.Presenter.ExportSection();
    p.Presenter.BitBtnMaximizeClick();
    EXPECT_EQ(p.Graph.Actions, (std::vector{TGraph2DAction::sgUndoZoom, TGraph2DAction::sgExportDialog,
                                            TGraph2DAction::sgMaximize}));
}

TEST(SectionPresenterFieldTrial, nothingIsPaintedAfterABuildUntilASectionIsDrawn)
{
    TPage p;
    ThreePlanes(p.Builder);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    p.Controls.Position = 0;
    p.Presenter.SectionGroupClick();
    p.Measure(0, {100.0f, 120.0f});
    ASSERT_EQ(p.Graph.ZData(0, 0), 100.0f);

    // The next Start builds again (and may be cancelled): the 1 x 1 grid left
    // holds no position and no value, so no cell is painted.
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    EXPECT_EQ(p.Graph.Subsets() * p.Graph.Points(), 1);
    EXPECT_EQ(p.Graph.XData(0, 0), TPseudoSection::NoValue);
    EXPECT_EQ(p.Graph.YData(0, 0), TPseudoSection::NoValue);
    EXPECT_EQ(p.Graph.ZData(0, 0), TPseudoSection::NoValue);
}

TEST(SectionPresenterFieldTrial, aMeasuredCellIsNeverBlankedByAnUnmeasuredQuadripoleSharingIt)
{
    TPage p;
    // Quadripoles 0 and 1 sit at the same place (as dipole-dipole rows of
    // different spacings can); the run stops after the first.
    p.Builder.Wenner(0, 0, 1);
    p.Builder.Wenner(0, 0, 1);
    p.Builder.Wenner(1, 0, 1);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    p.Measure(0, {150.0f});
    ASSERT_EQ(p.Graph.ZData(0, 0), 150.0f);
    // After Stop the section is drawn again (another section and back).
    p.Controls.Position = 0;
    p.Model.lastSection = -1;
    p.Presenter.SectionGroupClick();
    EXPECT_EQ(p.Graph.ZData(0, 0), 150.0f);
    EXPECT_EQ(p.Graph.ZData(0, 1), TPseudoSection::NoValue);
    // Measured later, the sharing quadripole's value wins.
    p.Measure(1, {90.0f});
    EXPECT_EQ(p.Graph.ZData(0, 0), 90.0f);
}

TEST(SectionPresenterFieldTrial, planeTabChangedAfterARunDrawsThePlaneAndTheMapIsNorthUp)
{
    TPage p;
    ThreePlanes(p.Builder);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    p.Controls.Maximum = 7;
    p.Controls.Position = 7;
    p.Measure(0, {100, 110, 120, 130, 140, 150, 160});
    p.Controls.Position = 0; // the run has ended
    p.Controls.Tab = 2;      // "XY"
    p.Presenter.TabPlaneChange();
    EXPECT_EQ(p.Model.lastPlane, TPseudoSection::PlaneXY);
    EXPECT_EQ(p.Graph.Title("YAxisLabel"), "Y (m)");
    EXPECT_TRUE(p.Graph.Setting("YAxisUp").toBool());
    EXPECT_EQ(p.Graph.Setting("Caption").toString(), "Rho pseudo section, XY plane, Z 0.57");
    EXPECT_EQ(p.Graph.Setting("CsvColumns").toString(), "x,y");

    p.Controls.Tab = 0; // "XZ"
    p.Presenter.TabPlaneChange();
    EXPECT_EQ(p.Model.lastPlane, TPseudoSection::PlaneXZ);
    EXPECT_EQ(p.Graph.Title("YAxisLabel"), "report point  (m)");
    EXPECT_FALSE(p.Graph.Setting("YAxisUp").toBool());
    EXPECT_EQ(p.Graph.Setting("CsvColumns").toString(), "x,depth");
}

TEST(ColorRange, runningRangeSpansAtLeastFivePercentOfTheMeanEachSide)
{
    const struct {
        float Lo, Hi, Min, Max;
    } cases[] = {
        {99, 101, 95, 105},       // noise around 100 Ohm.m
        {100, 100, 95, 105},      // a single value
        {12.3f, 487.9f, 12, 488}, // a real spread is kept
        {-101, -99, -105, -95},
        {0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        const auto s = TSectionPresenter::RunningScale(c.Lo, c.Hi);
        EXPECT_EQ(s.Min, c.Min) << c.Lo << ".." << c.Hi;
        EXPECT_EQ(s.Max, c.Max) << c.Lo << ".." << c.Hi;
    }

    TPage p;
    p.Builder.Wenner(0, 0, 1);
    ASSERT_TRUE(p.Presenter.BuildPseudoSection());
    // Right after a build the dialog shows no "9e+30".
    TSectionPresenter::TRangeDialog dialog;
    p.Presenter.FormShow(dialog);
    EXPECT_EQ(dialog.MinText, "0");
    EXPECT_EQ(dialog.MaxText, "1000");
    p.Model.StoreRho(0, 99.0f);
    p.Model.StoreRho(0, 101.0f);
    p.Presenter.ApplyColorRange();
    EXPECT_EQ(p.Graph.MinZ, 95);
    EXPECT_EQ(p.Graph.MaxZ, 105);
    // A manual range is the operator's, however narrow.
    dialog.FullRange = false;
    dialog.MinText = "99";
    dialog.MaxText = "101";
    EXPECT_TRUE(p.Presenter.ApplyRange(dialog));
    EXPECT_EQ(p.Graph.MinZ, 99);
    EXPECT_EQ(p.Graph.MaxZ, 101);
}
