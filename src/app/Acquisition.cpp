// Start, Stop and Pause, and the acquisition run of the controller.
#include "app/Shell.h"

#include "base/SafeFile.h"

#include "app/Guard.h"
#include "app/MainView.h"
#include "base/Clock.h"
#include "base/Folders.h"
#include "base/TarnelError.h"
#include "base/UserInterface.h"
#include "instrument/DataFile.h"
#include "instrument/DataFileReader.h"
#include "instrument/DataRecord.h"
#include "instrument/Generation.h"
#include "instrument/VoltixPro.h"
#include "link/PortVirt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <exception>
#include <optional>
#include <utility>

namespace {
// Puts the window back after an action, however it ends.
class TActionScope {
public:
    explicit TActionScope(TShell &shell) : Shell(shell)
    {
        Shell.View.EnableHealthTimer(false);
        Shell.View.SetActionRunning(true);
        Shell.ActionRunning = true;
        Shell.InterruptWaits = false;
        Shell.State.RunState = TRunState::Running;
        Shell.Report().ActionStarted();
    }
    ~TActionScope()
    {
        Shell.Report().ActionEnded(std::uncaught_exceptions() > Exceptions);
        Shell.ActionRunning = false;
        Shell.Measuring = false;
        Shell.InterruptWaits = false;
        Shell.View.SetActionRunning(false);
        // A Pause pressed during the last group ends with the run: the next
        // run must not show "Paused" while the instrument measures.
        Shell.State.RunState = TRunState::Idle;
        Shell.View.SetPauseDown(false);
        if (Shell.LinkOpen())
            Shell.View.EnableHealthTimer(true);
        else if (!Shell.LinkShownUp)
            Shell.ShowRunControls(false); // kept for Stop while the action ran on
        try {
            Shell.DisconnectIfPending();
        } catch (const std::exception &) {
            // Closing a link that failed is best effort here.
        }
    }
    TActionScope(const TActionScope &) = delete;
    TActionScope &operator=(const TActionScope &) = delete;

private:
    TShell &Shell;
    const int Exceptions = std::uncaught_exceptions();
};

// Tells the report how an acquisition's data file ended, however the run ends.
class TRunEndReport {
public:
    TRunEndReport(TShell &shell, const int &done) : Shell(shell), Done(done) {}
    ~TRunEndReport()
    {
        auto exit = TRunObserver::TRunExit::Completed;
        if (std::uncaught_exceptions() > Exceptions)
            exit = TRunObserver::TRunExit::Error;
        else if (Shell.LastRunEnd == TShell::TRunEnd::Aborted)
            exit = TRunObserver::TRunExit::Alarm;
        else if (Done < Shell.Model->QuadCount)
            exit = TRunObserver::TRunExit::Stopped;
        Shell.Report().RunEnded(exit, Done);
    }
    TRunEndReport(const TRunEndReport &) = delete;
    TRunEndReport &operator=(const TRunEndReport &) = delete;

private:
    TShell &Shell;
    const int &Done;
    const int Exceptions = std::uncaught_exceptions();
};

// "QuadInUsed.bt": the progress label for other programs, rewritten in place.
class TProgressFile {
public:
    TProgressFile() : File(DataFolder() + QStringLiteral("QuadInUsed.bt"))
    {
        QDir().mkpath(DataFolder());
        if (File.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            File.write(QByteArray(40, ' '));
            File.flush();
        }
    }
    void Write(const QString &label)
    {
        if (!File.isOpen())
            return;
        File.seek(0);
        File.write(label.toLatin1() + QByteArray(20, ' '));
        File.flush();
    }

private:
    QFile File;
};
} // namespace

QString TShell::ModeName(int mode)
{
    switch (mode) {
    case 0:
        return QStringLiteral("Standard");
    case 1:
        return QStringLiteral("High speed");
    case 2:
        return QStringLiteral("SP only");
    default:
        return QString();
    }
}

QString TShell::ProgressLabel(int done, int blockCount, int quadCount)
{
    return QStringLiteral("%1 .. %2 / %3").arg(done + 1).arg(done + blockCount).arg(quadCount);
}

