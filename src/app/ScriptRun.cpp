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
            throw ETarnelError(QStringLiteral("Configuration file cannot be read: ") + path);
        Shell.View.BuildPseudoSection();
        // A link that dropped since the last event (a reboot, a loose cable)
        // is tried again before giving this event up.
        if (!Shell.LinkOpen() && !Shell.Reconnect())
            throw ETarnelError(QStringLiteral("No instrument connected: the link is down"));
        Shell.State.AcquisitionFile = Shell.FreeFileName(Shell.State.AcquisitionFile);
        Shell.View.ShowAcquisitionFile(Shell.State.AcquisitionFile);
        Shell.State.RunState = TRunState::Running;
        try {
            Shell.RunAcquisition();
        } catch (const ETarnelError &e) {
            // The clean-up of a plain acquisition: reason and group in red,
            // electrodes released, the link shown as it is.
            Shell.ActionFailed(e.Message());
            throw EReported(e.Message());
        }
        if (!Shell.State.DuplicateAcquisitionFile.isEmpty() && Shell.State.DuplicateAcquisition)
            Shell.CopyDuplicate();
        return true;
    }

    bool AskStopScript() override { return Shell.View.AskStopScript(); }

    // Running, not idle: the script is still the action in progress, so
    // Pause keeps working in the waits that follow.
    void ConfigurationDone() override
    {
        Shell.State.RunState = TRunState::Running;
        Shell.View.SetPauseDown(false);
    }

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
    runner.OnWait = [this](const QDateTime &until) { Report().Waiting(until); };
    LastRunEnd = TRunEnd::Normal;
    // Nobody is there to answer a box: each becomes a red log line.
    struct TUnattended {
        TUnattendedUi &Guard;
        bool Was;
        explicit TUnattended(TUnattendedUi &g) : Guard(g), Was(g.Unattended) { Guard.Unattended = true; }
        ~TUnattended() { Guard.Unattended = Was; }
    } unattended(Guard);
    LastScriptEnd = runner.Run(Script.Lines);
    ScriptFailures = runner.FailedEvents;
    return LastScriptEnd;
}
