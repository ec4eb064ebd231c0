#include "ui/RangeFrm.h"

#include "app/Guard.h"
#include "graph/SectionPresenter.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TRangeFrm::TRangeFrm(TSectionPresenter &presenter, TUserInterface &ui, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint), Presenter(presenter),
      Ui(ui)
{
    setObjectName(QStringLiteral("RangeFrm"));
    setWindowTitle(QStringLiteral("Rho display options"));
    setModal(false);
    auto *column = new QVBoxLayout(this);
    AutoScaleRb = new QCheckBox(QStringLiteral("Full range"), this);
    AutoScaleRb->setObjectName(QStringLiteral("AutoScaleRb"));
    AutoScaleRb->setChecked(true);
    column->addWidget(AutoScaleRb);
    ScaleGb = new QGroupBox(QStringLiteral("Range"), this);
    ScaleGb->setObjectName(QStringLiteral("ScaleGb"));
    auto *grid = new QGridLayout(ScaleGb);
    auto *minLbl = new QLabel(QStringLiteral("Minimum :"), ScaleGb);
    minLbl->setObjectName(QStringLiteral("Label1"));
    auto *maxLbl = new QLabel(QStringLiteral("Maximum :"), ScaleGb);
    maxLbl->setObjectName(QStringLiteral("Label2"));
    MinEdt = new QLineEdit(QStringLiteral("0"), ScaleGb);
    MinEdt->setObjectName(QStringLiteral("MinEdt"));
    MaxEdt = new QLineEdit(QStringLiteral("1000"), ScaleGb);
    MaxEdt->setObjectName(QStringLiteral("MaxEdt"));
    grid->addWidget(minLbl, 0, 0);
    grid->addWidget(MinEdt, 0, 1);
    grid->addWidget(maxLbl, 1, 0);
    grid->addWidget(MaxEdt, 1, 1);
    column->addWidget(ScaleGb);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    column->addWidget(BitBtn1, 0, Qt::AlignRight);
    for (QWidget *w : ScaleGb->findChildren<QWidget *>())
        w->setEnabled(false);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    connect(AutoScaleRb, &QCheckBox::clicked, this, &TRangeFrm::AutoScaleRbClick);
    connect(BitBtn1, &QPushButton::clicked, this, &TRangeFrm::BitBtn1Click);
}

// The presenter works on a copy of the controls; what it changes comes back.
template <class F>
void TRangeFrm::WithDialogState(F &&call)
{
    TSectionPresenter::TRangeDialog d;
    d.FullRange = AutoScaleRb->isChecked();
    d.MinText = MinEdt->text();
    d.MaxText = MaxEdt->text();
    d.RangeEnabled = MinEdt->isEnabled();
    Guarded(Ui, [&] { call(d); });
    MinEdt->setText(d.MinText);
    MaxEdt->setText(d.MaxText);
    for (QWidget *w : ScaleGb->findChildren<QWidget *>())
        w->setEnabled(d.RangeEnabled);
}

void TRangeFrm::ShowModeless()
{
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    adjustSize();
    if (QWidget *owner = parentWidget()) {
        const QRect area = owner->window()->frameGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void TRangeFrm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TRangeFrm::FormShow()
{
    WithDialogState([this](TSectionPresenter::TRangeDialog &d) { Presenter.FormShow(d); });
}

void TRangeFrm::AutoScaleRbClick()
{
    WithDialogState([this](TSectionPresenter::TRangeDialog &d) { Presenter.AutoScaleRbClick(d); });
}

void TRangeFrm::BitBtn1Click()
{
    bool close = false;
    QString problem;
    WithDialogState([&](TSectionPresenter::TRangeDialog &d) {
        problem = Presenter.RangeProblem(d);
        close = Presenter.BitBtn1Click(d);
    });
    if (close)
        accept();
    // After closing: this dialog stays on top and would hide the box.
    if (!problem.isEmpty())
        Ui.Message(problem);
}
