#pragma once
// User-interface services that show nothing and ask nobody: for the
// simulator, benchmarks and fuzzers, which run the program's code without an
// operator. Messages are kept for whoever wants to look at them.
#include "base/UserInterface.h"

#include <QStringList>

class TSilentUi : public TUserInterface {
public:
    QStringList Messages;
    bool ConfirmAnswer = true;

    void Yield() override {}
    void WaitEvents(int) override {}
    void BusyIndicator(bool) override {}
    bool Confirm(const QString &, const QString &) override { return ConfirmAnswer; }
    void Message(const QString &text) override { Messages << text; }
    void ErrorBox(const QString &, const QString &text) override { Messages << text; }
    bool InputPrompt(const QString &, const QString &, QString &) override { return false; }
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    int ProgressPosition() const override { return 0; }
    int ProgressMaximum() const override { return 0; }
    void ShowErrorIndicator(bool) override {}
    void Beep() override {}
};
