#pragma once
// "Start": which action the Start button runs.
#include <QDialog>

class QButtonGroup;

class TStartFrm : public QDialog {
    Q_OBJECT
public:
    TStartFrm(QWidget *parent, int preselected);
    int Selected() const;

private:
    QButtonGroup *StartGb;
};