QString TShell::EstimateText(double days)
{
    const double fraction = days - std::floor(days);
    const auto ms = static_cast<long long>(std::llround(fraction * 86400000.0));
    const long long h = (ms / 3600000) % 24, m = (ms / 60000) % 60, sec = (ms / 1000) % 60;
    QString text;
    if (days > 0.0020833333)
        text = QStringLiteral("%1:%2:00").arg(h, 2, 10, QLatin1Char('0')).arg(m, 2, 10, QLatin1Char('0'));
    else
        text = QStringLiteral("%1:%2:%3")
                   .arg(h, 2, 10, QLatin1Char('0'))
                   .arg(m, 2, 10, QLatin1Char('0'))
                   .arg(sec, 2, 10, QLatin1Char('0'));
    if (days > 1.0)
        text += QStringLiteral(" and %1 Day(s)").arg(static_cast<long long>(std::floor(days)));
    return text;
}

void TShell::ChooseAndStartAction()
{
    View.BuildPseudoSection();
    int preselected = ActionAcquisition;
    if (View.CurrentPage() == TPage::Resistance)
        preselected = ActionResistance;
    else if (View.CurrentPage() == TPage::Script)
        preselected = ActionScript;
    const int action = View.ChooseAction(preselected);
    if (action < 0)
        return;
    RunStartAction(action);
}

QString TShell::UnknownTypeText(std::uint32_t typeCode)
{
    return QStringLiteral("unknown instrument type 0x%1").arg(typeCode, 8, 16, QLatin1Char('0'));
}

void TShell::CheckActionPossible(int action, bool instrument) const
{
    // The do-nothing protocol of an unknown instrument would wait out every
    // group's timeout without measuring anything. A script connects before
    // each acquisition: only an instrument of unknown type connected now
    // stops it at its start.
    if (instrument && (action != ActionScript || LinkOpen()) && !GenerationOf(Model->InstrumentType))
        throw ETarnelError(UnknownTypeText(Model->InstrumentType));
    if (action == ActionAcquisition && Model->QuadCount <= 0)
        throw ETarnelError(QStringLiteral("No quadripole to measure: load a quadripole file first"));
    if (action == ActionAcquisition && !CoordinateFault.isEmpty())
        throw ETarnelError(CoordinateFault + QStringLiteral(": no acquisition without the electrode positions"));
}

void TShell::ActionFailed(const QString &message)
{
    InterruptWaits = false;
    Ui.BusyIndicator(false);
    QString where;
    const bool measuring = std::exchange(Measuring, false);
    if (measuring) {
        where = QStringLiteral(" (acquisition ended at quadripoles %1; %2)")
                    .arg(ProgressLabel(GroupFirst, GroupSize, Model->QuadCount),
                         StoredQuads > 0 ? QStringLiteral("the data file ends at quadripole %1").arg(StoredQuads)
                                         : QStringLiteral("no quadripole in the data file"));
    }
    EventLog.AddStamped(message + where, LogColor::Red);
    // Electrodes left switched would keep the line live.
    if (measuring)
        ReleaseAfterBreak();
    SaveEventLog();
    Report().Failed(message + where);
    if (Port && !LinkOpen() && LinkShownUp)
        LinkLost();
    ClearPause();
}

void TShell::ReleaseAfterBreak()
{
    InterruptWaits = false;
    // An instrument that has said nothing for a while would only make the
    // operator wait once more.
    constexpr std::int64_t SilentMs = 1000;
    QString reason;
    if (!LinkOpen()) {
        reason = QStringLiteral("the link is down");
    } else if (Port->QuietMs() >= SilentMs) {
        reason = QStringLiteral("the instrument does not answer");
    } else {
        constexpr int ReleaseSeconds = 5;
        Port->SetSilenceLimit(ReleaseSeconds, TPortVirt::TSilenceAction::Raise);
        try {
            Model->Protocol().ReleaseElectrodes();
        } catch (const ETarnelError &e) {
            reason = e.Message();
        }
        InterruptWaits = false;
        WatchPort();
    }
    if (reason.isEmpty()) {
        ElectrodesPending = false;
        return;
    }
    ElectrodesPending = true;
    EventLog.AddStamped(
        QStringLiteral("Electrodes not released: %1; they are released when the instrument answers again").arg(reason),
        LogColor::Red);
}

