#pragma once
// What the headless layers need from the user interface. The main window
// implements it with widgets, tarnelpro-cli with the console, tests with a
// scripted fake, so that every acquisition path runs without a window.
#include <QString>

// A question the program's core puts to whoever drives it: a notice or an
// error to read, a confirmation (OK/Cancel), or a line of text to enter. The
// core never opens a box itself; the front end answers, and an unattended run
// answers by the one policy of TUnattendedUi.
struct TQuestion {
    enum class TKind { Notice, Error, Confirm, Text };
    TKind Kind = TKind::Notice;
    QString Title;
    QString Text;
    // Text: the value offered (and kept when cancelled).
    QString Value;
    // Confirm: asked again because what it asks for is still not done (a
    // cable still missing). Nobody being there, an unattended run cancels it.
    bool Repeated = false;

    static TQuestion Notice(const QString &text) { return {TKind::Notice, {}, text, {}, false}; }
    static TQuestion Error(const QString &title, const QString &text) { return {TKind::Error, title, text, {}, false}; }
    static TQuestion Confirm(const QString &title, const QString &text, bool repeated = false)
    {
        return {TKind::Confirm, title, text, {}, repeated};
    }
    static TQuestion Input(const QString &title, const QString &prompt, const QString &value)
    {
        return {TKind::Text, title, prompt, value, false};
    }
};

struct TAnswer {
    // OK chosen (a notice or an error is always accepted once seen).
    bool Accepted = false;
    // Text: what was entered.
    QString Value;
    explicit operator bool() const { return Accepted; }
};

class TUserInterface {
public:
    virtual ~TUserInterface() = default;

    // Puts a question of the core to the front end. By default it is shown
    // with the boxes below.
    virtual TAnswer Ask(const TQuestion &question)
    {
        TAnswer answer{true, question.Value};
        switch (question.Kind) {
        case TQuestion::TKind::Notice:
            Message(question.Text);
            break;
        case TQuestion::TKind::Error:
            ErrorBox(question.Title, question.Text);
            break;
        case TQuestion::TKind::Confirm:
            answer.Accepted = Confirm(question.Text, question.Title);
            break;
        case TQuestion::TKind::Text:
            answer.Accepted = InputPrompt(question.Title, question.Text, answer.Value);
            if (!answer.Accepted)
                answer.Value = question.Value;
            break;
        }
        return answer;
    }

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
