// The script runner of the controller: what a start-configuration event does
// in the program, and the run state the waits look at.
#include "app/Shell.h"

#include "app/MainView.h"
#include "base/Folders.h"
#include "base/TarnelError.h"
#include "instrument/DataFile.h"
#include "instrument/VoltixPro.h"
#include "link/PortVirt.h"
#include "script/StationState.h"

#include <QFileInfo>

#include <utility>

namespace {
class TShellScriptHost final : public TScriptHost {
public:
    explicit TShellScriptHost(TShell &shell) : Shell(shell) {}

    bool StopRequested() override { return Shell.State.RunState == TRunState::StopRequested; }
    bool Paused() override { return Shell.State.RunState == TRunState::Paused; }
    void SaveLog() override { Shell.SaveEventLog(); }

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
    // Each event's data file is locked for that event only.
    struct TUnlock {
        TShell &Shell;
        ~TUnlock()
        {
            // The event's last lines still belong to the file it named.
            Shell.SaveEventLog();
            Shell.ScriptLogFile.clear();
            Shell.UnlockDataFile();
        }
    } unlock{*this};
    try {
        // The event's lines (its script line, the link's, the run's) belong
        // to the log of the file it writes; an event refused before it turns
        // to the link (no configuration, nothing to measure) leaves them to
        // the file written before.
        struct THold {
            bool &Held;
            explicit THold(bool &held) : Held(held) { Held = true; }
            ~THold() { Held = false; }
        } hold{HoldEventLog};
        if (!QFileInfo(path).isFile())
            throw ETarnelError(QStringLiteral("Configuration file not found: ") + path);
        if (!LoadConfiguration(path))
            throw ETarnelError(QStringLiteral("Configuration file cannot be read: ") + path);
        View.BuildPseudoSection();
        // After a restart the acquisition that was cut off goes on in its own file.
        const QString interrupted = std::exchange(ResumeDataFile, QString());
        const bool resume = !interrupted.isEmpty() && QFileInfo::exists(interrupted);
        if (resume) {
            LockDataFile(interrupted);
            State.AcquisitionFile = interrupted;
        } else {
            State.AcquisitionFile = LockFreeFileName(State.AcquisitionFile);
        }
        View.ShowAcquisitionFile(State.AcquisitionFile);
        if (OnScriptDataFile)
            OnScriptDataFile(State.AcquisitionFile);
        // Nothing to measure: no reason to wake the link for it.
        CheckActionPossible(ActionAcquisition, false);
        if (resume) {
            Resume = TAcquisitionResume::Plan(State.AcquisitionFile, *Model);
            EventLog.AddStamped(QStringLiteral("Acquisition resumed after restart: ") + State.AcquisitionFile,
                                LogColor::Orange);
        }
        // From here the event waits on the link, perhaps for minutes: its
        // lines go to its file's log now rather than wait in memory.
        ScriptLogFile = State.AcquisitionFile;
        HoldEventLog = false;
        SaveEventLog();
        EnsureLink();
        State.RunState = TRunState::Running;
        if (RunAcquisition() == TRunEnd::Aborted)
            throw ETarnelError(QStringLiteral("Acquisition stopped by a battery or temperature alarm"));
        if (!State.DuplicateAcquisitionFile.isEmpty() && State.DuplicateAcquisition)
            CopyDuplicate();
    } catch (const EInterrupted &) {
        // Stop during the reconnection: not a failure of the event.
        InterruptWaits = false;
    } catch (const EDataFileBusy &e) {
        // Another program's file: its log is not the script's to write.
        DataFileBusy(e.Message());
        throw EReported(e.Kind(), e.Message());
    } catch (const ETarnelError &e) {
        // The clean-up of a plain acquisition: reason and group in red,
        // electrodes released, the link shown as it is.
        ActionFailed(e.Message());
        throw EReported(e.Kind(), e.Message());
    } catch (const std::exception &e) {
        ActionFailed(QString::fromLocal8Bit(e.what()));
        throw EReported(QString::fromLocal8Bit(e.what()));
    }
}

QString TShell::LockFreeFileName(const QString &base)
{
    // Locked before it is looked at: a name another program has just chosen
    // (locked, not yet created) is as taken as an existing file.
    QString candidate = base;
    for (int n = 1;; ++n) {
        if (const QString dangling = DanglingLinkText(candidate); !dangling.isEmpty())
            throw ETarnelError(dangling);
        try {
            LockDataFile(candidate);
            if (!QFileInfo::exists(candidate))
                return candidate;
            UnlockDataFile();
        } catch (const EDataFileBusy &) {
        }
        candidate = ReplaceExtension(base, QString::number(n) + QStringLiteral(".bin"));
        Ui.Yield();
    }
}

TScriptRunner::TEnd TShell::RunScriptLines()
{
    TShellScriptHost host(*this);
    TScriptRunner runner(Ui, EventLog, host);
    runner.Now = EventLog.Now;
    runner.OnFailure = OnScriptFailure;
    runner.OnWait = [this](const QDateTime &until) { Report().Waiting(until); };
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

    // A station keeps where it stands; after a restart it goes on from there.
    TStationState station;
    const auto keep = [this, &station] {
        if (const QString error = station.Save(StationFile); !error.isEmpty())
            FileError(QStringLiteral("Station state not saved: %1: %2").arg(StationFile, error));
    };
    if (!StationFile.isEmpty()) {
        station.Script = StationScript;
        if (station.Load(StationFile) && !station.Finished) {
            runner.StartLine = station.Line;
            runner.StartRepeat = station.Repeat;
            ResumeDataFile = station.DataFile;
            EventLog.AddStamped(QStringLiteral("Script resumed after restart at line %1").arg(station.Line + 1),
                                LogColor::Orange);
        }
        station.Finished = false;
        runner.OnLine = [&](qsizetype line, int repeat) {
            station.Line = line;
            station.Repeat = repeat;
            station.DataFile.clear();
            keep();
        };
        OnScriptDataFile = [&](const QString &file) {
            station.DataFile = file;
            keep();
        };
    }
    LastScriptEnd = runner.Run(Script.Lines);
    ScriptFailures = runner.FailedEvents;
    OnScriptDataFile = nullptr;
    ResumeDataFile.clear();
    // Stopped (by the operator, or a shutdown): the next start goes on.
    if (!StationFile.isEmpty() && LastScriptEnd != TScriptRunner::TEnd::Stopped) {
        station.Finished = true;
        station.DataFile.clear();
        keep();
    }
    return LastScriptEnd;
}