void TShell::ReleasePendingElectrodes()
{
    if (!ElectrodesPending || !LinkOpen() || !GenerationOf(Model->InstrumentType))
        return;
    Model->Protocol().ReleaseElectrodes();
    ElectrodesPending = false;
    EventLog.AddStampedAside(QStringLiteral("Electrodes released"), LogColor::Black);
    SaveEventLog();
}

void TShell::ClearPause()
{
    if (State.RunState == TRunState::Paused)
        State.RunState = TRunState::Running;
    View.SetPauseDown(false);
}

void TShell::DisconnectIfPending()
{
    if (!DisconnectPending && !ClosingDuringAction)
        return;
    DisconnectPending = false;
    if (!LinkOpen())
        return;
    DisconnectInstrument();
    EventLog.AddStamped(QStringLiteral("Disconnected"), LogColor::Orange);
    SaveEventLog();
    View.SetConnectPressed(false);
}

void TShell::RunStartAction(int action)
{
    // A script locks each file it writes as it comes to it.
    bool lockedHere = false;
    try {
        CheckActionPossible(action);
        if (action == ActionScript) {
            // A loop that never waits would fill the log as fast as the disk takes it.
            if (const QString loop = TScriptRunner::EndlessLoop(Script.Lines); !loop.isEmpty())
                throw ETarnelError(QStringLiteral("Script refused: ") + loop);
        } else {
            if (action == ActionAcquisition)
                if (const QString dangling = DanglingLinkText(State.AcquisitionFile); !dangling.isEmpty())
                    throw ETarnelError(dangling);
            lockedHere = LockDataFile(State.AcquisitionFile);
        }
    } catch (const EDataFileBusy &e) {
        DataFileBusy(e.Message());
        throw;
    } catch (const ETarnelError &e) {
        ActionFailed(e.Message());
        throw;
    }
    {
        // A yes to the overwrite question, the script's hold on the log and
        // the lock on the data file end with this Start (after the action's
        // own clean-up, which may still log a disconnection).
        struct TStartScope {
            TShell &Shell;
            bool Unlock;
            ~TStartScope()
            {
                Shell.ReplaceDataFile = false;
                Shell.ScriptRunning = false;
                if (Unlock)
                    Shell.UnlockDataFile();
            }
        } startScope{*this, lockedHere};
        TActionScope scope(*this);
        if (action == ActionScript) {
            // The log stays beside the data file of the start until the
            // script writes one of its own, then follows the files it writes.
            ScriptRunning = true;
            WrittenDataFile = State.AcquisitionFile;
        }
        if (!CommandLine)
            EventLog.Action = action == ActionScript       ? QStringLiteral("Run Script")
                              : action == ActionResistance ? QStringLiteral("Check resistance")
                                                           : QStringLiteral("Start acquisition");
        try {
            if (action != ActionScript) {
                CheckInstrumentHealth();
            } else if (LinkOpen()) {
                // A script outlives a bad link: its acquisitions connect again.
                try {
                    CheckInstrumentHealth();
                } catch (const EInterrupted &) {
                    throw;
                } catch (const ETarnelError &e) {
                    EventLog.AddStamped(e.Message(), LogColor::Red);
                }
            }
            if (action == ActionScript) {
                View.ShowPage(TPage::Script);
                EventLog.Add(QStringLiteral("============= Script start at ") + EventLog.DateTimeText() +
                             QStringLiteral(" =============="));
                View.EnableScriptTools(false);
                if (SaveConfigurationOnStart)
                    SaveConfiguration(State.ConfigFile);
                Ui.Yield();
                if (RunScript)
                    RunScript();
                View.EnableScriptTools(true);
                EventLog.Add(QStringLiteral("============= Script ended at ") + EventLog.DateTimeText() +
                             QStringLiteral(" =============="));
            } else if (action == ActionResistance) {
                View.ShowPage(TPage::Resistance);
                EventLog.AddStamped(QStringLiteral("Start check resistance"));
                CheckElectrodes();
                EventLog.AddStamped(QStringLiteral("Check resistance ended"));
            } else {
                bool proceed = true;
                if (!Resume && QFileInfo::exists(State.AcquisitionFile)) {
                    switch (View.AskExistingFile(State.AcquisitionFile)) {
                    case TMainView::TExistingFile::Overwrite:
                        ReplaceDataFile = true;
                        break;
                    case TMainView::TExistingFile::Resume:
                        proceed = PrepareResume();
                        break;
                    case TMainView::TExistingFile::ChooseOther:
                        ReplaceDataFile = false;
                        proceed = ChooseAcquisitionFile();
                        if (proceed) {
                            if (const QString dangling = DanglingLinkText(State.AcquisitionFile); !dangling.isEmpty())
                                throw ETarnelError(dangling);
                            // The lock follows the file: the old one is free again.
                            startScope.Unlock = LockDataFile(State.AcquisitionFile) || startScope.Unlock;
                        }
                        break;
                    }
                }
                if (SaveConfigurationOnStart)
                    SaveConfiguration(State.ConfigFile);
                Ui.Yield();
                if (proceed) {
                    RunAcquisition();
                    if (!State.DuplicateAcquisitionFile.isEmpty() && State.DuplicateAcquisition)
                        CopyDuplicate();
                }
            }
        } catch (const EInterrupted &) {
            // Stop ended an exchange outside an acquisition: its own line says so.
            View.EnableScriptTools(true);
            if (action == ActionScript)
                EventLog.Add(QStringLiteral("============= Script ended at ") + EventLog.DateTimeText() +
                             QStringLiteral(" =============="));
            else if (action == ActionResistance) {
                ReleaseAfterBreak();
                EventLog.AddStamped(QStringLiteral("Check resistance ended"));
            }
        } catch (const EDataFileBusy &e) {
            DataFileBusy(e.Message());
            throw;
        } catch (const ETarnelError &e) {
            ActionFailed(e.Message());
            throw;
        } catch (const std::exception &e) {
            ActionFailed(QString::fromLocal8Bit(e.what()));
            throw;
        }
        SaveEventLog();
    }
}

