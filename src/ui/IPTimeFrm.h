#pragma once
// "IP time": the delay and the twenty IP window widths, editable in the
// "Programmable" IP mode. The dialog comes back until every window ends
// within the pulse.
#include <QDialog>

struct TStartParameters;
class QLineEdit;
class QTableWidget;
class QGroupBox;

class TIPTimeFrm : public QDialog {
    Q_OBJECT
public:
    TIPTimeFrm(QWidget *parent, bool editable);

    void Fill(const TStartParameters &p);
    QLineEdit *MdlyEdt;
    QTableWidget *TmStg;

    // Shows the dialog until all windows fit (or it is cancelled); the
    // entries go into p after each OK when the controls are enabled.
    static void Run(QWidget *parent, TStartParameters &p, bool programmable, const std::function<void()> &beep);

private:
    QGroupBox *Group;
};
