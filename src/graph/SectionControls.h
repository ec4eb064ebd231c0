#pragma once
// What the pseudo-section needs of the "Rho pseudo section" page around its
// graph: the plane tabs (TabPlane), the section list (SectionGroup), the two
// colour track bars (SMin, SMax), the run's block counter (ProgressBar2) and
// whether the page is the one shown. The window implements it with widgets,
// tests with a recording fake; the pseudo-section logic stays headless.
#include <QString>

class TSectionControls {
public:
    virtual ~TSectionControls() = default;

    // TabPlane
    virtual void ClearPlaneTabs() = 0;
    virtual void AddPlaneTab(const QString &caption) = 0;
    virtual int PlaneTabCount() const = 0;
    virtual void SelectPlaneTab(int index) = 0;
    virtual int SelectedPlaneTab() const = 0; // -1 when none
    virtual QString PlaneTabCaption(int index) const = 0;

    // SectionGroup: a check list that behaves as a single choice
    virtual void ClearSections() = 0;
    virtual void AddSection(const QString &caption) = 0;
    virtual int SectionCount() const = 0;
    virtual void SelectSection(int index) = 0;
    virtual int SelectedSection() const = 0; // -1 when none
    virtual void SetSectionChecked(int index, bool checked) = 0;

    // SMin (0..48) and SMax (2..50)
    virtual int SMinPosition() const = 0;
    virtual void SetSMinPosition(int position) = 0;
    virtual int SMaxPosition() const = 0;
    virtual void SetSMaxPosition(int position) = 0;

    // ProgressBar2 and the main page
    virtual int ProgressPosition() const = 0;
    virtual int ProgressMaximum() const = 0;
    // The build sets the bar to 0 of 1, so that filling the section list
    // never draws before the grids exist.
    virtual void SetProgress(int position, int maximum) = 0;
    virtual bool RhoPageShowing() const = 0;
    // "Hide flagged": records the quality control flagged are left out.
    virtual bool HideFlagged() const { return false; }
};
