#pragma once
// The main window: status bar, the six pages, the menus. It draws what the
// controllers tell it through TMainView and offers TUserInterface on widgets.
#include "app/MainView.h"
#include "app/Shell.h"
#include "ui/QtUserInterface.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QActionGroup;
class QComboBox;
class QFontMetrics;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabWidget;
class TConfigPage;
class TAcqPage;
class TResPage;
class TScriptPage;
class TRhoPage;
class TRangeFrm;
class TScatterGraph;
class TPseudoSection;
class TSectionPresenter;
class TProgressGraph;
class QTextEdit;
class QTimer;
class QToolButton;

class TMainFrm : public QMainWindow, public TMainView {
    Q_OBJECT
public:
    explicit TMainFrm(TShell::TOptions options = {}, QWidget *parent = nullptr);
    ~TMainFrm() override;

    TShell &Controller() { return *Shell; }
    TUserInterface &Ui() { return UiServices; }

    // TMainView
    void EnableConnect(bool enabled) override;
    void SetStatusText(const QString &text) override;
    void ShowLinkIndicator(bool on) override;
    void ShowRunControls(bool visible) override;
    void ShowPage(TPage page) override;
    void ShowPortImage(int image) override;
    void TickPortItem(int selector) override;
    void SetConnectPressed(bool pressed) override;
    void EnableHealthTimer(bool enabled) override;
    void ShowHealth(const THealthDisplay &display) override;
    void SetBatteryButtonVisible(bool visible) override;
    TPage CurrentPage() const override;
    void CommitEdits() override;
    void ShowSurveyFiles() override;
    void ShowSettings() override;
    int ChooseAction(int preselected) override;
    bool AskOverwrite(const QString &path) override;
    void EnableScriptTools(bool enabled) override;
    bool AskStopScript() override;
    TExistingFile AskExistingFile(const QString &path) override;
    QString ChooseAcquisitionFileDialog(const QString &current) override;
    void ShowAcquisitionFile(const QString &path) override;
    void SetActionRunning(bool running) override;
    void SetPauseDown(bool down) override;
    void ShowModeLabel(const QString &mode) override;
    void HideDataGroup() override;
    void ShowMeasurement(const TDataRecord *records, const std::int16_t *electrodes, int n) override;
    void ShowProgressLabel(const QString &text) override;
    void ShowEstimatedTime(const QString &text) override;
    void SetOverallProgress(int maximum, int position) override;
    float MaxResistance() const override;
    int NodeSelection() const override;
    std::array<int, 2> NodePair() const override;
    void SetNodeCheckPanelEnabled(bool enabled) override;
    void ShowMaximumFlash(bool shown) override;
    void ShowSkip(bool shown) override;
    void ShowResistanceChecked(bool shown) override;
    void ShowResistance(int which, const Node &p1, const Node &p2, float r) override;
    TGraph2D &PseudoSectionGraph() override;
    TGraph3D &ProgressGraph() override;
    void InitProgressGraph() override;
    void UpdateProgressGraph(int n, int s) override;
    void RedrawProgressGraph() override;
    void BuildPseudoSection() override;
    void UpdatePseudoSection(const TDataRecord *records, int first, int count) override;
    void ShowQuality(const unsigned *flags, int count, int flagged, int total) override;
    void SetQualityFlags(int quad, unsigned flags) override;
    void ClearQualityFlags() override;
    void ShowResistanceProfile(const TResistanceTable &table, float maximum) override;

    // Sets the enabled state of every child control of container, and of
    // their children when deep.
    static void EnableChildControls(QWidget *container, bool enable, bool deep);
    // Path shortened to fit label's width less 4 pixels.
    static void ShowShortPath(QLabel *label, const QString &path);
    // Drops leading folders ("…/folder/name") until the path fits width, so
    // the file name stays visible; a name too long alone is cut in its middle.
    static QString ShortPath(const QString &path, const QFontMetrics &metrics, int width);

    // A short notice in MainGB beside the transfer bar (the title keeps the
    // instrument's identification).
    void ShowNotice(const QString &text);
    QString NoticeText() const;

