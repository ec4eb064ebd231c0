#pragma once
// What the headless layers need from the user interface. The main window
// implements it with widgets, tarnelpro-cli with the console, tests with a
// scripted fake, so that every acquisition path runs without a window.
#include <QString>

class TUserInterface {
public:
    virtual ~TUserInterface() = default;

    // Processes pending events without waiting.
    virtual void Yield() = 0;
    // Processes events, blocking at most maxWaitMs for one to arrive. Polling
    // loops call this so that waiting for a silent instrument costs no CPU.
    virtual void WaitEvents(int maxWaitMs) = 0;

    virtual void BusyIndicator(bool on) = 0;
    // OK/Cancel question; true when OK was chosen.
    virtual bool Confirm(const QString &text, const QString &title) = 0;
    // Modal message with an OK button.
    virtual void Message(const QString &text) = 0;
    // Modal error box with a title.
    virtual void ErrorBox(const QString &title, const QString &text) = 0;
    // Asks for one line of text; value holds the default and receives the
    // answer. False when the operator cancelled.
    virtual bool InputPrompt(const QString &caption, const QString &prompt, QString &value) = 0;

    virtual void SetProgressRange(int minimum, int maximum) = 0;
    virtual void SetProgressPosition(int position) = 0;
    virtual int ProgressPosition() const = 0;
    virtual int ProgressMaximum() const = 0;

    // The red "Crc error" indicator.
    virtual void ShowErrorIndicator(bool visible) = 0;
    virtual void Beep() = 0;
};

// Shows the busy indicator for as long as it lives, however the operation ends.
class TBusyScope {
public:
    explicit TBusyScope(TUserInterface &ui) : Ui(ui) { Ui.BusyIndicator(true); }
    ~TBusyScope() { Ui.BusyIndicator(false); }
    TBusyScope(const TBusyScope &) = delete;
    TBusyScope &operator=(const TBusyScope &) = delete;

private:
    TUserInterface &Ui;
};