bool TShell::LockDataFile(const QString &path)
{
    // No data file named (a resistance check can run without): nothing to guard.
    if (path.isEmpty() || (DataLock.Held() && DataLock.DataFile() == path))
        return false;
    DataLock.Take(path, LockOwner);
    if (const auto &dead = DataLock.TakenOver()) {
        EventLog.AddStampedAside(QStringLiteral("%1: lock of %2, which has ended, taken over")
                                     .arg(path, TDataFileLock::HolderText(*dead, QDateTime::currentDateTime())),
                                 LogColor::Maroon);
    }
    return true;
}

void TShell::DataFileBusy(const QString &message)
{
    Ui.BusyIndicator(false);
    EventLog.AddStampedAside(message + QStringLiteral("; nothing was changed"), LogColor::Red);
    View.SetStatusText(message);
    Report().Failed(message);
}

bool TShell::PrepareResume()
{
    try {
        Resume = TAcquisitionResume::Plan(State.AcquisitionFile, *Model);
        return true;
    } catch (const ETarnelError &e) {
        EventLog.AddStamped(QStringLiteral("Resume refused: ") + e.Message(), LogColor::Red);
        Ui.Ask(TQuestion::Error(QStringLiteral("Resume"), e.Message()));
        return false;
    }
}

bool TShell::ChooseAcquisitionFile()
{
    const QString path = View.ChooseAcquisitionFileDialog(State.AcquisitionFile);
    if (path.isEmpty())
        return false;
    State.AcquisitionFile = path;
    View.ShowAcquisitionFile(path);
    return true;
}

