#pragma once
// The controls of the "Rho pseudo section" page as plain values, clamped as
// the widgets clamp them.
#include "graph/SectionControls.h"

#include <QStringList>

#include <algorithm>
#include <vector>

class TFakeSectionControls : public TSectionControls {
public:
    QStringList Tabs;
    int Tab = -1;
    QStringList Sections;
    std::vector<bool> Checked;
    int Section = -1;
    int SMin = 0, SMax = 50;
    int Position = 0, Maximum = 100;
    bool RhoPage = true;

    void ClearPlaneTabs() override { Tabs.clear(); Tab = -1; }
    void AddPlaneTab(const QString &caption) override { Tabs << caption; }
    int PlaneTabCount() const override { return int(Tabs.size()); }
    void SelectPlaneTab(int index) override { Tab = index < Tabs.size() ? index : -1; }
    int SelectedPlaneTab() const override { return Tab; }
    QString PlaneTabCaption(int index) const override { return Tabs.value(index); }

    void ClearSections() override { Sections.clear(); Checked.clear(); Section = -1; }
    void AddSection(const QString &caption) override { Sections << caption; Checked.push_back(false); }
    int SectionCount() const override { return int(Sections.size()); }
    void SelectSection(int index) override { Section = index < Sections.size() ? index : -1; }
    int SelectedSection() const override { return Section; }
    void SetSectionChecked(int index, bool checked) override { Checked.at(std::size_t(index)) = checked; }

    int SMinPosition() const override { return SMin; }
    void SetSMinPosition(int position) override { SMin = std::clamp(position, 0, 48); }
    int SMaxPosition() const override { return SMax; }
    void SetSMaxPosition(int position) override { SMax = std::clamp(position, 2, 50); }

    int ProgressPosition() const override { return Position; }
    int ProgressMaximum() const override { return Maximum; }
    void SetProgress(int position, int maximum) override { Position = position; Maximum = maximum; }
    bool RhoPageShowing() const override { return RhoPage; }
    bool Hide = false;
    bool HideFlagged() const override { return Hide; }

    int CheckedCount() const { return int(std::count(Checked.begin(), Checked.end(), true)); }
};
