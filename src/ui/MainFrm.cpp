#include "ui/MainFrm.h"

#include "app/Guard.h"
#include "base/Clock.h"
#include "base/Folders.h"
#include "base/WireTrace.h"
#include "ui/AboutBoxFrm.h"
#include "ui/AcqPage.h"
#include "ui/ConfigPage.h"
#include "ui/DesktopOpen.h"
#include "graph/ProgressGraph.h"
#include "instrument/VoltixPro.h"
#include "graph/PseudoSection.h"
#include "graph/SectionPresenter.h"
#include "ui/ContourGraph.h"
#include "ui/RangeFrm.h"
#include "ui/RhoPage.h"
#include "ui/ScatterGraph.h"
#include "ui/ResPage.h"
#include "ui/ScriptPage.h"
#include "ui/StartFrm.h"
#include "ui/PortImages.h"

#include <algorithm>

#include <QScrollBar>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>

namespace {
constexpr int ClientWidth = 902;
constexpr int ClientHeight = 505;
constexpr int PortImageSize = 26;


QColor FromTColor(TColor c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

QLabel *ValueBox(QWidget *parent, const char *name, int width)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFrameShape(QFrame::StyledPanel);
    l->setFrameShadow(QFrame::Sunken);
    l->setAlignment(Qt::AlignCenter);
    l->setFixedWidth(width);
    l->setAutoFillBackground(true);
    return l;
}

QProgressBar *Gauge(QWidget *parent, const char *name, int minimum, int maximum)
{
    auto *g = new QProgressBar(parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setOrientation(Qt::Vertical);
    g->setRange(minimum, maximum);
    g->setValue(minimum);
    g->setTextVisible(false);
    g->setFixedWidth(9);
    return g;
}

QFrame *Panel(QWidget *parent, const char *name)
{
    auto *f = new QFrame(parent);
    f->setObjectName(QString::fromLatin1(name));
    f->setFrameShape(QFrame::StyledPanel);
    f->setFrameShadow(QFrame::Raised);
    return f;
}

QWidget *Page(const char *name)
{
    auto *w = new QWidget;
    w->setObjectName(QString::fromLatin1(name));
    return w;
}
} // namespace

TMainFrm::TMainFrm(TShell::TOptions options, QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainFrm"));
    setWindowTitle(QStringLiteral("Tarnel Pro 2"));
    Shell = std::make_unique<TShell>(UiServices, *this, SystemClock(), options);

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    auto *column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    PageControl1 = new QTabWidget(client);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    ConfigurationTb = new TConfigPage(*Shell, PageControl1);
    PageControl1->addTab(ConfigurationTb, QStringLiteral("Configuration"));
    AcquisitonDataTb = new TAcqPage(PageControl1);
    PageControl1->addTab(AcquisitonDataTb, QStringLiteral("Acquisition"));
    PageControl1->addTab(BuildStatePage(), QStringLiteral("Progress status"));
    RhoTb = new TRhoPage([this] { return PageControl1->currentWidget() == RhoTb; }, PageControl1);
    PageControl1->addTab(RhoTb, QStringLiteral("Rho pseudo section"));
    ResistanceTb = new TResPage(PageControl1);
    PageControl1->addTab(ResistanceTb, QStringLiteral("Resistance"));
    PageControl1->addTab(BuildScriptPage(), QStringLiteral("Script / Event log"));
    column->addWidget(PageControl1, 1);

    ProgressBar2 = new QProgressBar(client);
    ProgressBar2->setObjectName(QStringLiteral("ProgressBar2"));
    ProgressBar2->setFixedHeight(10);
    ProgressBar2->setTextVisible(false);
    ProgressBar2->setValue(0);
    column->addWidget(ProgressBar2);
    BuildGraphs();
    column->addWidget(BuildStatusBar());
    setCentralWidget(client);

    BuildMenus();
    UiServices.Attach(ProgressBar1, ErrorSetUp);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(20000);
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded(UiServices, [&] { Shell->HealthTick(); }); });
    // Plugging or pulling a USB cable changes the picture of the USB link.
    auto *devices = new QTimer(this);
    devices->setObjectName(QStringLiteral("DeviceWatch"));
    connect(devices, &QTimer::timeout, this, [this] {
        if (Shell->State.PortSelector == UsbPortSelector)
            Shell->ShowPortImage(false);
    });
    devices->start(2000);
    connect(PowerAction, &QAction::triggered, this, [this] {
        // While the instrument is being identified "Bat." would only meet a
        // busy link.
        Connecting = true;
        UpdateBatteryButton();
        Guarded(UiServices, [&] { Shell->ToggleConnection(); });
        Connecting = false;
        UpdateBatteryButton();
    });
    connect(BatterieBtn, &QToolButton::clicked, this, [this] { Guarded(UiServices, [&] { Shell->ReadHealthNow(); }); });
    for (QAction *a : PortGroup->actions()) {
        connect(a, &QAction::triggered, this, [this, a] {
            Guarded(UiServices, [&] { Shell->ChooseLink(a->data().toInt()); });
        });
    }
    connect(Communicationspeed1, &QAction::triggered, this, [this] {
        Shell->ToggleHighSpeed();
        Communicationspeed1->setChecked(Shell->State.HighSpeedChecked);
    });
    Shell->StartProgram = [](const QString &program) { QProcess::startDetached(program, {}); };
    connect(NewGpsBtn, &QPushButton::clicked, this, [this] { Guarded(UiServices, [&] { Shell->ChooseAndStartAction(); }); });
    connect(StopBtn, &QPushButton::clicked, this, [this] { Shell->RequestStop(); });
    connect(PauseBtn, &QPushButton::clicked, this, [this] { Shell->TogglePause(); });
    connect(ResistanceTb->SkipBtn, &QPushButton::clicked, this, [this] { Shell->RequestSkip(); });

    connect(PageControl1, &QTabWidget::currentChanged, this, &TMainFrm::PageControl1Change);

    ConnectEventLog();
    Guarded(UiServices, [&] { Shell->Construct(); });

    // FormCreate: the design size is the smallest the window may take, as
    // far as the screen allows.
    resize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
    Guarded(UiServices, [&] { Shell->FormCreate(); });

    // A trace file that fails (a full disk) is said in the window, whichever
    // thread was writing to the link at the time.
    QPointer<TMainFrm> self(this);
    WireTrace::SetFailureHandler([self](const QString &why) {
        QMetaObject::invokeMethod(
            qApp, [self, why] {
                if (self)
                    self->TraceFailed(why);
            },
            Qt::QueuedConnection);
    });
    if (const QString tracePath = qEnvironmentVariable("TARNELPRO_TRACE"); !tracePath.isEmpty())
        StartTrace(tracePath);
    PlaceOnScreen();
}