QString TShell::FreeFileName(const QString &base)
{
    QString candidate = base;
    for (int n = 1; QFileInfo::exists(candidate); ++n) {
        candidate = ReplaceExtension(base, QString::number(n) + QStringLiteral(".bin"));
        Ui.Yield();
    }
    return candidate;
}

QString TShell::CopyDuplicate()
{
    const QString candidate = FreeFileName(State.DuplicateAcquisitionFile);
    QFile source(State.AcquisitionFile);
    QString error;
    QByteArray bytes;
    if (!source.open(QIODevice::ReadOnly))
        error = source.errorString();
    else if (bytes = source.readAll(); source.error() != QFileDevice::NoError)
        error = source.errorString();
    else
        error = TSafeFile::Write(candidate, bytes);
    if (!error.isEmpty()) {
        WriteFailed(QStringLiteral("Duplicate file not written: %1: %2").arg(candidate, error));
        return QString();
    }
    return candidate;
}

void TShell::FileError(const QString &text)
{
    FileErrors << text;
    EventLog.AddStampedAside(text, LogColor::Red);
    View.SetStatusText(text);
}

void TShell::WriteFailed(const QString &text)
{
    FileError(text);
    if (!CommandLine && !Guard.Unattended)
        Ui.Ask(TQuestion::Error(QString::fromLatin1(ProgramTitle), text));
}

void TShell::RequestStop()
{
    // The exchange waiting on the instrument ends at once; a second Stop
    // also ends the release that follows.
    if (ActionRunning)
        InterruptWaits = true;
    else
        EndStalledExchange();
    if (State.RunState == TRunState::StopRequested)
        return;
    View.RedrawProgressGraph();
    EventLog.AddStamped(QStringLiteral("Stopped by user"), LogColor::Red);
    State.RunState = TRunState::StopRequested;
    View.SetPauseDown(false);
}

void TShell::TogglePause()
{
    if (State.RunState == TRunState::StopRequested || State.RunState == TRunState::Idle) {
        View.SetPauseDown(false);
        return;
    }
    View.RedrawProgressGraph();
    State.RunState = State.RunState == TRunState::Running ? TRunState::Paused : TRunState::Running;
    View.SetPauseDown(State.RunState == TRunState::Paused);
    EventLog.AddStamped(State.RunState == TRunState::Paused ? QStringLiteral("Paused by user")
                                                            : QStringLiteral("Restarted by user"),
                        LogColor::Maroon);
    Report().PauseChanged(State.RunState == TRunState::Paused);
}

void TShell::WaitWhilePaused()
{
    // Pause, Restart and Stop wake the wait; a paused station costs nothing.
    while (State.RunState == TRunState::Paused)
        Ui.WaitEvents(250);
}

void TShell::CreateDataFile()
{
    // Replaced only when the operator said so; a file that appeared since
    // (another program, a second window) is asked about again.
    bool replace = std::exchange(ReplaceDataFile, false);
    for (;;) {
        try {
            Model->Protocol().CreateDataFile(State.AcquisitionFile, State.CommentText(), replace);
            return;
        } catch (const EFileExists &e) {
            // A script has nobody to ask: the event fails, the file stays.
            if (replace || ScriptRunning || !View.AskOverwrite(State.AcquisitionFile))
                throw ETarnelError(e.Kind(), e.Message());
            replace = true;
        }
    }
}

