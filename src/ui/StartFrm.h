#pragma once
// "Start": which action the Start button runs.
#include <QDialog>

class QButtonGroup;

class TStartFrm : public QDialog {
    Q_OBJECT
public:
    // Without a script runner "Run Script" is shown but cannot be chosen.
    TStartFrm(QWidget *parent, int preselected, bool scriptsAvailable);
    int Selected() const;

private:
    QButtonGroup *StartGb;
};
