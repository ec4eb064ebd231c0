#pragma once
// An unattended acquisition in the window, for the pictures of the
// documentation: Connect, Start, every question answered with its default,
// until the run ends.
class TMainFrm;

class TDemoRun {
public:
    // False (with the reason on stderr) when the link did not open.
    static bool Run(TMainFrm &window);
};
