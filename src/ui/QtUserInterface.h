#pragma once
// The user-interface services on widgets: message boxes, the hourglass, the
// transfer progress bar ProgressBar1 and the "Crc error" label.
#include "base/UserInterface.h"

#include <QPointer>

class QLabel;
class QProgressBar;
class QWidget;

class TQtUserInterface : public TUserInterface {
public:
    explicit TQtUserInterface(QWidget *owner) : Owner(owner) {}
    void Attach(QProgressBar *progress, QLabel *errorIndicator);

    void Yield() override;
    void WaitEvents(int maxWaitMs) override;
    void BusyIndicator(bool on) override;
    bool Confirm(const QString &text, const QString &title) override;
    void Message(const QString &text) override;
    void ErrorBox(const QString &title, const QString &text) override;
    bool InputPrompt(const QString &caption, const QString &prompt, QString &value) override;
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgressPosition(int position) override;
    int ProgressPosition() const override;
    int ProgressMaximum() const override;
    void ShowErrorIndicator(bool visible) override;
    void Beep() override;

    // Once the window has closed, messages go to stderr: a modal box on a
    // closed window would hold the program open.
    bool Closed = false;

private:
    QWidget *Owner;
    QPointer<QProgressBar> Progress;
    QPointer<QLabel> ErrorLabel;
    bool Busy = false;
};
