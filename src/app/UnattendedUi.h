#pragma once
// The user-interface services as an unattended run sees them: while a script
// runs nobody is there to click a box, so a message or an error box becomes a
// line for the event log and a question takes its default answer. Otherwise
// everything goes to the real services.
#include "base/UserInterface.h"

#include <functional>

class TUnattendedUi final : public TUserInterface {
public:
    explicit TUnattendedUi(TUserInterface &real) : Real(real) {}

    bool Unattended = false;
    // Receives what would have been a box while Unattended.
    std::function<void(const QString &text)> OnBox;

    void Yield() override
    {
        Asked.clear();
        Real.Yield();
    }
    void WaitEvents(int maxWaitMs) override
    {
        Asked.clear();
        Real.WaitEvents(maxWaitMs);
    }
    void BusyIndicator(bool on) override { Real.BusyIndicator(on); }
    bool Confirm(const QString &text, const QString &title) override
    {
        if (!Unattended)
            return Real.Confirm(text, title);
        // The same question again before anything happened waits for a hand
        // (a cable to plug in): nobody is there to give it.
        if (text == Asked) {
            Asked.clear();
            Report(title + QStringLiteral(": ") + text + QStringLiteral(" (cancelled, unattended)"));
            return false;
        }
        Asked = text;
        Report(title + QStringLiteral(": ") + text + QStringLiteral(" (OK, unattended)"));
        return true;
    }
    void Message(const QString &text) override { Unattended ? Report(text) : Real.Message(text); }
    void ErrorBox(const QString &title, const QString &text) override
    {
        Unattended ? Report(text) : Real.ErrorBox(title, text);
    }
    bool InputPrompt(const QString &caption, const QString &prompt, QString &value) override
    {
        if (!Unattended)
            return Real.InputPrompt(caption, prompt, value);
        Report(caption + QStringLiteral(": ") + prompt + QStringLiteral(" (cancelled, unattended)"));
        return false;
    }
    void SetProgressRange(int minimum, int maximum) override { Real.SetProgressRange(minimum, maximum); }
    void SetProgressPosition(int position) override { Real.SetProgressPosition(position); }
    int ProgressPosition() const override { return Real.ProgressPosition(); }
    int ProgressMaximum() const override { return Real.ProgressMaximum(); }
    void ShowErrorIndicator(bool visible) override { Real.ShowErrorIndicator(visible); }
    void Beep() override { Real.Beep(); }

private:
    // One log line, however many lines the box had.
    void Report(QString text)
    {
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (OnBox)
            OnBox(text.simplified());
    }
    TUserInterface &Real;
    QString Asked;
};