TMainFrm::~TMainFrm()
{
    WireTrace::SetFailureHandler({});
    if (TraceLink1 && TraceLink1->isChecked())
        WireTrace::StopFile();
}

void TMainFrm::TraceLink1Click(bool checked)
{
    if (!checked) {
        WireTrace::StopFile();
        LogTraceLine(QStringLiteral("Link trace stopped"), false);
        return;
    }
    // Appended to, never replaced: no overwrite question.
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Trace the link to a file"),
                                                      DataFolder() + QStringLiteral("TarnelPro_trace.txt"),
                                                      QStringLiteral("Text files (*.txt);;All files (*)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) {
        TraceLink1->setChecked(false);
        return;
    }
    StartTrace(path);
}

bool TMainFrm::StartTrace(const QString &path)
{
    QString error;
    const bool started = WireTrace::StartFile(path, &error);
    TraceLink1->setChecked(started);
    if (started)
        LogTraceLine(QStringLiteral("Link trace written to %1").arg(path), false);
    else
        LogTraceLine(error, true);
    return started;
}

void TMainFrm::TraceFailed(const QString &why)
{
    TraceLink1->setChecked(false);
    LogTraceLine(why, true);
}

void TMainFrm::LogTraceLine(const QString &text, bool failure)
{
    // In the middle of a run: its own lines keep their colour.
    if (failure) {
        ShowNotice(text);
        std::fprintf(stderr, "tarnelpro: %s\n", qPrintable(text));
    }
    Shell->EventLog.AddStampedAside(text, failure ? LogColor::Red : LogColor::Black);
}

void TMainFrm::PlaceOnScreen()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // On a small screen (800 x 600) the whole window, title bar and menu
    // included, stays on it: never centred off its left or top edge.
    const QRect area = screen->availableGeometry();
    const QSize frame(FrameAllowance, FrameAllowance * 4);
    resize(size().boundedTo(area.size() - frame).expandedTo(minimumSizeHint().boundedTo(area.size() - frame)));
    const QSize outer = size() + frame;
    move(area.left() + std::max(0, (area.width() - outer.width()) / 2),
         area.top() + std::max(0, (area.height() - outer.height()) / 2));
}

void TMainFrm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!SizeFixed) {
        SizeFixed = true;
        setMinimumSize(size());
    }
}

