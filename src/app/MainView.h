#pragma once
// What the controllers show in the main window. The window implements it with
// widgets; tarnelpro-cli and tests with plain recorders.
#include <QString>

#include <array>
#include <cstdint>

class TGraph2D;
class TGraph3D;
class TResistanceTable;
struct TDataRecord;
struct Node;

enum class TPage : int { Configuration = 0, Acquisition, Progress, Rho, Resistance, Script };

// Colours of the health display.
enum class THealthColor { Keep, Black, Lime, Orange, Red };

// What one health check shows: the three value boxes (transmitter battery,
// receiver battery, temperature) and their gauges.
struct THealthDisplay {
    std::array<QString, 3> Texts;
    std::array<int, 3> GaugePositions{};
    std::array<THealthColor, 3> BoxColors{THealthColor::Black, THealthColor::Black, THealthColor::Black};
    std::array<THealthColor, 3> BarColors{THealthColor::Keep, THealthColor::Keep, THealthColor::Keep};
};

class TMainView {
public:
    virtual ~TMainView() = default;

    // The "Connect" action, its button and the status text.
    virtual void EnableConnect(bool enabled) = 0;
    virtual void SetStatusText(const QString &text) = 0;
    // RsOnImg shown when on, RsOffImg otherwise.
    virtual void ShowLinkIndicator(bool on) = 0;
    virtual void ShowRunControls(bool visible) = 0;
    virtual void ShowPage(TPage page) = 0;
    // One of the ten link pictures (0 USB without device, 1 USB, 2..7 Com 1..6,
    // 8 Bluetooth, 9 Wi-Fi module).
    virtual void ShowPortImage(int image) = 0;
    // Ticks the "Communication port" item of the selector and clears the
    // high-speed item.
    virtual void TickPortItem(int selector) = 0;

    // Refreshes the survey file paths and counts of the Configuration page.
    virtual void ShowSurveyFiles() = 0;
    // Refreshes every other control of the Configuration page from the state
    // and the model (parameters, paths, mode, comment).
    virtual void ShowSettings() = 0;

    // The Connect toggle shown pressed (link open) or released.
    virtual void SetConnectPressed(bool pressed) = 0;
    // The 20-second health timer.
    virtual void EnableHealthTimer(bool enabled) = 0;
    virtual void ShowHealth(const THealthDisplay &display) = 0;
    virtual void SetBatteryButtonVisible(bool visible) = 0;
    virtual TPage CurrentPage() const = 0;
    // Lets an edit still being typed on the Configuration page commit its value.
    virtual void CommitEdits() = 0;

    // --- Actions (Start, acquisition, resistance check). The defaults suit a
    // front end without these controls.

    // The Start window: 0 acquisition, 1 resistance check, 2 script; -1 cancelled.
    virtual int ChooseAction(int preselected) { return preselected; }
    // "Overwrite file : " question; true for Yes.
    virtual bool AskOverwrite(const QString &) { return false; }
    // The question about an existing data file, with the choice to resume it.
    enum class TExistingFile { Overwrite, Resume, ChooseOther };
    virtual TExistingFile AskExistingFile(const QString &path)
    {
        return AskOverwrite(path) ? TExistingFile::Overwrite : TExistingFile::ChooseOther;
    }
    // Save-as dialog for the data file; empty when cancelled.
    virtual QString ChooseAcquisitionFileDialog(const QString &) { return {}; }
    virtual void ShowAcquisitionFile(const QString &) {}
    // Start, the battery button and the Configuration page disabled while an action runs.
    virtual void SetActionRunning(bool) {}
    virtual void SetPauseDown(bool) {}
    virtual void ShowModeLabel(const QString &) {}
    virtual void HideDataGroup() {}
    virtual void ShowMeasurement(const TDataRecord *, const std::int16_t *, int) {}
    virtual void ShowProgressLabel(const QString &) {}
    virtual void ShowEstimatedTime(const QString &) {}
    virtual void SetOverallProgress(int, int) {}
    virtual void InitProgressGraph() {}
    virtual void UpdateProgressGraph(int, int) {}
    virtual void RedrawProgressGraph() {}
    virtual void BuildPseudoSection() {}
    virtual void UpdatePseudoSection(const TDataRecord *, int, int) {}
    // Quality flags (TQualityControl) of the count channels of the group just
    // shown, and the run's flagged and judged records.
    virtual void ShowQuality(const unsigned *, int, int, int) {}
    // The flags of quadripole i, for hiding flagged records in the section;
    // called before UpdatePseudoSection, and again for an earlier record
    // when its reciprocal flags it.
    virtual void SetQualityFlags(int, unsigned) {}
    virtual void ClearQualityFlags() {}
    virtual void EnableScriptTools(bool) {}
    // "Stop acquisition and script" (Yes/No) after a stopped acquisition of a
    // script; true for Yes.
    virtual bool AskStopScript() { return true; }

    // --- Resistance page.
    // Maximum acceptable resistance in kOhm.
    virtual float MaxResistance() const { return 500.0f; }
    // 0 nodes used by the quadripoles, 1 nodes of the coordinate file, 2 one pair.
    virtual int NodeSelection() const { return 0; }
    virtual std::array<int, 2> NodePair() const { return {0, 0}; }
    virtual void SetNodeCheckPanelEnabled(bool) {}
    virtual void ShowMaximumFlash(bool) {}
    virtual void ShowSkip(bool) {}
    virtual void ShowResistanceChecked(bool) {}
    // which: 0 current pair, 1 minimum, 2 maximum.
    virtual void ShowResistance(int, const Node &, const Node &, float) {}
    // The electrodes of the check along the line, with the maximum (kOhm).
    virtual void ShowResistanceProfile(const TResistanceTable &, float) {}

    virtual TGraph2D &PseudoSectionGraph() = 0;
    virtual TGraph3D &ProgressGraph() = 0;
};
