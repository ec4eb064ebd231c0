#pragma once
// The "Rho pseudo section" page: plane tabs and section list on the left, the
// colour track bars and buttons below them, the contour graph filling the
// rest. It offers its controls to the section logic as TSectionControls and
// hands every click to that logic once attached.
#include "graph/SectionControls.h"

#include <QWidget>

#include <functional>

class QCheckBox;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSlider;
class QTabBar;
class TContourGraph;
class TSectionPresenter;
class TUserInterface;

class TRhoPage : public QWidget, public TSectionControls {
    Q_OBJECT
public:
    // pageShowing tells whether this page is the one shown.
    explicit TRhoPage(std::function<bool()> pageShowing, QWidget *parent = nullptr);
    // The window's run progress bar (ProgressBar2), which the section logic reads.
    void AttachProgressBar(QProgressBar *progress) { ProgressBar2 = progress; }

    // From here on the controls' events reach the section logic.
    void Attach(TSectionPresenter *presenter, TUserInterface *ui);

    // TSectionControls
    void ClearPlaneTabs() override;
    void AddPlaneTab(const QString &caption) override;
    int PlaneTabCount() const override;
    void SelectPlaneTab(int index) override;
    int SelectedPlaneTab() const override;
    QString PlaneTabCaption(int index) const override;
    void ClearSections() override;
    void AddSection(const QString &caption) override;
    int SectionCount() const override;
    void SelectSection(int index) override;
    int SelectedSection() const override;
    void SetSectionChecked(int index, bool checked) override;
    int SMinPosition() const override;
    void SetSMinPosition(int position) override;
    int SMaxPosition() const override;
    void SetSMaxPosition(int position) override;
    int ProgressPosition() const override;
    int ProgressMaximum() const override;
    void SetProgress(int position, int maximum) override;
    bool RhoPageShowing() const override;
    bool HideFlagged() const override;

    TContourGraph *PESGraph1;
    QPushButton *GraphRangeBtn;

private:
    QProgressBar *ProgressBar2 = nullptr;
    std::function<bool()> PageShowing;
    TSectionPresenter *Presenter = nullptr;
    TUserInterface *Ui = nullptr;

    QTabBar *TabPlane;
    QListWidget *SectionGroup;
    QSlider *SMin, *SMax;
    QCheckBox *HideFlaggedCb;
    QPushButton *BitBtnApplyColorScale, *BitBtnUnZoom, *BitBtn3, *BitBtn5, *BitBtnMaximize;

    // Runs a handler of the section logic with the program's error report.
    void Forward(void (TSectionPresenter::*handler)());
};