void TShell::StartQuality(bool resumed)
{
    TConfigValues values;
    values.Start = Model->StartParameters;
    values.Quality = QualityKeys;
    Quality = TQualityControl(TQualitySettings::FromConfig(values));
    QualityQuads.clear();
    View.ClearQualityFlags();
    const QString table = TResistanceTable::FileFor(State.AcquisitionFile);
    if (QFileInfo::exists(table)) {
        TResistanceTable t;
        if (const QString error = t.Read(table); error.isEmpty()) {
            Quality.SetBadElectrodes(t.BadPositions());
        } else {
            EventLog.AddStamped(QStringLiteral("%1 not used: %2").arg(table, error), LogColor::Maroon);
        }
    }
    if (resumed) {
        // The records already stored count, and pair with their reciprocals.
        try {
            TDataFileReader reader;
            reader.Read(State.AcquisitionFile);
            for (const TDataRecord &r : reader.Records()) {
                QualityQuads.push_back(int(QualityQuads.size()));
                View.SetQualityFlags(QualityQuads.back(), Quality.Add(r));
                if (const int pair = Quality.LastPair(); pair >= 0)
                    View.SetQualityFlags(QualityQuads[std::size_t(pair)], Quality.FlagsOf(pair));
            }
        } catch (const ETarnelError &) {
            // The resume has read this file already; nothing to judge is no reason to stop.
        }
    }
    View.ShowQuality(nullptr, 0, Quality.Flagged(), Quality.Records());
}

void TShell::JudgeGroup(const TDataRecord *records, int first, int count)
{
    std::array<unsigned, 10> flags{};
    QStringList flagged;
    count = std::clamp(count, 0, int(flags.size()));
    for (int k = 0; k < count; ++k) {
        flags[std::size_t(k)] = Quality.Add(records[k]);
        QualityQuads.push_back(first + k);
        View.SetQualityFlags(first + k, flags[std::size_t(k)]);
        QString pair;
        if (const int p = Quality.LastPair(); p >= 0) {
            const int quad = QualityQuads[std::size_t(p)];
            View.SetQualityFlags(quad, Quality.FlagsOf(p));
            if (flags[std::size_t(k)] & TQualityControl::Reciprocal)
                pair = QStringLiteral(" (reciprocal of %1)").arg(quad + 1);
        }
        if (flags[std::size_t(k)])
            flagged << QStringLiteral("quadripole %1 %2%3")
                           .arg(first + k + 1)
                           .arg(TQualityControl::FlagNames(flags[std::size_t(k)]), pair);
    }
    View.ShowQuality(flags.data(), count, Quality.Flagged(), Quality.Records());
    if (!flagged.isEmpty()) {
        const QString line = QStringLiteral("Quality %1: %2")
                                 .arg(ProgressLabel(first, count, Model->QuadCount), flagged.join(QStringLiteral("; ")));
        EventLog.AddStamped(line, LogColor::Maroon);
        if (OnQualityLine)
            OnQualityLine(line);
    }
}

void TShell::StoreGroup(int count, int first, TRecordArray &records)
{
    try {
        Model->Protocol().AppendRecords(State.AcquisitionFile, count, first, records, State.LowCurrent);
    } catch (const ETarnelError &e) {
        // The instrument measured the group: say which quadripoles are missing
        // from the file and the system's reason (the file is named in the
        // run's start lines).
        const auto *file = dynamic_cast<const EDataFileError *>(&e);
        throw ETarnelError(e.Kind(), QStringLiteral("Quadripoles %1 measured but not stored: %2")
                                         .arg(ProgressLabel(first, count, Model->QuadCount),
                                              file ? file->Reason() : e.Message()));
    }
}

