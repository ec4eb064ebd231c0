#include "ui/IPTimeFrm.h"

#include "instrument/Parameters.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QVBoxLayout>

TIPTimeFrm::TIPTimeFrm(QWidget *parent, bool editable) : QDialog(parent)
{
    setObjectName(QStringLiteral("IPTimeFrm"));
    setWindowTitle(QStringLiteral("IP time"));
    auto *column = new QVBoxLayout(this);
    Group = new QGroupBox(QStringLiteral("IP Timing (ms) "), this);
    auto *g = new QVBoxLayout(Group);
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("M delay :"), Group));
    MdlyEdt = new QLineEdit(Group);
    MdlyEdt->setObjectName(QStringLiteral("MdlyEdt"));
    MdlyEdt->setFixedWidth(70);
    row->addWidget(MdlyEdt);
    row->addStretch(1);
    g->addLayout(row);
    TmStg = new QTableWidget(5, 4, Group);
    TmStg->setObjectName(QStringLiteral("TmStg"));
    QStringList headers;
    for (int c = 0; c < 4; ++c)
        headers << QStringLiteral("TM %1 / %2").arg(5 * c + 1).arg(5 * c + 5);
    TmStg->setHorizontalHeaderLabels(headers);
    TmStg->verticalHeader()->hide();
    TmStg->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    TmStg->setMinimumSize(360, 180);
    g->addWidget(TmStg);
    column->addWidget(Group);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    column->addWidget(buttons);

    Group->setEnabled(editable);
    if (!editable)
        TmStg->setStyleSheet(QStringLiteral("QTableWidget { color: grey; }"));
}

void TIPTimeFrm::Fill(const TStartParameters &p)
{
    MdlyEdt->setText(QString::number(p.MDly * 10));
    for (int i = 0; i < 20; ++i)
        TmStg->setItem(i % 5, i / 5, new QTableWidgetItem(QString::number(p.TM[std::size_t(i)] * 10)));
}

void TIPTimeFrm::Run(QWidget *parent, TStartParameters &p, bool programmable, const std::function<void()> &beep)
{
    for (;;) {
        TIPTimeFrm dialog(parent, programmable);
        dialog.Fill(p);
        if (dialog.exec() != QDialog::Accepted || !programmable)
            return;
        std::array<QString, 20> widths;
        for (int i = 0; i < 20; ++i) {
            const QTableWidgetItem *item = dialog.TmStg->item(i % 5, i / 5);
            widths[std::size_t(i)] = item ? item->text() : QString();
        }
        if (!ApplyIPWindows(p, dialog.MdlyEdt->text(), widths))
            return;
        beep();
    }
}
