#pragma once
// The wake-up date-and-time dialog: a date picker and a time picker, each with
// a button that sets it to today or to the current time.
#include <QDialog>

class QDateEdit;
class QPushButton;
class QTimeEdit;

class TDateHeureFrm : public QDialog {
    Q_OBJECT
public:
    // value: a day number (days since 1899-12-30); OK writes the chosen date
    // and time back into it, Cancel leaves it. Without a value both pickers
    // show the current date and time.
    explicit TDateHeureFrm(QWidget *parent, double *value = nullptr);

    QDateEdit *DatePicker;
    QTimeEdit *TimePicker;
    QPushButton *TodayBtn, *NowBtn, *OKBtn, *CancelBtn;

private:
    void OKBtnClick();
    double *Value;
};
