#pragma once
// An edit with an up-down spinner. The edit accepts any text, so the rule of
// the setting decides what an entry becomes; the spinner steps within its own
// range and gives the focus to the edit, whose rule then runs when the focus
// leaves it.
#include <QLineEdit>
#include <QWidget>

#include <functional>

class QToolButton;

// Runs rule when the operator leaves the edit (focus moves away) or presses
// Enter, whether or not the text was typed or set by a spinner.
void OnLeave(QLineEdit *edit, std::function<void()> rule);

class TUpDownEdit : public QWidget {
    Q_OBJECT
public:
    TUpDownEdit(const QString &editName, int minimum, int maximum, int step, QWidget *parent = nullptr);

    QLineEdit *Edit() const { return Line; }
    void SetRange(int minimum, int maximum);
    int Minimum() const { return Min; }
    int Maximum() const { return Max; }
    void SetText(const QString &text) { Line->setText(text); }
    QString Text() const { return Line->text(); }

    // Runs when the edit loses the focus or Enter is pressed.
    std::function<void()> OnExit;
    // Runs before the spinner steps (the range may follow other settings).
    std::function<void()> OnBeforeStep;

private:
    void Step(int direction);

    QLineEdit *Line;
    QToolButton *Up;
    QToolButton *Down;
    int Min, Max, StepSize;
};