void TMainFrm::BuildMenus()
{
    PowerAction = new QAction(QStringLiteral("Connect"), this);
    PowerAction->setObjectName(QStringLiteral("PowerAction"));
    PowerAction->setToolTip(QStringLiteral("Connect to  VOLTIX"));
    PowerAction->setStatusTip(QStringLiteral("Connect to  VOLTIX"));
    PowerAction->setShortcut(QKeySequence(Qt::Key_F2));
    PowerAction->setCheckable(true);
    PowerAction->setEnabled(false);
    ConnectBtn->setDefaultAction(PowerAction);

    QMenu *link = menuBar()->addMenu(QStringLiteral("&Link"));
    link->setObjectName(QStringLiteral("Link1"));
    link->addAction(PowerAction);
    link->addSeparator();
    QMenu *ports = link->addMenu(QStringLiteral("Communication port"));
    ports->setObjectName(QStringLiteral("Communicationport1"));
    PortGroup = new QActionGroup(this);
    PortGroup->setExclusive(true);
    const struct {
        const char *name;
        const char *caption;
        int selector;
    } items[] = {
        {"Com11", "Com 1", 1}, {"Com21", "Com 2", 2}, {"Com31", "Com 3", 3},   {"Com41", "Com 4", 4},
        {"Com51", "Com 5", 5}, {"Com61", "Com 6", 6}, {"USB1", "USB", 99},     {"BT1", "BT", 0},
        {"Wavenode1", "Wavenode", 100},
    };
    for (const auto &item : items) {
        QAction *a = ports->addAction(QString::fromLatin1(item.caption));
        a->setObjectName(QString::fromLatin1(item.name));
        a->setCheckable(true);
        a->setData(item.selector);
        PortGroup->addAction(a);
    }
    Communicationspeed1 = link->addAction(QStringLiteral("High communication speed (USB Only)"));
    Communicationspeed1->setObjectName(QStringLiteral("Communicationspeed1"));
    Communicationspeed1->setCheckable(true);
    QAction *usbCheck = link->addAction(QStringLiteral("USB Check"));
    usbCheck->setObjectName(QStringLiteral("ZIREriva1"));
    connect(usbCheck, &QAction::triggered, this, [this] { Shell->StartUsbTool(); });
    link->addSeparator();
    TraceLink1 = link->addAction(QStringLiteral("Trace the link to a file…"));
    TraceLink1->setObjectName(QStringLiteral("TraceLink1"));
    TraceLink1->setCheckable(true);
    connect(TraceLink1, &QAction::triggered, this, &TMainFrm::TraceLink1Click);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    QAction *topics = help->addAction(QStringLiteral("Help topics"));
    topics->setObjectName(QStringLiteral("Rubriquedaide1"));
    topics->setShortcut(QKeySequence(Qt::Key_F1));
    connect(topics, &QAction::triggered, this, &TMainFrm::ShowHelp);
    // No web menu: the project has no home page or support site of its own.
    help->addSeparator();
    QAction *about = help->addAction(QStringLiteral("About"));
    about->setObjectName(QStringLiteral("Apropos1"));
    connect(about, &QAction::triggered, this, &TMainFrm::Apropos1Click);

    // F10 opens the menu bar from the keyboard, as Alt+L and Alt+H open their menus.
    auto *f10 = new QAction(this);
    f10->setShortcut(QKeySequence(Qt::Key_F10));
    f10->setShortcutContext(Qt::WindowShortcut);
    addAction(f10);
    connect(f10, &QAction::triggered, this, [this, link] { menuBar()->setActiveAction(link->menuAction()); });
}

