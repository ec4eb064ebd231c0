#include "ui/RhoPage.h"

#include "app/Guard.h"
#include "graph/SectionPresenter.h"
#include "ui/ContourGraph.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabBar>
#include <QVBoxLayout>

namespace {
QPushButton *Button(QWidget *parent, const char *name, const char *caption)
{
    auto *b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

QSlider *TrackBar(QWidget *parent, const char *name, int minimum, int maximum, int position, QSlider::TickPosition ticks)
{
    auto *s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(minimum, maximum);
    s->setValue(position);
    s->setTickPosition(ticks);
    s->setTickInterval(5);
    s->setPageStep(2);
    return s;
}
} // namespace

TRhoPage::TRhoPage(std::function<bool()> pageShowing, QWidget *parent)
    : QWidget(parent), PageShowing(std::move(pageShowing))
{
    setObjectName(QStringLiteral("RhoTb"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 4, 4, 4);

    auto *left = new QWidget(this);
    left->setObjectName(QStringLiteral("RhoLeftPanel"));
    left->setFixedWidth(170);
    auto *column = new QVBoxLayout(left);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    TabPlane = new QTabBar(left);
    TabPlane->setObjectName(QStringLiteral("TabPlane"));
    TabPlane->setExpanding(false);
    TabPlane->setDrawBase(true);
    for (const char *caption : {"XZ", "YZ", "XY"})
        TabPlane->addTab(QString::fromLatin1(caption));
    TabPlane->setCurrentIndex(0);
    SectionGroup = new QListWidget(left);
    SectionGroup->setObjectName(QStringLiteral("SectionGroup"));
    SectionGroup->setSelectionMode(QAbstractItemView::SingleSelection);
    column->addWidget(TabPlane);
    column->addWidget(SectionGroup, 1);

    auto *bars = new QGridLayout;
    bars->setContentsMargins(0, 4, 0, 4);
    auto *maxLbl = new QLabel(QStringLiteral("Max :"), left);
    maxLbl->setObjectName(QStringLiteral("SMaxLbl"));
    auto *minLbl = new QLabel(QStringLiteral("Min :"), left);
    minLbl->setObjectName(QStringLiteral("SMinLbl"));
    SMax = TrackBar(left, "SMax", 2, 50, 50, QSlider::TicksAbove);
    SMin = TrackBar(left, "SMin", 0, 48, 0, QSlider::TicksBelow);
    bars->addWidget(maxLbl, 0, 0);
    bars->addWidget(SMax, 0, 1);
    bars->addWidget(minLbl, 1, 0);
    bars->addWidget(SMin, 1, 1);
    column->addLayout(bars);

    BitBtnApplyColorScale = Button(left, "BitBtnApplyColorScale", "Apply color scale");
    BitBtnApplyColorScale->setDefault(true);
    BitBtnUnZoom = Button(left, "BitBtnUnZoom", "UnZoom");
    BitBtn3 = Button(left, "BitBtn3", "Print");
    BitBtn5 = Button(left, "BitBtn5", "Export");
    BitBtnMaximize = Button(left, "BitBtnMaximize", "Full Screen");
    GraphRangeBtn = Button(left, "GraphRangeBtn", "Range");
    column->addWidget(BitBtnApplyColorScale);
    auto *buttons = new QGridLayout;
    buttons->setSpacing(2);
    buttons->addWidget(BitBtnUnZoom, 0, 0);
    buttons->addWidget(BitBtn3, 0, 1);
    buttons->addWidget(BitBtn5, 1, 0);
    buttons->addWidget(BitBtnMaximize, 1, 1);
    buttons->addWidget(GraphRangeBtn, 2, 0, 1, 2);
    column->addLayout(buttons);
    HideFlaggedCb = new QCheckBox(QStringLiteral("Hide flagged"), left);
    HideFlaggedCb->setObjectName(QStringLiteral("HideFlaggedCb"));
    HideFlaggedCb->setToolTip(QStringLiteral("Leave out the records the quality control flagged"));
    column->addWidget(HideFlaggedCb);
    row->addWidget(left);

    PESGraph1 = new TContourGraph(this);
    PESGraph1->XAxisLabel(QStringLiteral("mid point (m)"));
    PESGraph1->YAxisLabel(QStringLiteral("report point  (m)"));
    row->addWidget(PESGraph1, 1);

    // Enter applies the colour scale while this page has the focus.
    auto *enter = new QShortcut(QKeySequence(Qt::Key_Return), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    auto *enter2 = new QShortcut(QKeySequence(Qt::Key_Enter), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    for (QShortcut *s : {enter, enter2})
        connect(s, &QShortcut::activated, BitBtnApplyColorScale, &QPushButton::click);

    connect(TabPlane, &QTabBar::currentChanged, this, [this](int) { Forward(&TSectionPresenter::TabPlaneChange); });
    connect(SectionGroup, &QListWidget::currentRowChanged, this,
            [this](int) { Forward(&TSectionPresenter::SectionGroupClick); });
    // A click on a check box changes the item before it becomes current: make
    // it current first, so the section drawn is the one just checked.
    connect(SectionGroup, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        if (item && item->checkState() == Qt::Checked && SectionGroup->currentItem() != item) {
            const QSignalBlocker block(SectionGroup);
            SectionGroup->setCurrentItem(item);
        }
        Forward(&TSectionPresenter::SectionGroupClick);
    });
    connect(BitBtnApplyColorScale, &QPushButton::clicked, this,
            [this] { Forward(&TSectionPresenter::BitBtnApplyColorScaleClick); });
    connect(BitBtnUnZoom, &QPushButton::clicked, this, [this] { Forward(&TSectionPresenter::BitBtnUnZoomClick); });
    connect(BitBtn5, &QPushButton::clicked, this, [this] { Forward(&TSectionPresenter::ExportSection); });
    connect(BitBtnMaximize, &QPushButton::clicked, this, [this] { Forward(&TSectionPresenter::BitBtnMaximizeClick); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { PESGraph1->PEactions(TGraph2DAction::sgPrintDialog); });
    connect(HideFlaggedCb, &QCheckBox::toggled, this, [this] { Forward(&TSectionPresenter::HideFlaggedClick); });
    connect(PESGraph1, &TContourGraph::ExportFailed, this, [this](const QString &message) {
        // Not modal: an acquisition may be running under it.
        auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Export"), message, QMessageBox::Ok, window());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
}

bool TRhoPage::HideFlagged() const { return HideFlaggedCb->isChecked(); }

void TRhoPage::Attach(TSectionPresenter *presenter, TUserInterface *ui)
{
    Presenter = presenter;
    Ui = ui;
}

void TRhoPage::Forward(void (TSectionPresenter::*handler)())
{
    if (!Presenter)
        return;
    TSectionPresenter *presenter = Presenter;
    Guarded(*Ui, [presenter, handler] { (presenter->*handler)(); });
}

// The logic fills and selects these itself: no event goes back to it then.
void TRhoPage::ClearPlaneTabs()
{
    const QSignalBlocker block(TabPlane);
    while (TabPlane->count() > 0)
        TabPlane->removeTab(0);
}

void TRhoPage::AddPlaneTab(const QString &caption)
{
    const QSignalBlocker block(TabPlane);
    TabPlane->addTab(caption);
}

int TRhoPage::PlaneTabCount() const { return TabPlane->count(); }

void TRhoPage::SelectPlaneTab(int index)
{
    const QSignalBlocker block(TabPlane);
    TabPlane->setCurrentIndex(index);
}

int TRhoPage::SelectedPlaneTab() const { return TabPlane->currentIndex(); }

QString TRhoPage::PlaneTabCaption(int index) const { return TabPlane->tabText(index); }

void TRhoPage::ClearSections()
{
    const QSignalBlocker block(SectionGroup);
    SectionGroup->clear();
}

void TRhoPage::AddSection(const QString &caption)
{
    const QSignalBlocker block(SectionGroup);
    auto *item = new QListWidgetItem(caption, SectionGroup);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
}

int TRhoPage::SectionCount() const { return SectionGroup->count(); }

void TRhoPage::SelectSection(int index)
{
    const QSignalBlocker block(SectionGroup);
    SectionGroup->setCurrentRow(index);
}

int TRhoPage::SelectedSection() const
{
    // The current row, not the selection: a mouse press makes the item
    // current (and signals it) before it selects it.
    return SectionGroup->currentRow();
}

void TRhoPage::SetSectionChecked(int index, bool checked)
{
    const QSignalBlocker block(SectionGroup);
    if (QListWidgetItem *item = SectionGroup->item(index))
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

int TRhoPage::SMinPosition() const { return SMin->value(); }
void TRhoPage::SetSMinPosition(int position) { SMin->setValue(position); }
int TRhoPage::SMaxPosition() const { return SMax->value(); }
void TRhoPage::SetSMaxPosition(int position) { SMax->setValue(position); }

int TRhoPage::ProgressPosition() const { return ProgressBar2 ? ProgressBar2->value() : 0; }
int TRhoPage::ProgressMaximum() const { return ProgressBar2 ? ProgressBar2->maximum() : 1; }
void TRhoPage::SetProgress(int position, int maximum)
{
    if (!ProgressBar2)
        return;
    ProgressBar2->setRange(0, qMax(1, maximum));
    ProgressBar2->setValue(position);
}

bool TRhoPage::RhoPageShowing() const { return PageShowing ? PageShowing() : isVisible(); }
