#pragma once
// The user-interface services as an unattended run sees them: while a script
// runs nobody is there to click a box. Every question of the core is then
// answered by one policy, here, and written to the event log as one line:
//   - a notice or an error is accepted: its text is the line;
//   - a confirmation asks for something done at the instrument (Remote mode,
//     a cable, the Wi-Fi module), which an installed station has: OK; asked
//     again because it is still not done, nobody will do it: Cancel;
//   - a line of text to enter: Cancel, the value offered is kept.
// Attended, everything goes to the real services.
#include "base/UserInterface.h"

#include <functional>

class TUnattendedUi final : public TUserInterface {
public:
    explicit TUnattendedUi(TUserInterface &real) : Real(real) {}

    bool Unattended = false;
    // Receives the line of each question answered while Unattended.
    std::function<void(const QString &text)> OnBox;

    // The policy's answer to question, and the line that says it.
    static TAnswer PolicyAnswer(const TQuestion &question, QString &line)
    {
        const QString asked = question.Title.isEmpty() ? question.Text : question.Title + QStringLiteral(": ") + question.Text;
        switch (question.Kind) {
        case TQuestion::TKind::Notice:
        case TQuestion::TKind::Error:
            line = question.Text;
            return {true, {}};
        case TQuestion::TKind::Confirm:
            line = asked + (question.Repeated ? QStringLiteral(" (cancelled, unattended)") : QStringLiteral(" (OK, unattended)"));
            return {!question.Repeated, {}};
        case TQuestion::TKind::Text:
            line = asked + QStringLiteral(" (cancelled, unattended)");
            return {false, question.Value};
        }
        return {};
    }

    TAnswer Ask(const TQuestion &question) override
    {
        if (!Unattended)
            return Real.Ask(question);
        QString line;
        TAnswer answer = PolicyAnswer(question, line);
        Report(line);
        return answer;
    }

    void Yield() override { Real.Yield(); }
    void WaitEvents(int maxWaitMs) override { Real.WaitEvents(maxWaitMs); }
    void BusyIndicator(bool on) override { Real.BusyIndicator(on); }
    bool Confirm(const QString &text, const QString &title) override
    {
        return Unattended ? Ask(TQuestion::Confirm(title, text)).Accepted : Real.Confirm(text, title);
    }
    void Message(const QString &text) override { Unattended ? void(Ask(TQuestion::Notice(text))) : Real.Message(text); }
    void ErrorBox(const QString &title, const QString &text) override
    {
        Unattended ? void(Ask(TQuestion::Error(title, text))) : Real.ErrorBox(title, text);
    }
    bool InputPrompt(const QString &caption, const QString &prompt, QString &value) override
    {
        if (!Unattended)
            return Real.InputPrompt(caption, prompt, value);
        return Ask(TQuestion::Input(caption, prompt, value)).Accepted;
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
};
