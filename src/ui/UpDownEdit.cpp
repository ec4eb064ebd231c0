#include "ui/UpDownEdit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
class TLeaveFilter : public QObject {
public:
    TLeaveFilter(QLineEdit *edit, std::function<void()> rule) : QObject(edit), Rule(std::move(rule)) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::FocusOut && Rule)
            Rule();
        return false;
    }

private:
    std::function<void()> Rule;
};
} // namespace

void OnLeave(QLineEdit *edit, std::function<void()> rule)
{
    edit->installEventFilter(new TLeaveFilter(edit, rule));
    QObject::connect(edit, &QLineEdit::returnPressed, edit, rule);
}

TUpDownEdit::TUpDownEdit(const QString &editName, int minimum, int maximum, int step, QWidget *parent)
    : QWidget(parent), Min(minimum), Max(maximum), StepSize(step)
{
    setObjectName(editName + QStringLiteral("UpDown"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    Line = new QLineEdit(this);
    Line->setObjectName(editName);
    Line->setFixedWidth(52);
    row->addWidget(Line);
    auto *buttons = new QVBoxLayout;
    buttons->setSpacing(0);
    Up = new QToolButton(this);
    Up->setArrowType(Qt::UpArrow);
    Up->setFixedSize(16, 11);
    Up->setAutoRepeat(true);
    Down = new QToolButton(this);
    Down->setArrowType(Qt::DownArrow);
    Down->setFixedSize(16, 11);
    Down->setAutoRepeat(true);
    buttons->addWidget(Up);
    buttons->addWidget(Down);
    row->addLayout(buttons);
    row->addStretch(1);
    connect(Up, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(Down, &QToolButton::clicked, this, [this] { Step(-1); });
    OnLeave(Line, [this] {
        if (OnExit)
            OnExit();
    });
}

void TUpDownEdit::SetRange(int minimum, int maximum)
{
    Min = minimum;
    Max = maximum;
}

void TUpDownEdit::Step(int direction)
{
    if (OnBeforeStep)
        OnBeforeStep();
    bool ok = false;
    int v = Line->text().trimmed().toInt(&ok);
    if (!ok)
        v = Min;
    v = qBound(Min, v + direction * StepSize, Max);
    Line->setText(QString::number(v));
    Line->setFocus();
}
