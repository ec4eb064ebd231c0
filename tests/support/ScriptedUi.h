#pragma once
// A scripted user interface for tests: records what the core asked for and
// answers prompts from queues.
#include "base/UserInterface.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

class TScriptedUi : public TUserInterface {
public:
    // Called on every Yield/WaitEvents; tests use it to let simulated time pass
    // or to press Stop from "inside" a wait.
    std::function<void(int waitMs)> OnYield;

    std::deque<bool> ConfirmAnswers;        // empty: OK
    std::deque<QString> InputAnswers;       // empty: cancel
    QStringList Messages;                   // Message texts
    QStringList Errors;                     // "title|text" of error boxes
    QStringList Confirms;                   // texts of the confirmation prompts
    QStringList Prompts;                    // prompts of the input prompts
    int Yields = 0;
    int Beeps = 0;
    bool Busy = false;
    bool ErrorIndicator = false;
    int ProgressMin = 0, ProgressMax = 100, ProgressPos = 0;
    int ProgressPeak = 0;                   // highest position ever set

    std::vector<TQuestion> Asked;           // every question of the core, in order
    TAnswer Ask(const TQuestion &question) override
    {
        Asked.push_back(question);
        return TUserInterface::Ask(question);
    }

    void Yield() override { ++Yields; if (OnYield) OnYield(0); }
    void WaitEvents(int maxWaitMs) override { ++Yields; if (OnYield) OnYield(maxWaitMs); }
    void BusyIndicator(bool on) override { Busy = on; }
    bool Confirm(const QString &text, const QString &) override
    {
        Confirms << text;
        if (ConfirmAnswers.empty())
            return true;
        const bool a = ConfirmAnswers.front();
        ConfirmAnswers.pop_front();
        return a;
    }
    void Message(const QString &text) override { Messages << text; }
    void ErrorBox(const QString &title, const QString &text) override { Errors << title + "|" + text; }
    bool InputPrompt(const QString &, const QString &prompt, QString &value) override
    {
        Prompts << prompt;
        if (InputAnswers.empty())
            return false;
        value = InputAnswers.front();
        InputAnswers.pop_front();
        return true;
    }
    void SetProgressRange(int minimum, int maximum) override { ProgressMin = minimum; ProgressMax = maximum; }
    void SetProgressPosition(int position) override
    {
        ProgressPos = position;
        ProgressPeak = position > ProgressPeak ? position : ProgressPeak;
    }
    int ProgressPosition() const override { return ProgressPos; }
    int ProgressMaximum() const override { return ProgressMax; }
    void ShowErrorIndicator(bool visible) override { ErrorIndicator = visible; }
    void Beep() override { ++Beeps; }
};
