// The script runner of the controller: what a start-configuration event does
// in the program, and the run state the waits look at.
#include "app/Shell.h"

#include "app/MainView.h"
#include "base/TarnelError.h"

namespace {
class TShellScriptHost final : public TScriptHost {
public:
    explicit TShellScriptHost(TShell &shell) : Shell(shell) {}

    bool StopRequested() override { return Shell.State.RunState == TRunState::StopRequested; }
    bool Paused() override { return Shell.State.RunState == TRunState::Paused; }
    // Beside the data file the script last wrote (SurveyA3.bin: SurveyA3_Log.txt),
    // not the configuration's name that the numbering went around.
    void SaveLog() override
    {
        Shell.EventLog.Save(Shell.WrittenDataFile.isEmpty() ? Shell.State.AcquisitionFile : Shell.WrittenDataFile);
    }

    bool StartConfiguration(const QString &path) override
    {
        if (!Shell.LoadConfiguration(path))
            return false;
        Shell.View.BuildPseudoSection();
        // Without a link the acquisition would retry its first group forever.
        if (!Shell.LinkOpen())
            throw ETarnelError(QStringLiteral("No instrument connected"));
        Shell.State.AcquisitionFile = Shell.FreeFileName(Shell.State.AcquisitionFile);
        Shell.View.ShowAcquisitionFile(Shell.State.AcquisitionFile);
        Shell.State.RunState = TRunState::Running;
        Shell.RunAcquisition();
        if (!Shell.State.DuplicateAcquisitionFile.isEmpty() && Shell.State.DuplicateAcquisition)
            Shell.CopyDuplicate();
        return true;
    }

    bool AskStopScript() override { return Shell.View.AskStopScript(); }

    // Running, not idle: the script is still the action in progress, so
    // Pause keeps working in the waits that follow.
    void ConfigurationDone() override { Shell.State.RunState = TRunState::Running; }

private:
    TShell &Shell;
};
} // namespace

TScriptRunner::TEnd TShell::RunScriptLines()
{
    TShellScriptHost host(*this);
    TScriptRunner runner(Ui, EventLog, host);
    runner.Now = EventLog.Now;
    runner.OnFailure = OnScriptFailure;
    LastRunEnd = TRunEnd::Normal;
    LastScriptEnd = runner.Run(Script.Lines);
    return LastScriptEnd;
}
