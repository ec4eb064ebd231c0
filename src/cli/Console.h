#pragma once
// The console front end's user-interface services and main view: prompts on
// the terminal (or answered by --yes), messages and progress on stderr.
#include "app/MainView.h"
#include "base/UserInterface.h"
#include "graph/MemoryGraph.h"

#include <QString>

class TConsoleUi : public TUserInterface {
public:
    // Confirmations answered OK without asking.
    bool AssumeYes = false;
    // Messages shown so far (for the exit status of the commands).
    QStringList Messages;

    void Yield() override;
    void WaitEvents(int maxWaitMs) override;
    void BusyIndicator(bool) override {}
    bool Confirm(const QString &text, const QString &title) override;
    void Message(const QString &text) override;
    void ErrorBox(const QString &title, const QString &text) override;
    bool InputPrompt(const QString &caption, const QString &prompt, QString &value) override;
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgressPosition(int position) override { Position = position; }
    int ProgressPosition() const override { return Position; }
    int ProgressMaximum() const override { return Maximum; }
    void ShowErrorIndicator(bool visible) override;
    void Beep() override {}

private:
    int Minimum = 0, Maximum = 100, Position = 0;
    bool ErrorShown = false;
};

// Keeps what the window would show; the status line goes to stderr when verbose.
class TConsoleView : public TMainView {
public:
    bool Verbose = false;
    QString Status;
    THealthDisplay Health;
    TPage Page = TPage::Configuration;
    // The run's quality count ("12 flagged of 340").
    int QualityFlagged = 0, QualityTotal = 0;
    void ShowQuality(const unsigned *, int, int flagged, int total) override
    {
        QualityFlagged = flagged;
        QualityTotal = total;
    }

    void EnableConnect(bool) override {}
    void SetStatusText(const QString &text) override;
    void ShowLinkIndicator(bool) override {}
    void ShowRunControls(bool) override {}
    void ShowPage(TPage page) override { Page = page; }
    void ShowPortImage(int) override {}
    void TickPortItem(int) override {}
    void ShowSurveyFiles() override {}
    void ShowSettings() override {}
    void SetConnectPressed(bool) override {}
    void EnableHealthTimer(bool) override {}
    void ShowHealth(const THealthDisplay &display) override { Health = display; }
    void SetBatteryButtonVisible(bool) override {}
    TPage CurrentPage() const override { return Page; }
    void CommitEdits() override {}
    TGraph2D &PseudoSectionGraph() override { return Pseudo; }
    TGraph3D &ProgressGraph() override { return Progress; }

private:
    TMemoryGraph2D Pseudo;
    TMemoryGraph3D Progress;
};

// Writes a line to stderr in the terminal's encoding.
void PrintError(const QString &text);
void PrintOut(const QString &text);
