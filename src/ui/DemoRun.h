#pragma once
// An unattended acquisition in the window, for the pictures of the
// documentation: Connect, Start, every question answered with its default,
// until the run ends.
class QWidget;
class TMainFrm;

class TDemoRun {
public:
    // False (with the reason on stderr) when the link did not open.
    static bool Run(TMainFrm &window);
    // Answers a modal box or dialog as Enter would: OK, else its default button.
    static void AnswerDefault(QWidget *modal);
};