    // Saves a PNG of the window on each page into folder; false on a write error.
    bool GrabPages(const QString &folder);

    int PortImageIndex() const { return CurrentPortImage; }
    TConfigPage *ConfigPage() const { return ConfigurationTb; }
    TRhoPage *RhoPage() const { return RhoTb; }
    TRangeFrm *RangeDialog() const { return RangeFrm; }
    TSectionPresenter &SectionLogic() { return *Presenter; }

    // Opens the acquisition file with the application registered for it.
    void BitBtn1Click();

    // "Trace the link to a file…": asks for the file when checked, stops the
    // trace when unchecked.
    void TraceLink1Click(bool checked);
    // Starts the wire trace into path; a refusal is a red line of the event
    // log and a notice. TARNELPRO_TRACE names a file at start-up.
    bool StartTrace(const QString &path);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void BuildMenus();
    QWidget *BuildStatusBar();
    QWidget *BuildStatePage();
    void BuildGraphs();
    QWidget *BuildScriptPage();
    void ConnectEventLog();

    void ShowHelp();
    void UpdateBatteryButton();
    void PageControl1Change(int index);
    void Apropos1Click();
    void TraceFailed(const QString &why);
    void LogTraceLine(const QString &text, bool failure);

    TQtUserInterface UiServices{this};
    std::unique_ptr<TShell> Shell;
    std::unique_ptr<TPseudoSection> Section;
    std::unique_ptr<TSectionPresenter> Presenter;
    std::unique_ptr<TProgressGraph> Progress;
    int CurrentPortImage = -1;
    bool SizeFixed = false;
    // Room for the window manager's border and title bar.
    static constexpr int FrameAllowance = 8;
    void PlaceOnScreen();
    bool LinkOn = false;
    bool Connecting = false;
    bool ActionBusy = false;
    bool HealthReading = false;

    // Status bar
    QAction *PowerAction = nullptr;
    QFrame *ConnectPannel = nullptr;
    QToolButton *ConnectBtn = nullptr;
    QFrame *StartButtonPanel = nullptr;
    QPushButton *NewGpsBtn = nullptr;
    QPushButton *PauseBtn = nullptr;
    QPushButton *StopBtn = nullptr;
    QFrame *ProgressGB = nullptr;
    QGroupBox *MainGB = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *ErrorSetUp = nullptr;
    QLabel *NoticeLbl = nullptr;
    QLabel *PausedLbl = nullptr;
    QLabel *RsOffImg = nullptr;
    QLabel *RsOnImg = nullptr;
    QLabel *Image2 = nullptr;
    QFrame *BatPannel = nullptr;
    QToolButton *BatterieBtn = nullptr;
    QLabel *TxBatLblx = nullptr;
    QLabel *RxBatLblx = nullptr;
    QLabel *RxTempLblx = nullptr;
    QProgressBar *TxGauge = nullptr;
    QProgressBar *RxGauge = nullptr;
    QProgressBar *TempGauge = nullptr;

    // Pages
    QTabWidget *PageControl1 = nullptr;
    QProgressBar *ProgressBar2 = nullptr;
    TConfigPage *ConfigurationTb = nullptr;
    TAcqPage *AcquisitonDataTb = nullptr;
    TResPage *ResistanceTb = nullptr;
    TScriptPage *ScriptPanel = nullptr;
    QWidget *StateTb = nullptr;
    TScatterGraph *ProgressView = nullptr;
    TRhoPage *RhoTb = nullptr;
    TRangeFrm *RangeFrm = nullptr;
    QTextEdit *EditJournal = nullptr;

    // Menus
    QActionGroup *PortGroup = nullptr;
    QAction *Communicationspeed1 = nullptr;
    QAction *TraceLink1 = nullptr;

    QTimer *Timer1 = nullptr;
    // Started when the window closes during an action.
    QTimer *AbandonTimer = nullptr;
    static constexpr int AbandonAfterCloseMs = 5000;
};