QWidget *TMainFrm::BuildStatusBar()
{
    auto *bar = new QWidget;
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setFixedHeight(41);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(2, 1, 2, 1);
    row->setSpacing(3);

    ConnectPannel = Panel(bar, "ConnectPannel");
    auto *cp = new QHBoxLayout(ConnectPannel);
    cp->setContentsMargins(3, 2, 3, 2);
    ConnectBtn = new QToolButton(ConnectPannel);
    ConnectBtn->setObjectName(QStringLiteral("ConnectBtn"));
    ConnectBtn->setToolButtonStyle(Qt::ToolButtonTextOnly);
    ConnectBtn->setMinimumWidth(80);
    // Pressed (connected) must be plain to see at a glance in the field.
    ConnectBtn->setStyleSheet(QStringLiteral(
        "QToolButton#ConnectBtn { padding: 2px 8px; }"
        "QToolButton#ConnectBtn:checked { background: #2e7d32; color: white; font-weight: bold;"
        " border: 2px inset #1b5e20; border-radius: 3px; }"));
    cp->addWidget(ConnectBtn);
    row->addWidget(ConnectPannel);

    StartButtonPanel = Panel(bar, "StartButtonPanel");
    auto *sp = new QHBoxLayout(StartButtonPanel);
    sp->setContentsMargins(3, 2, 3, 2);
    NewGpsBtn = new QPushButton(QStringLiteral("Start"), StartButtonPanel);
    NewGpsBtn->setObjectName(QStringLiteral("NewGpsBtn"));
    NewGpsBtn->setToolTip(QStringLiteral("Start action"));
    PauseBtn = new QPushButton(QStringLiteral("Pause"), StartButtonPanel);
    PauseBtn->setObjectName(QStringLiteral("PauseBtn"));
    PauseBtn->setCheckable(true);
    StopBtn = new QPushButton(QStringLiteral("Stop"), StartButtonPanel);
    StopBtn->setObjectName(QStringLiteral("StopBtn"));
    PauseBtn->setStyleSheet(QStringLiteral(
        "QPushButton#PauseBtn:checked { background: #ffb300; color: black; font-weight: bold; }"));
    for (QPushButton *b : {NewGpsBtn, PauseBtn, StopBtn}) {
        b->setFixedWidth(62);
        sp->addWidget(b);
    }
    PausedLbl = new QLabel(QStringLiteral("Paused"), StartButtonPanel);
    PausedLbl->setObjectName(QStringLiteral("PausedLbl"));
    PausedLbl->setStyleSheet(QStringLiteral("QLabel { color: #b26a00; font-weight: bold; }"));
    PausedLbl->hide();
    sp->addWidget(PausedLbl);
    row->addWidget(StartButtonPanel);
    row->addStretch(1);

    BatPannel = Panel(bar, "BatPannel");
    auto *bp = new QHBoxLayout(BatPannel);
    bp->setContentsMargins(3, 2, 3, 2);
    bp->setSpacing(2);
    BatterieBtn = new QToolButton(BatPannel);
    BatterieBtn->setObjectName(QStringLiteral("BatterieBtn"));
    BatterieBtn->setText(QStringLiteral("Bat."));
    BatterieBtn->setToolTip(QStringLiteral("Read batteries and temperature"));
    bp->addWidget(BatterieBtn);
    TxBatLblx = ValueBox(BatPannel, "TxBatLblx", 38);
    TxBatLblx->setToolTip(QStringLiteral("Transmitter battery (V)"));
    TxGauge = Gauge(BatPannel, "TxGauge", 90, 130);
    RxBatLblx = ValueBox(BatPannel, "RxBatLblx", 38);
    RxBatLblx->setToolTip(QStringLiteral("Receiver battery (V)"));
    RxGauge = Gauge(BatPannel, "RxGauge", 90, 130);
    RxTempLblx = ValueBox(BatPannel, "RxTempLblx", 32);
    RxTempLblx->setToolTip(QStringLiteral("Receiver temperature"));
    TempGauge = Gauge(BatPannel, "TempGauge", 40, 80);
    // A short caption says which box is which without hovering.
    const auto caption = [&](const char *name, const char *text, QLabel *box) {
        auto *l = new QLabel(QString::fromUtf8(text), BatPannel);
        l->setObjectName(QString::fromLatin1(name));
        l->setToolTip(box->toolTip());
        l->setBuddy(box);
        return l;
    };
    QLabel *txCaption = caption("TxBatLbl", "Tx", TxBatLblx);
    QLabel *rxCaption = caption("RxBatLbl", "Rx", RxBatLblx);
    QLabel *tempCaption = caption("RxTempLbl", "°C", RxTempLblx);
    for (QWidget *w : std::initializer_list<QWidget *>{txCaption, TxBatLblx, TxGauge, rxCaption, RxBatLblx, RxGauge,
                                                       tempCaption, RxTempLblx, TempGauge})
        bp->addWidget(w);
    row->addWidget(BatPannel);

    ProgressGB = Panel(bar, "ProgressGB");
    auto *pg = new QHBoxLayout(ProgressGB);
    pg->setContentsMargins(2, 0, 2, 0);
    MainGB = new QGroupBox(ProgressGB);
    MainGB->setObjectName(QStringLiteral("MainGB"));
    MainGB->setFixedWidth(300);
    MainGB->setEnabled(false);
    auto *mg = new QHBoxLayout(MainGB);
    mg->setContentsMargins(4, 0, 4, 2);
    mg->setSpacing(4);
    ProgressBar1 = new QProgressBar(MainGB);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setFixedHeight(12);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setValue(0);
    ErrorSetUp = new QLabel(QStringLiteral("Crc error"), MainGB);
    ErrorSetUp->setObjectName(QStringLiteral("ErrorSetUp"));
    ErrorSetUp->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    ErrorSetUp->hide();
    NoticeLbl = new QLabel(MainGB);
    NoticeLbl->setObjectName(QStringLiteral("NoticeLbl"));
    NoticeLbl->setStyleSheet(QStringLiteral("QLabel { color: #b00000; }"));
    NoticeLbl->setMinimumWidth(0);
    NoticeLbl->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    NoticeLbl->hide();
    mg->addWidget(ProgressBar1, 1);
    mg->addWidget(NoticeLbl, 4);
    mg->addWidget(ErrorSetUp);
    pg->addWidget(MainGB);
    RsOffImg = new QLabel(ProgressGB);
    RsOffImg->setObjectName(QStringLiteral("RsOffImg"));
    RsOffImg->setPixmap(LinkLamp(false, 14));
    RsOffImg->setToolTip(QStringLiteral("Link closed"));
    RsOnImg = new QLabel(ProgressGB);
    RsOnImg->setObjectName(QStringLiteral("RsOnImg"));
    RsOnImg->setPixmap(LinkLamp(true, 14));
    RsOnImg->setToolTip(QStringLiteral("Link open"));
    RsOnImg->hide();
    Image2 = new QLabel(ProgressGB);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setFixedSize(PortImageSize, PortImageSize);
    pg->addWidget(RsOffImg);
    pg->addWidget(RsOnImg);
    pg->addWidget(Image2);
    row->addWidget(ProgressGB);
    return bar;
}

