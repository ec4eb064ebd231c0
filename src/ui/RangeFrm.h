#pragma once
// "Rho display options": the running range of the measured values or a
// manual one for the pseudo-section's colours. Created once, modeless, always
// on top; the range logic is the section presenter's.
#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class TSectionPresenter;
class TUserInterface;

class TRangeFrm : public QDialog {
    Q_OBJECT
public:
    TRangeFrm(TSectionPresenter &presenter, TUserInterface &ui, QWidget *parent);

    // Shows the dialog (or raises it), centred on its parent.
    void ShowModeless();

    void FormShow();
    void AutoScaleRbClick();
    void BitBtn1Click();

    QCheckBox *AutoScaleRb;
    QGroupBox *ScaleGb;
    QLineEdit *MinEdt, *MaxEdt;
    QPushButton *BitBtn1;

protected:
    void showEvent(QShowEvent *event) override;

private:
    TSectionPresenter &Presenter;
    TUserInterface &Ui;

    template <class F>
    void WithDialogState(F &&call);
};
