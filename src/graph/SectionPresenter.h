#pragma once
// The "Rho pseudo section" page's logic: the build with its plane selector
// and graph configuration, the section list, drawing a section and the
// values of each measured group, the buttons, the colour range and the colour
// table, and the range dialog "Rho display options". It reaches the page only
// through TSectionControls and the graph only through TGraph2D, so it runs the
// same in the window, on the command line and in tests.
#include "graph/GraphIntf.h"
#include "graph/PseudoSection.h"

#include <QLocale>
#include <QString>

#include <array>
#include <cmath>

class TSectionControls;
class TUserInterface;
struct TDataRecord;

class TSectionPresenter {
public:
    static constexpr int ColorCount = 51;
    using TColorTable = std::array<TGraphColor, ColorCount>;

    TSectionPresenter(TPseudoSection &model, TGraph2D &graph, TSectionControls &controls, TUserInterface &ui);

    // Rebuilds the model from the survey, refreshes the plane tabs and the
    // section list (without drawing) and configures the graph. False when it
    // was interrupted, or when no plane has a section (it then stops at the
    // plane selector, which is left without tabs).
    bool BuildPseudoSection();

    // Draws the selected section when it is not the one drawn last, then
    // stores and draws the `count` records of quadripoles first...; records
    // may be null when count is 0. Ends by letting pending events run.
    void UpdatePseudoSection(const TDataRecord *records, int first, int count);

    // Fills the section list from a plane's sections, selects and checks
    // the first, and redraws only when ProgressBar2 stands at its maximum.
    void FillSectionList(int plane);
    // Removes all graph annotations and sets their sizes.
    void ResetAnnotations();

    // Page events. Selecting a tab or an item from here must not call these
    // back: the widgets block their signals while the logic fills them.
    void TabPlaneChange();
    void SectionGroupClick();
    void BitBtnApplyColorScaleClick() { ApplyColorScale(); }
    void BitBtnUnZoomClick() { Graph.PEactions(TGraph2DAction::sgUndoZoom); }
    void ExportSection() { Graph.PEactions(TGraph2DAction::sgExportDialog); }
    void BitBtnMaximizeClick() { Graph.PEactions(TGraph2DAction::sgMaximize); }
    // "Hide flagged" changed: the section is drawn again.
    void HideFlaggedClick();
    // Quality flags of quadripole i; an earlier record a reciprocal flags
    // is drawn again at the next update.
    void SetQualityFlags(int i, unsigned flags);
    void ClearQualityFlags();
    // Any change of the main page.
    void PageControl1Change() { ApplyColorRange(); }

    // --- Colour range: 0 follows the measured values, 2 the manual bounds.
    enum : int { RangeRunning = 0, RangeManual = 2 };
    int rangeMode = RangeRunning;
    float manualMin = 0;
    float manualMax = 0;

    // Z range and contour step from the range state, then the colour table.
    void ApplyColorRange();
    // The colour table from SMin and SMax (moved apart first when SMax is not
    // above SMin), then the graph reinitialised.
    void ApplyColorScale();
    // The 51 colours for track bar positions a < e.
    static TColorTable ColorTable(int a, int e);

    struct TScale {
        float Min, Max, Step;
    };
    // What ApplyColorRange hands the graph for a range lo..hi.
    static TScale ScaleFor(float lo, float hi);
    // The same for the running range of the measured values, widened to at
    // least MinimumSpan of the mean on each side.
    static constexpr double MinimumSpan = 0.05;
    static TScale RunningScale(float rhoMin, float rhoMax);

    // --- Range dialog "Rho display options": the dialog widget copies its
    // controls in, calls, and shows what comes back.
    struct TRangeDialog {
        bool FullRange = true;      // AutoScaleRb
        QString MinText = QStringLiteral("0");     // MinEdt
        QString MaxText = QStringLiteral("1000");  // MaxEdt
        bool RangeEnabled = false;  // the controls of ScaleGb
    };
    void FormShow(TRangeDialog &dialog);
    void AutoScaleRbClick(TRangeDialog &dialog);
    // False when an edit holds no number (nothing changed). A maximum below
    // the minimum is ignored silently and still gives true.
    bool ApplyRange(const TRangeDialog &dialog);
    // What is wrong with the manual range typed, for the operator; empty
    // when both edits hold usable numbers.
    QString RangeProblem(const TRangeDialog &dialog) const;
    // OK: applies the range; the dialog then closes whatever was typed.
    bool BitBtn1Click(const TRangeDialog &dialog)
    {
        ApplyRange(dialog);
        return true;
    }

    // Plane index of a tab caption ("XZ" 1, "YZ" 0, "XY" 2); -1 otherwise.
    static int PlaneOfCaption(const QString &caption);
    QString SectionCaption(int plane, int section) const;
    // "Rho pseudo section, XZ plane, Y 0": the caption of exports and prints.
    QString PlaneCaption(int plane, int section) const;

    // Numbers in the section captions and the range dialog.
    QLocale Locale = QLocale::system();

    TPseudoSection &Model;
    TGraph2D &Graph;
    TSectionControls &Controls;
    TUserInterface &Ui;

private:
    bool RefreshPlaneSelector();
    void ConfigureGraph();
    void SetRanges(int plane);
    void Redraw(int plane, int section);
    void ClearGrid();
    void DescribePlane(int plane, int section);
    void WriteCell(int row, int column, float x, float y, float z, bool copyRow);
};
