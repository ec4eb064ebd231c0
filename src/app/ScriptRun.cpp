// The script runner of the controller: what a start-configuration event does
// in the program, and the run state the waits look at.
#include "app/Shell.h"

#include "app/MainView.h"
#include "base/TarnelError.h"
#include "instrument/VoltixPro.h"
#include "link/PortVirt.h"

#include <QFileInfo>

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
        Shell.RunScriptedAcquisition(path);
        return true;
    }

    bool AskStopScript() override { return Shell.View.AskStopScript(); }

    // Running, not idle: the script is still the action in progress, so
    // Pause keeps working in the waits that follow.
    void ConfigurationDone() override
    {
        Shell.State.RunState = TRunState::Running;
        Shell.InterruptWaits = false;
        Shell.View.SetPauseDown(false);
    }

private:
    TShell &Shell;
};
} // namespace

void TShell::RunScriptedAcquisition(const QString &path)
{
    try {
        if (!QFileInfo(path).isFile())
            throw ETarnelError(QStringLiteral("Configuration file not found: ") + path);
        if (!LoadConfiguration(path))
            throw ETarnelError(QStringLiteral("Configuration file cannot be read: ") + path);
        View.BuildPseudoSection();
        State.AcquisitionFile = FreeFileName(State.AcquisitionFile);
        View.ShowAcquisitionFile(State.AcquisitionFile);
        // Nothing to measure: no reason to wake the link for it.
        if (Model->QuadCount <= 0)
            throw ETarnelError(QStringLiteral("No quadripole to measure: load a quadripole file first"));
        EnsureLink();
        State.RunState = TRunState::Running;
        if (RunAcquisition() == TRunEnd::Aborted)
            throw ETarnelError(QStringLiteral("Acquisition stopped by a battery or temperature alarm"));
        if (!State.DuplicateAcquisitionFile.isEmpty() && State.DuplicateAcquisition)
            CopyDuplicate();
    } catch (const EInterrupted &) {
        // Stop during the reconnection: not a failure of the event.
        InterruptWaits = false;
    } catch (const ETarnelError &e) {
        // The clean-up of a plain acquisition: reason and group in red,
        // electrodes released, the link shown as it is.
        ActionFailed(e.Message());
        throw EReported(e.Message());
    } catch (const std::exception &e) {
        ActionFailed(QString::fromLocal8Bit(e.what()));
        throw EReported(QString::fromLocal8Bit(e.what()));
    }
}

TScriptRunner::TEnd TShell::RunScriptLines()
{
    TShellScriptHost host(*this);
    TScriptRunner runner(Ui, EventLog, host);
    runner.Now = EventLog.Now;
    runner.OnFailure = OnScriptFailure;
    LastRunEnd = TRunEnd::Normal;
    // Nobody is there to answer a box: each becomes a red log line, and a
    // silent instrument ends its exchange instead of waiting for a click.
    struct TUnattended {
        TShell &Shell;
        bool Was;
        explicit TUnattended(TShell &s) : Shell(s), Was(s.Guard.Unattended)
        {
            Shell.Guard.Unattended = true;
            Shell.WatchPort();
        }
        ~TUnattended()
        {
            Shell.Guard.Unattended = Was;
            Shell.WatchPort();
        }
    } unattended(*this);
    LastScriptEnd = runner.Run(Script.Lines);
    ScriptFailures = runner.FailedEvents;
    return LastScriptEnd;
}
