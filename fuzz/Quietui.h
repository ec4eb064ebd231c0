#pragma once
// A user interface that answers nothing and shows nothing, for the fuzzers.
#include "base/Uiservices.h"

class TQuietUi final : public TUserInterface {
public:
    void Yield() override {}
    void WaitEvents(int) override {}
    void BusyIndicator(bool) override {}
    bool Confirm(const QString &, const QString &) override { return true; }
    void Message(const QString &) override {}
    void ErrorBox(const QString &, const QString &) override {}
    bool InputPrompt(const QString &, const QString &, QString &) override { return false; }
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    int ProgressPosition() const override { return 0; }
    int ProgressMaximum() const override { return 0; }
    void ShowErrorIndicator(bool) override {}
    void Beep() override {}
};
