#pragma once
// A main view that remembers what the controllers showed.
#include "app/Mainview.h"
#include "graph/Memorygraph.h"

#include <QString>

class TRecordingView : public TMainView {
public:
    bool ConnectEnabled = false;
    QString Status;
    bool LinkOn = false;
    bool RunControls = true;
    TPage Page = TPage::Script;
    int PortImage = -1;
    int TickedSelector = -1;
    TMemoryGraph2D Pseudo;
    TMemoryGraph3D Progress;

    void EnableConnect(bool enabled) override { ConnectEnabled = enabled; }
    void SetStatusText(const QString &text) override { Status = text; }
    void ShowLinkIndicator(bool on) override { LinkOn = on; }
    void ShowRunControls(bool visible) override { RunControls = visible; }
    void ShowPage(TPage page) override { Page = page; }
    void ShowPortImage(int image) override { PortImage = image; }
    void TickPortItem(int selector) override { TickedSelector = selector; }
    int SurveyShown = 0;
    int SettingsShown = 0;
    void ShowSurveyFiles() override { ++SurveyShown; }
    void ShowSettings() override { ++SettingsShown; }
    TGraph2D &PseudoSectionGraph() override { return Pseudo; }
    TGraph3D &ProgressGraph() override { return Progress; }
};