QWidget *TMainFrm::BuildStatePage()
{
    StateTb = Page("StateTb");
    auto *l = new QVBoxLayout(StateTb);
    l->setContentsMargins(2, 2, 2, 2);
    ProgressView = new TScatterGraph(StateTb);
    l->addWidget(ProgressView);
    return StateTb;
}

// The section and progress logic on the pages' widgets; the range dialog is
// made once and reused.
void TMainFrm::BuildGraphs()
{
    RhoTb->AttachProgressBar(ProgressBar2);
    Section = std::make_unique<TPseudoSection>(*Shell->Model);
    Presenter = std::make_unique<TSectionPresenter>(*Section, *RhoTb->PESGraph1, *RhoTb, UiServices);
    Presenter->Locale = Shell->Locale;
    RhoTb->Attach(Presenter.get(), &UiServices);
    RhoTb->PESGraph1->DocumentName = [this] { return Shell->State.AcquisitionFile; };
    Progress = std::make_unique<TProgressGraph>(*Shell->Model, *ProgressView,
                                                [this] { return PageControl1->currentWidget() == StateTb; });
    RangeFrm = new TRangeFrm(*Presenter, UiServices, this);
    connect(RhoTb->GraphRangeBtn, &QPushButton::clicked, RangeFrm, &TRangeFrm::ShowModeless);
}

TGraph2D &TMainFrm::PseudoSectionGraph() { return *RhoTb->PESGraph1; }
TGraph3D &TMainFrm::ProgressGraph() { return *ProgressView; }
void TMainFrm::InitProgressGraph() { Progress->InitProgressGraph(); }
void TMainFrm::UpdateProgressGraph(int n, int s) { Progress->UpdateProgressGraph(n, s); }
void TMainFrm::RedrawProgressGraph() { Progress->RedrawProgressGraph(); }
void TMainFrm::BuildPseudoSection() { Presenter->BuildPseudoSection(); }

void TMainFrm::UpdatePseudoSection(const TDataRecord *records, int first, int count)
{
    Presenter->UpdatePseudoSection(records, first, count);
}

QWidget *TMainFrm::BuildScriptPage()
{
    QWidget *page = Page("ScriptTb");
    auto *l = new QVBoxLayout(page);
    ScriptPanel = new TScriptPage(*Shell, UiServices, page);
    l->addWidget(ScriptPanel, 1);
    auto *group = new QGroupBox(QStringLiteral("Event log"), page);
    group->setObjectName(QStringLiteral("EventLogGb"));
    auto *gl = new QVBoxLayout(group);
    EditJournal = new QTextEdit(group);
    EditJournal->setObjectName(QStringLiteral("EditJournal"));
    EditJournal->setReadOnly(true);
    // The pane keeps the last lines of a long script; the log file keeps all.
    EditJournal->document()->setMaximumBlockCount(int(Shell->EventLog.MaxLines));
    EditJournal->setAcceptRichText(false);
    EditJournal->setLineWrapMode(QTextEdit::NoWrap);
    EditJournal->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    EditJournal->setStyleSheet(QStringLiteral("QTextEdit { background: white; }"));
    gl->addWidget(EditJournal);
    l->addWidget(group, 1);
    return page;
}

void TMainFrm::ConnectEventLog()
{
    TEventLog &log = Shell->EventLog;
    // A section picture or table that could not be written: red in the log
    // besides the page's own box.
    connect(RhoTb->PESGraph1, &TContourGraph::ExportFailed, this,
            [this](const QString &message) { Shell->EventLog.AddStamped(message, LogColor::Red); });
    log.OnLine = [this](const TLogLine &line) {
        QTextCursor cursor(EditJournal->document());
        cursor.movePosition(QTextCursor::End);
        QTextCharFormat format;
        format.setForeground(FromTColor(line.Color));
        // Every line but the first starts a new block, empty lines included.
        if (Shell->EventLog.Lines().size() > 1)
            cursor.insertBlock();
        cursor.insertText(line.Text, format);
        EditJournal->ensureCursorVisible();
        // The newest line from its start (the time stamp), not from the end
        // of a long line that scrolled the pane sideways.
        EditJournal->horizontalScrollBar()->setValue(0);
    };
    log.OnClear = [this] { EditJournal->clear(); };
    log.OnSaveError = [this](const QString &path, const QString &error) {
        const QString text = QStringLiteral("Event log not saved: %1 (%2)").arg(path, error);
        ShowNotice(text);
        // Shown in the pane, not added to the log: it is the log that failed.
        QTextCursor cursor(EditJournal->document());
        cursor.movePosition(QTextCursor::End);
        QTextCharFormat format;
        format.setForeground(Qt::red);
        if (!EditJournal->document()->isEmpty())
            cursor.insertBlock();
        cursor.insertText(text, format);
        EditJournal->ensureCursorVisible();
        EditJournal->horizontalScrollBar()->setValue(0);
        std::fprintf(stderr, "tarnelpro: %s\n", qPrintable(text));
    };
}

