#include "ui/StartFrm.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TStartFrm::TStartFrm(QWidget *parent, int preselected, bool scriptsAvailable) : QDialog(parent)
{
    setObjectName(QStringLiteral("StartFrm"));
    setWindowTitle(QStringLiteral("Start"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(273, 237);
    auto *column = new QVBoxLayout(this);
    auto *group = new QGroupBox(QStringLiteral("Select action"), this);
    group->setObjectName(QStringLiteral("StartGb"));
    auto *g = new QVBoxLayout(group);
    StartGb = new QButtonGroup(this);
    const char *items[] = {"Start acquisition", "Check resistance", "Run Script"};
    for (int i = 0; i < 3; ++i) {
        auto *b = new QRadioButton(QString::fromLatin1(items[i]), group);
        StartGb->addButton(b, i);
        g->addWidget(b);
    }
    StartGb->button(2)->setEnabled(scriptsAvailable);
    if (!scriptsAvailable && preselected == 2)
        preselected = 0;
    if (QAbstractButton *b = StartGb->button(preselected))
        b->setChecked(true);
    column->addWidget(group);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
}

int TStartFrm::Selected() const { return StartGb->checkedId(); }