TShell::TRunEnd TShell::RunAcquisition()
{
    TVoltixPro &m = *Model;
    const std::optional<TAcquisitionResume> resume = std::exchange(Resume, std::nullopt);
    CheckActionPossible(ActionAcquisition);
    const QString mode = ModeName(State.MeasMode);
    TProgressFile progress;
    View.HideDataGroup();
    EventLog.AddStamped(QStringLiteral("Start ") + mode + QStringLiteral(" acquisition"), LogColor::Teal);
    EventLog.Add(QStringLiteral("Aquisition filename ") + State.AcquisitionFile, LogColor::Teal);
    WrittenDataFile = State.AcquisitionFile;
    if (State.CoordinateFile.isEmpty())
        EventLog.AddStamped(QStringLiteral("No coordinate file: Rho is Vp/In (geometric factor 1)"), LogColor::Maroon);
    if (resume)
        EventLog.AddStamped(resume->Description(m.QuadCount), LogColor::Teal);
    SaveEventLog();
    View.ShowModeLabel(mode);
    StoredQuads = resume ? resume->NextQuad : 0;

    const auto abort = [&] {
        Measuring = false;
        Ui.BusyIndicator(false);
        ClearPause();
        LastRunEnd = TRunEnd::Aborted;
        return TRunEnd::Aborted;
    };
    int done = resume ? resume->NextQuad : 0;
    // Stop ended an exchange: the group in progress is given up.
    bool interrupted = false;
    // Tells the report how the data file ended, however the run ends.
    std::optional<TRunEndReport> endReport;
    try {
        if (!CheckInstrumentHealth())
            return abort();
        try {
            CheckLineResistance();
        } catch (const EInterrupted &) {
            InterruptWaits = false;
        }
        if (State.RunState == TRunState::StopRequested)
            State.RunState = TRunState::Running; // Stop ended the pre-check, not the run
        if (!CheckInstrumentHealth())
            return abort();

        View.ShowPage(TPage::Acquisition);
        View.InitProgressGraph();
        View.SetOverallProgress(m.QuadCount, 0);
        int d0 = done;

        if (State.MeasMode >= 0 && State.MeasMode <= 2) {
            const bool highSpeed = State.MeasMode == 1;
            const bool spOnly = State.MeasMode == 2;
            // The protocol object is fetched at each use: a reconnection replaces it.
            // A resumed file loses its torn tail whatever the mode appends next.
            if (resume)
                resume->CutFile(State.AcquisitionFile);
            if (!spOnly && !resume)
                CreateDataFile();
            StartQuality(resume.has_value());
            endReport.emplace(*this, done);
            if (!spOnly) {
                m.Protocol().ChangeMode(0);
                m.Protocol().SetParameters(m.StartParameters);
            }
            std::int64_t t0 = Clock.Ms();
            std::int64_t h0 = t0;
            const int limit = highSpeed ? m.SpeedStartChannel : m.StartParameters.Channel;
            const double interval = highSpeed ? 60.0 : 120.0;
            Report().RunStarted(limit);
            TRecordArray records{};
            // A group whose records did not arrive whole is measured once more;
            // a second such failure ends the run rather than store guesses.
            int wrongGroups = 0;
            // A run dialogue that keeps ending without records (no "ST", tokens
            // out of place) would measure the same group for ever: a few tries,
            // or as long as the watchdog allows from the group's first one.
            int emptyRuns = 0;
            std::int64_t groupStart = Clock.Ms();

            while (done < m.QuadCount && State.RunState != TRunState::StopRequested) {
                WaitWhilePaused();
                if (State.RunState == TRunState::StopRequested)
                    break;
                int n = limit;
                TElectrodeList electrodes{};
                m.GroupChannels(done, n, electrodes);
                if (n <= 0)
                    break; // nothing more can be grouped from here
                GroupFirst = done;
                GroupSize = n;
                // A group that ended without records is measured again: the
                // label and the log say so rather than show an empty range.
                bool givenUp = false;
                Measuring = true;
                Report().GroupStarted(done, n);
                if (highSpeed) {
                    m.Protocol().SpeedMeasure(electrodes, State.MeasMode == 1);
                    State.BlockCount = n;
                    StoreGroup(n, done, records);
                    Report().GroupStored(done, n, records.data());
                    View.ShowMeasurement(records.data(), electrodes.data(), n);
                    JudgeGroup(records.data(), done, n);
                    View.UpdateProgressGraph(State.BlockCount, done);
                } else {
                    if (!spOnly)
                        m.Protocol().SwitchElectrodes(electrodes);
                    View.UpdateProgressGraph(n, done);
                    m.Protocol().SetChannelCount(n);
                    State.BlockCount = m.Protocol().RunMeasurement();
                    if (State.BlockCount == TVoltixProVxx::WrongGroup) {
                        State.BlockCount = 0;
                        const QString group = ProgressLabel(done, n, m.QuadCount);
                        const QString fault = m.Protocol().MeasurementFault();
                        if (++wrongGroups >= 2)
                            throw ETarnelError(QStringLiteral("Quadripoles %1 not received whole twice: %2").arg(group, fault));
                        EventLog.AddStamped(
                            QStringLiteral("Quadripoles %1 not received whole (%2): measured again").arg(group, fault),
                            LogColor::Maroon);
                        givenUp = true;
                    } else if (State.BlockCount > 0) {
                        wrongGroups = 0;
                        StoreGroup(State.BlockCount, done, records);
                        const int shown = std::min(State.BlockCount, static_cast<int>(records.size()));
                        Report().GroupStored(done, shown, records.data());
                        View.ShowMeasurement(records.data(), electrodes.data(), shown);
                        if (!spOnly) // self-potential alone has no current or voltage to judge
                            JudgeGroup(records.data(), done, shown);
                        View.UpdatePseudoSection(records.data(), done, shown);
                    } else {
                        if (++emptyRuns >= MaxEmptyRuns)
                            throw ETarnelError(QStringLiteral("Quadripoles %1: the instrument ended %2 measurements in a "
                                                              "row without records")
                                                   .arg(ProgressLabel(done, n, m.QuadCount))
                                                   .arg(emptyRuns));
                        if (Port)
                            Port->CheckStalledSince(groupStart);
                        EventLog.AddStamped(QStringLiteral("Quadripoles %1 given up: the measurement ended without "
                                                           "records; measured again")
                                                .arg(ProgressLabel(done, n, m.QuadCount)),
                                            LogColor::Maroon);
                        givenUp = true;
                    }
                }
                if (State.BlockCount > 0) {
                    StoredQuads = done + State.BlockCount;
                    emptyRuns = 0;
                    groupStart = Clock.Ms();
                }
                const QString label = givenUp ? ProgressLabel(done, n, m.QuadCount) + QStringLiteral(" given up, measured again")
                                              : ProgressLabel(done, State.BlockCount, m.QuadCount);
                View.ShowProgressLabel(label);
                View.SetOverallProgress(m.QuadCount, done + State.BlockCount);
                // Other programs read the progress file as a range: it keeps
                // the last one stored.
                if (!givenUp)
                    progress.Write(label);
                SaveEventLog();
                done += std::max(0, State.BlockCount);

                QString estimate;
                if (done >= d0 + 10) {
                    const std::int64_t t = Clock.Ms();
                    const double days =
                        double(t - t0) / (double(done - d0) * 1000.0) * double(m.QuadCount - done) / 86400.0;
                    d0 = done;
                    estimate = EstimateText(days);
                    View.ShowEstimatedTime(estimate);
                    t0 = t;
                }
                if (OnProgress)
                    OnProgress(label, estimate);
                if (Port)
                    Port->WaitPrompt();
                if (double(t0 - h0) * 0.001 > interval) {
                    h0 = t0;
                    if (!CheckInstrumentHealth())
                        return abort();
                }
                Ui.BusyIndicator(false);
            }
        }
    } catch (const EInterrupted &) {
        interrupted = true;
        Ui.BusyIndicator(false);
        if (Measuring && done == GroupFirst) {
            EventLog.AddStamped(
                QStringLiteral("Quadripoles %1 given up").arg(ProgressLabel(GroupFirst, GroupSize, m.QuadCount)),
                LogColor::Red);
        }
    }

    Measuring = false;
    View.SetOverallProgress(m.QuadCount, 0);
    View.UpdateProgressGraph(State.BlockCount, done);
    View.ShowEstimatedTime(QStringLiteral("00:00:00"));
    if (interrupted) {
        ReleaseAfterBreak();
    } else {
        // Stop pressed after the last exchange ends this one at once too.
        InterruptWaits = false;
        try {
            m.Protocol().ReleaseElectrodes();
            ElectrodesPending = false;
        } catch (const EInterrupted &) {
            ReleaseAfterBreak();
        }
    }
    EventLog.AddStamped(mode + QStringLiteral(" acquisition Ended"), LogColor::Teal);
    SaveEventLog();
    ClearPause();
    LastRunEnd = TRunEnd::Normal;
    return TRunEnd::Normal;
}
