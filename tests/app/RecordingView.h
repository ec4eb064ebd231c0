#pragma once
// A main view that remembers what the controllers showed.
#include "app/MainView.h"
#include "graph/MemoryGraph.h"

#include <QString>

#include <vector>

class TRecordingView : public TMainView {
public:
    bool ConnectEnabled = false;
    QString Status;
    QStringList StatusHistory; // every text MainGB showed, in order
    bool LinkOn = false;
    bool RunControls = true;
    TPage Page = TPage::Script;
    int PortImage = -1;
    int TickedSelector = -1;
    TMemoryGraph2D Pseudo;
    TMemoryGraph3D Progress;

    void EnableConnect(bool enabled) override { ConnectEnabled = enabled; }
    void SetStatusText(const QString &text) override
    {
        Status = text;
        StatusHistory << text;
    }
    void ShowLinkIndicator(bool on) override { LinkOn = on; }
    void ShowRunControls(bool visible) override { RunControls = visible; }
    void ShowPage(TPage page) override { Page = page; }
    void ShowPortImage(int image) override { PortImage = image; }
    void TickPortItem(int selector) override { TickedSelector = selector; }
    bool ConnectPressed = false;
    bool HealthTimer = false;
    bool BatteryButton = true;
    std::vector<THealthDisplay> Health;
    int Commits = 0;
    void SetConnectPressed(bool pressed) override { ConnectPressed = pressed; }
    void EnableHealthTimer(bool enabled) override { HealthTimer = enabled; }
    void ShowHealth(const THealthDisplay &display) override { Health.push_back(display); }
    void SetBatteryButtonVisible(bool visible) override { BatteryButton = visible; }
    TPage CurrentPage() const override { return Page; }
    void CommitEdits() override { ++Commits; }
    int SurveyShown = 0;
    int SettingsShown = 0;
    void ShowSurveyFiles() override { ++SurveyShown; }
    void ShowSettings() override { ++SettingsShown; }
    TGraph2D &PseudoSectionGraph() override { return Pseudo; }
    TGraph3D &ProgressGraph() override { return Progress; }
};