void TMainFrm::EnableConnect(bool enabled)
{
    PowerAction->setEnabled(enabled);
    ConnectBtn->setEnabled(enabled);
    MainGB->setEnabled(enabled);
}

void TMainFrm::SetStatusText(const QString &text) { MainGB->setTitle(text); }

void TMainFrm::ShowLinkIndicator(bool on)
{
    RsOnImg->setVisible(on);
    RsOffImg->setVisible(!on);
    LinkOn = on;
    if (!on) {
        // Values of an instrument no longer connected would mislead.
        for (QLabel *box : {TxBatLblx, RxBatLblx, RxTempLblx}) {
            box->clear();
            box->setStyleSheet(QString());
        }
        for (QProgressBar *gauge : {TxGauge, RxGauge, TempGauge}) {
            gauge->setValue(gauge->minimum());
            gauge->setStyleSheet(QString());
        }
        HealthReading = false;
    }
    UpdateBatteryButton();
}

void TMainFrm::UpdateBatteryButton()
{
    BatterieBtn->setEnabled(LinkOn && !ActionBusy && !HealthReading && !Connecting);
}

void TMainFrm::ShowRunControls(bool visible)
{
    StartButtonPanel->setVisible(visible);
    for (QWidget *w : std::initializer_list<QWidget *>{PauseBtn, NewGpsBtn, StopBtn})
        w->setEnabled(visible);
    UpdateBatteryButton();
}

void TMainFrm::ShowPage(TPage page) { PageControl1->setCurrentIndex(static_cast<int>(page)); }

void TMainFrm::ShowPortImage(int image)
{
    CurrentPortImage = image;
    Image2->setPixmap(PortImage(image, PortImageSize));
    static const char *const tips[] = {"USB (no device)", "USB", "Com 1", "Com 2", "Com 3",
                                       "Com 4", "Com 5", "Com 6", "Bluetooth", "Wavenode (Wi-Fi)"};
    if (image >= 0 && image < 10)
        Image2->setToolTip(QString::fromLatin1(tips[image]));
}

void TMainFrm::TickPortItem(int selector)
{
    const bool known = (selector >= 1 && selector <= 6) || selector == UsbPortSelector || selector == IPPortSelector;
    for (QAction *a : PortGroup->actions()) {
        const int value = a->data().toInt();
        a->setChecked(known ? value == selector : value == 0);
    }
}

int TMainFrm::ChooseAction(int preselected)
{
    TStartFrm dialog(this, preselected, static_cast<bool>(Shell->RunScript));
    return dialog.exec() == QDialog::Accepted ? dialog.Selected() : -1;
}

void TMainFrm::EnableScriptTools(bool enabled) { ScriptPanel->EnableTools(enabled); }

