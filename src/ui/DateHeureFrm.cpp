#include "ui/DateHeureFrm.h"

#include "base/DateText.h"

#include <QDateEdit>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>

TDateHeureFrm::TDateHeureFrm(QWidget *parent, double *value) : QDialog(parent), Value(value)
{
    setObjectName(QStringLiteral("DateHeureFrm"));
    setWindowTitle(QStringLiteral("Wake up"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    const QDateTime start = value ? FromDayNumber(*value) : QDateTime::currentDateTime();

    auto *grid = new QGridLayout(this);
    auto *dateLbl = new QLabel(QStringLiteral("Date :"), this);
    DatePicker = new QDateEdit(start.date(), this);
    DatePicker->setObjectName(QStringLiteral("DatePicker"));
    DatePicker->setCalendarPopup(true);
    TodayBtn = new QPushButton(QStringLiteral("Today"), this);
    TodayBtn->setObjectName(QStringLiteral("TodayBtn"));
    auto *timeLbl = new QLabel(QStringLiteral("Time :"), this);
    TimePicker = new QTimeEdit(start.time(), this);
    TimePicker->setObjectName(QStringLiteral("TimePicker"));
    TimePicker->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    NowBtn = new QPushButton(QStringLiteral("Now"), this);
    NowBtn->setObjectName(QStringLiteral("NowBtn"));
    grid->addWidget(dateLbl, 0, 0);
    grid->addWidget(DatePicker, 0, 1);
    grid->addWidget(TodayBtn, 0, 2);
    grid->addWidget(timeLbl, 1, 0);
    grid->addWidget(TimePicker, 1, 1);
    grid->addWidget(NowBtn, 1, 2);

    auto *buttons = new QHBoxLayout;
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    grid->addLayout(buttons, 2, 0, 1, 3);

    connect(TodayBtn, &QPushButton::clicked, this, [this] { DatePicker->setDate(QDate::currentDate()); });
    connect(NowBtn, &QPushButton::clicked, this, [this] { TimePicker->setTime(QTime::currentTime()); });
    connect(OKBtn, &QPushButton::clicked, this, &TDateHeureFrm::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject); // Escape does the same
}

void TDateHeureFrm::OKBtnClick()
{
    if (Value)
        *Value = DayNumber(QDateTime(DatePicker->date(), TimePicker->time()));
    accept();
}