bool TMainFrm::AskStopScript()
{
    return QMessageBox::question(this, QStringLiteral("Stop"), QStringLiteral("Stop acquisition and script"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

bool TMainFrm::AskOverwrite(const QString &path)
{
    return QMessageBox::warning(this, QStringLiteral("File exist"), QStringLiteral("Overwrite file : ") + path,
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

TMainView::TExistingFile TMainFrm::AskExistingFile(const QString &path)
{
    // The overwrite question with a third way: continue the interrupted run in this file.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("File exist"), QStringLiteral("Overwrite file : ") + path,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("ExistingFileBox"));
    QPushButton *resume = box.addButton(QStringLiteral("Resume"), QMessageBox::AcceptRole);
    resume->setObjectName(QStringLiteral("ResumeBtn"));
    resume->setToolTip(QStringLiteral("Continue the acquisition after the last complete group of this file"));
    box.setDefaultButton(QMessageBox::No);
    box.exec();
    if (box.clickedButton() == resume)
        return TExistingFile::Resume;
    return box.clickedButton() == box.button(QMessageBox::Yes) ? TExistingFile::Overwrite : TExistingFile::ChooseOther;
}

QString TMainFrm::ChooseAcquisitionFileDialog(const QString &current)
{
    QFileDialog dialog(this, QStringLiteral("Acquisition data file"), current,
                       QStringLiteral("Acquisition data file (*.bin)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("bin"));
    dialog.selectFile(current);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

void TMainFrm::ShowAcquisitionFile(const QString &) { ConfigurationTb->ShowFiles(); }

void TMainFrm::SetActionRunning(bool running)
{
    // The link cannot change under a running action.
    for (QAction *a : PortGroup->actions())
        a->setEnabled(!running);
    NewGpsBtn->setEnabled(!running);
    ActionBusy = running;
    UpdateBatteryButton();
    ConfigurationTb->setEnabled(!running);
}

void TMainFrm::SetPauseDown(bool down)
{
    PauseBtn->setChecked(down);
    PausedLbl->setVisible(down);
}
void TMainFrm::ShowModeLabel(const QString &mode) { AcquisitonDataTb->ShowMode(mode); }
void TMainFrm::HideDataGroup() { AcquisitonDataTb->HideData(); }

void TMainFrm::ShowQuality(const unsigned *flags, int count, int flagged, int total)
{
    AcquisitonDataTb->ShowQuality(flags, count, flagged, total);
}

void TMainFrm::SetQualityFlags(int quad, unsigned flags) { Presenter->SetQualityFlags(quad, flags); }

void TMainFrm::ClearQualityFlags() { Presenter->ClearQualityFlags(); }

void TMainFrm::ShowResistanceProfile(const TResistanceTable &table, float maximum)
{
    ResistanceTb->ShowProfile(table, maximum);
}

void TMainFrm::ShowMeasurement(const TDataRecord *records, const std::int16_t *electrodes, int n)
{
    AcquisitonDataTb->ShowMeasurement(records, electrodes, n, Shell->Locale);
}

void TMainFrm::ShowProgressLabel(const QString &text) { AcquisitonDataTb->ShowProgress(text); }
void TMainFrm::ShowEstimatedTime(const QString &text) { AcquisitonDataTb->ShowEstimate(text); }

void TMainFrm::SetOverallProgress(int maximum, int position)
{
    ProgressBar2->setRange(0, qMax(1, maximum));
    ProgressBar2->setValue(position);
}

float TMainFrm::MaxResistance() const { return ResistanceTb->MaxResistance(); }
int TMainFrm::NodeSelection() const { return ResistanceTb->NodeSelection(); }
std::array<int, 2> TMainFrm::NodePair() const { return ResistanceTb->NodePair(); }
void TMainFrm::SetNodeCheckPanelEnabled(bool enabled) { ResistanceTb->SetPanelEnabled(enabled); }
void TMainFrm::ShowMaximumFlash(bool shown) { ResistanceTb->ShowMaximumFlash(shown); }
void TMainFrm::ShowSkip(bool shown) { ResistanceTb->ShowSkip(shown); }
void TMainFrm::ShowResistanceChecked(bool shown) { ResistanceTb->ShowChecked(shown); }

void TMainFrm::ShowResistance(int which, const Node &p1, const Node &p2, float r)
{
    ResistanceTb->ShowResistance(which, p1, p2, r, Shell->Locale);
}

void TMainFrm::SetConnectPressed(bool pressed) { PowerAction->setChecked(pressed); }

void TMainFrm::EnableHealthTimer(bool enabled)
{
    if (enabled)
        Timer1->start();
    else
        Timer1->stop();
}

namespace {
QColor HealthColor(THealthColor c)
{
    switch (c) {
    case THealthColor::Lime:
        return QColor(0, 255, 0);
    case THealthColor::Orange:
        return QColor(255, 128, 0);
    case THealthColor::Red:
        return QColor(255, 0, 0);
    default:
        return QColor(0, 0, 0);
    }
}
} // namespace

void TMainFrm::ShowHealth(const THealthDisplay &display)
{
    QLabel *boxes[] = {TxBatLblx, RxBatLblx, RxTempLblx};
    QProgressBar *gauges[] = {TxGauge, RxGauge, TempGauge};
    for (std::size_t i = 0; i < 3; ++i) {
        boxes[i]->setText(display.Texts[i]);
        boxes[i]->setStyleSheet(QStringLiteral("QLabel { color: rgb(0,255,0); background: %1; }")
                                    .arg(HealthColor(display.BoxColors[i]).name()));
        gauges[i]->setValue(qBound(gauges[i]->minimum(), display.GaugePositions[i], gauges[i]->maximum()));
        if (display.BarColors[i] != THealthColor::Keep)
            gauges[i]->setStyleSheet(QStringLiteral("QProgressBar::chunk { background: %1; }")
                                         .arg(HealthColor(display.BarColors[i]).name()));
    }
}

void TMainFrm::SetBatteryButtonVisible(bool visible)
{
    // Greyed while the values are read; it never leaves the status bar.
    HealthReading = !visible;
    UpdateBatteryButton();
}

TPage TMainFrm::CurrentPage() const { return static_cast<TPage>(PageControl1->currentIndex()); }

void TMainFrm::CommitEdits() { ConfigurationTb->CommitEdits(); }

void TMainFrm::ShowSurveyFiles()
{
    ConfigurationTb->ShowSurveyFiles();
    // Electrodes checked before no longer match a new layout.
    ResistanceTb->ShowChecked(false);
}

void TMainFrm::ShowSettings()
{
    Communicationspeed1->setChecked(Shell->State.HighSpeedChecked);
    ConfigurationTb->ShowFiles();
    ConfigurationTb->ShowParameters();
}

void TMainFrm::EnableChildControls(QWidget *container, bool enable, bool deep)
{
    if (!container)
        return;
    const auto options = deep ? Qt::FindChildrenRecursively : Qt::FindDirectChildrenOnly;
    for (QWidget *child : container->findChildren<QWidget *>(QString(), options))
        child->setEnabled(enable);
}

namespace {
// Shortens the label's path again whenever the label changes size.
class TElideOnResize : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize) {
            auto *label = static_cast<QLabel *>(watched);
            const QString path = label->property("fullPath").toString();
            label->setText(TMainFrm::ShortPath(path, label->fontMetrics(), qMax(20, label->contentsRect().width() - 4)));
        }
        return false;
    }
};
} // namespace

void TMainFrm::ShowShortPath(QLabel *label, const QString &path)
{
    if (!label->property("fullPath").isValid())
        label->installEventFilter(new TElideOnResize(label));
    label->setProperty("fullPath", path);
    label->setToolTip(path);
    const int width = qMax(20, label->contentsRect().width() - 4);
    label->setText(ShortPath(path, label->fontMetrics(), width));
}

QString TMainFrm::ShortPath(const QString &path, const QFontMetrics &metrics, int width)
{
    if (metrics.horizontalAdvance(path) <= width)
        return path;
    const QStringList parts = path.split(QLatin1Char('/'));
    const QString ellipsis = QStringLiteral("\u2026/");
    for (qsizetype first = 1; first < parts.size(); ++first) {
        const QString candidate = ellipsis + parts.sliced(first).join(QLatin1Char('/'));
        if (metrics.horizontalAdvance(candidate) <= width)
            return candidate;
    }
    return metrics.elidedText(parts.last(), Qt::ElideMiddle, width);
}

void TMainFrm::ShowNotice(const QString &text)
{
    NoticeLbl->setToolTip(text);
    NoticeLbl->setText(NoticeLbl->fontMetrics().elidedText(text, Qt::ElideRight, qMax(40, NoticeLbl->width())));
    NoticeLbl->setProperty("fullText", text);
    NoticeLbl->setVisible(!text.isEmpty());
}

QString TMainFrm::NoticeText() const { return NoticeLbl->property("fullText").toString(); }

void TMainFrm::ShowHelp() { ShowNotice(OpenManual()); }

void TMainFrm::PageControl1Change(int)
{
    Guarded(UiServices, [&] { Presenter->PageControl1Change(); });
}

void TMainFrm::BitBtn1Click()
{
    const QString file = Shell->State.AcquisitionFile;
    if (!QFileInfo(file).isFile())
        ShowNotice(QStringLiteral("No acquisition file yet: %1").arg(file));
    else if (!OpenWithDesktop(QUrl::fromLocalFile(file)))
        ShowNotice(QStringLiteral("No program to open %1").arg(file));
    else
        ShowNotice(QString());
}

void TMainFrm::Apropos1Click()
{
    TAboutBoxFrm about(this);
    about.exec();
}

bool TMainFrm::GrabPages(const QString &folder)
{
    QDir().mkpath(folder);
    bool ok = true;
    for (int i = 0; i < PageControl1->count(); ++i) {
        PageControl1->setCurrentIndex(i);
        for (int k = 0; k < 5; ++k)
            QCoreApplication::processEvents();
        const QString name = PageControl1->widget(i)->objectName();
        QPixmap shot = grab();
        // The 3-D view is a window of its own that a grab does not see.
        if (PageControl1->widget(i) == StateTb && ProgressView->CanRender()) {
            QPainter painter(&shot);
            painter.drawImage(ProgressView->mapTo(this, QPoint(0, 0)), ProgressView->Picture(ProgressView->size()));
        }
        ok = shot.save(QStringLiteral("%1/page-%2-%3.png").arg(folder).arg(i + 1).arg(name)) && ok;
    }
    PageControl1->setCurrentIndex(0);
    return ok;
}

void TMainFrm::closeEvent(QCloseEvent *event)
{
    Guarded(UiServices, [&] { Shell->CloseRequested(); });
    if (Shell->ActionRunning && !AbandonTimer) {
        UiServices.Closed = true;
        // The action ends its group by itself; one that still waits on the
        // instrument after a few seconds is given up by closing the link.
        AbandonTimer = new QTimer(this);
        AbandonTimer->setSingleShot(true);
        connect(AbandonTimer, &QTimer::timeout, this, [this] { Shell->AbandonAction(); });
        AbandonTimer->start(AbandonAfterCloseMs);
    }
    event->accept();
}
