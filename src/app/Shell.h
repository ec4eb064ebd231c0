#pragma once
// The program's controller: start-up, folders, the application state, the
// configuration, the instrument model and the event log. It reaches the window
// only through TMainView and TUserInterface, so everything runs the same in
// tarnelpro-cli and in tests.
#include "app/AcquisitionResume.h"
#include "app/AppState.h"
#include "app/RunObserver.h"
#include "app/UnattendedUi.h"
#include "base/DataFileLock.h"
#include "base/EventLog.h"
#include "base/LinkAddress.h"
#include "instrument/ConfigFile.h"
#include "instrument/DataRecord.h"
#include "instrument/QualityControl.h"
#include "instrument/ResistanceTable.h"
#include "script/Script.h"
#include "script/ScriptRunner.h"
#include "survey/Sequence.h"

#include <QLocale>
#include <QString>

#include <array>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class TClock;
class TKeepAwake;
class TMainView;
class TPortVirt;
class TUserInterface;
class TVoltixPro;

class TShell {
public:
    struct TOptions {
        // Priority and keep-awake requests; tests leave them off.
        bool KeepAwake = true;
    };

    TShell(TUserInterface &ui, TMainView &view, TClock &clock, TOptions options);
    ~TShell();

    // Construction steps: default files, data folder, run state, keep-awake,
    // script delimiters.
    void Construct();
    // After construction: controls to their start state, graphs set up, then
    // the start-up configuration loaded (copied from the template first if
    // this is the first start).
    void FormCreate();

    // Loads a configuration file into the program; a missing file disables
    // Connect. Returns true when the file was there.
    bool LoadConfiguration(const QString &path);
    // Writes the current state into path (nothing for an empty path). A
    // failure is shown with the system's message; returns false then.
    bool SaveConfiguration(const QString &path);
    // Reports the error of a configuration write (error box, red log line);
    // true when there is none.
    bool ConfigurationSaved(const QString &path, const QString &error);
    // The configuration values of the current state.
    TConfigValues CurrentValues() const;

    // Survey files: load, show, keep the path only when something was read.
    int OpenQuadripoleFile(const QString &path);
    int OpenCoordinateFile(const QString &path);

    // Creates the port object for the chosen link if asked and none exists,
    // then shows the link's picture.
    void ShowPortImage(bool create);
    static int PortImageFor(int selector, int usbDeviceCount);

    // Close request: drops the link if it is open. Closing is never refused;
    // during an action the group in progress ends first (see ClosingDuringAction).
    bool CloseRequested();
    // Set by a close during an action: the action stops after its group and
    // the link is closed when it has returned.
    bool ClosingDuringAction = false;
    // Gives up the running action at once by closing the link under it (a
    // close that could not wait for the group to end).
    void AbandonAction();

    // Link menu: choose the link of a "Communication port" item (1..6, 99,
    // 100, or BtItem for "BT", which asks for the port number).
    static constexpr int BtItem = 0;
    void ChooseLink(int item);
    void ToggleHighSpeed() { State.HighSpeedChecked = !State.HighSpeedChecked; }
    // Starts the USB checking tool without waiting for it.
    void StartUsbTool();

    // Connects when the link is closed, disconnects when it is open.
    void ToggleConnection();
    // The connection steps after the operator's confirmation: opens the
    // port on link, identifies the instrument, chooses its protocol and reads
    // its description. False when the port did not open.
    bool OpenAndIdentify(const TLinkAddress &link, const QString &modem, int byteDelayMs);
    // The link the configuration's choice names (State's port selector, Wi-Fi
    // address and serial device map), at baud, a modem dialling dial.
    TLinkAddress ConfiguredLink(int baud, const QString &dial) const;
    void DisconnectInstrument();
    // Pauses between the attempts of a reconnection (one attempt more than
    // pauses), growing: a rebooting instrument takes a while.
    std::vector<int> ReconnectPausesMs{30000, 90000};
    // Measurements of one group in a row that may end without records.
    static constexpr int MaxEmptyRuns = 5;
    // The link dropped by itself: lamp, toggle, timer and run controls follow,
    // and the event log says so.
    void LinkLost();
    // Connect pressed while an action waits on the instrument: the link is
    // closed once the action has returned.
    bool DisconnectPending = false;
    // Reads batteries and temperature; false on an alarm.
    bool CheckInstrumentHealth();
    // The periodic check and the battery button; skipped while another
    // exchange with the instrument is in progress.
    void HealthTick();
    void ReadHealthNow();

    // --- Start, Stop, Pause and the actions.
    enum TAction { ActionAcquisition = 0, ActionResistance = 1, ActionScript = 2 };
    // The Start button: asks for the action, then runs it.
    void ChooseAndStartAction();
    // Runs an action as Start does once it is chosen; the window is restored
    // afterwards even when an error ends the action (the error is written to
    // the event log, then goes on to the caller).
    void RunStartAction(int action);
    // Raises the reason an action cannot start: an instrument of unknown type,
    // or an acquisition with no quadripole loaded.
    // Without instrument: the survey only (before a script connects).
    void CheckActionPossible(int action, bool instrument = true) const;
    static QString UnknownTypeText(std::uint32_t typeCode);
    // Stop also ends the exchange waiting on the instrument at that moment:
    // the group in progress is given up, the groups stored stay.
    void RequestStop();
    // Set by Stop during an action; every wait of the port looks at it.
    bool InterruptWaits = false;
    // A port made here watches its exchanges: after SilenceSeconds without
    // progress it says so in MainGB and the event log (Connect then ends the
    // stalled exchange through the link-loss path), or, when SilenceRaises or
    // while a script runs unattended, the exchange ends with "no answer".
    void WatchPort();
    int SilenceSeconds = 120;
    bool SilenceRaises = false;
    // Identification rounds before a silent instrument fails a connection
    // (0: until it answers); unattended connections use at least 2.
    int IdentifyRounds = 0;
    void EndStalledExchange();
    void TogglePause();
    void RequestSkip() { SkipFlag = true; }
    // The save dialog for a new data file name; false when cancelled.
    bool ChooseAcquisitionFile();

    enum class TRunEnd { Normal, Aborted };
    // Measures the whole survey; Aborted after a health alarm.
    TRunEnd RunAcquisition();
    TRunEnd LastRunEnd = TRunEnd::Normal;
    // Set before the run to continue the existing data file instead of
    // creating it; the run consumes it.
    std::optional<TAcquisitionResume> Resume;
    // Plans the resume of the current data file into Resume; false, with the
    // reason shown and logged in red, when the file does not fit the survey.
    bool PrepareResume();
    // Copies the data file to the duplicate place (first free numbered name);
    // returns the path written, empty when nothing was copied.
    QString CopyDuplicate();
    void CheckElectrodes();
    void CheckLineResistance();
    // Waits while paused.
    void WaitWhilePaused();
    // The group of the acquisition being measured (first quadripole index and
    // size), for the lines that say where a run ended.
    int GroupFirst = 0;
    int GroupSize = 0;
    bool Measuring = false;
    // Quadripoles the data file of the run holds.
    int StoredQuads = 0;
    // After Stop or an error broke off an exchange: the empty electrode list
    // with a short limit; when the link is down or the instrument has gone
    // silent it is left pending (ElectrodesPending) and the log says so.
    void ReleaseAfterBreak();
    // Pause pressed during the last group does not outlive the run.
    void ClearPause();

    static QString ModeName(int mode);
    // "21 .. 30 / 480".
    static QString ProgressLabel(int done, int blockCount, int quadCount);
    // Time left in days as the window shows it ("00:02:30", "06:00:00 and 1 Day(s)").
    static QString EstimateText(double days);

    // Runs a script (set to RunScriptLines at construction).
    std::function<void()> RunScript;
    // Kept by an unattended station (tarnelpro-cli script --resume): the
    // state file where the script stands. A run that finds it continues
    // there, into the data file it was writing, and logs "resumed after
    // restart". Empty: no state kept.
    QString StationFile;
    QString StationScript;
    // The data file an interrupted scripted acquisition continues (set from
    // the station state), and who is told which file an event writes.
    QString ResumeDataFile;
    std::function<void(const QString &dataFile)> OnScriptDataFile;
    // One start-configuration event of a script: loads the configuration,
    // switches or reconnects the link as it asks, and runs the acquisition.
    // A failure is logged in red with its reason and cleaned up as a plain
    // acquisition's, then raised to the runner.
    void RunScriptedAcquisition(const QString &configuration);

    // --- The link of a scripted acquisition.
    // A link given on the command line; it holds for every configuration.
    std::optional<TLinkAddress> FixedLink;
    // Makes the link of the loaded configuration (or FixedLink) the open
    // one: switches links when it is another, connects when it is down, with
    // the attempts above, each logged. Raises the reason when the instrument
    // stays away.
    void EnsureLink();
    // The link of the last connection, as TLinkAddress::Describe names it.
    QString ConnectedLink;
    // A link shown as up (lamp, run controls) until Link lost or Disconnect.
    bool LinkShownUp = false;
    // Electrodes an interrupted acquisition could not release: sent the
    // empty list when the instrument answers again.
    bool ElectrodesPending = false;
    void ReleasePendingElectrodes();
    // The script of the "Script" view, and the runner's work on it (the
    // event log's clock is the runner's clock).
    TScript Script;
    TScriptRunner::TEnd RunScriptLines();
    TScriptRunner::TEnd LastScriptEnd = TScriptRunner::TEnd::Completed;
    // Events of the last script that ended in an error line.
    int ScriptFailures = 0;
    // Called with the reason behind a "Start configuration Error".
    std::function<void(const QString &)> OnScriptFailure;
    // First free name: base, then base without extension + 1, 2, ... + ".bin".
    QString FreeFileName(const QString &base);
    // Called after each stored group and with the estimate, for front ends
    // that report progress elsewhere.
    std::function<void(const QString &label, const QString &estimate)> OnProgress;
    bool SkipFlag = false;
    // --- One writer per data file: the lock is taken before the program
    // looks whether the file exists and held to the end of the run.
    // How this program is named to another that finds the file locked.
    QString LockOwner = QStringLiteral("tarnelpro");
    // Takes the lock of path unless this program holds it already; true when
    // taken now (the caller releases it then). Raises EDataFileBusy naming
    // the holder, or ETarnelError when no lock can be made there. A lock left
    // by a program that has ended is taken over with a log line.
    bool LockDataFile(const QString &path);
    void UnlockDataFile() { DataLock.Release(); }
    // A script's FreeFileName: the first name neither on disk nor locked by
    // another program, returned locked.
    QString LockFreeFileName(const QString &base);
    TDataFileLock DataLock;
    // The refusal of a file another program writes: red in the pane and the
    // status, and kept out of that file's log, which is not ours to write.
    void DataFileBusy(const QString &message);
    // The operator agreed to replace the existing data file (the window's
    // question, --overwrite): the next acquisition truncates it.
    bool ReplaceDataFile = false;
    // Start saves the configuration before an acquisition or a script; the
    // command line turns this off so that its overrides stay out of the file.
    bool SaveConfigurationOnStart = true;
    // True from Start until the action's end (Start disabled).
    bool ActionRunning = false;

    // Run controls shown and enabled (Start, Pause, Stop, batteries).
    void ShowRunControls(bool visible);
    bool RunControlsEnabled() const { return RunControls; }

    // Transmitter battery, receiver battery and temperature of the last check.
    std::array<float, 3> LastHealth{};
    // Identification texts of the last connection ("second / first").
    QString Identification;
    std::array<QString, 2> IdentificationLines;
    static const QByteArray PlaceholderId;

    bool LinkOpen() const;

    TAppState State;
    TEventLog EventLog;
    // Every service call of the program goes through here, so that a script
    // never waits behind a box.
    TUnattendedUi Guard;
    std::unique_ptr<TVoltixPro> Model;
    std::unique_ptr<TPortVirt> Port;
    QLocale Locale = QLocale::system();

    // How many FTDI devices are present (the USB picture), and how a port of
    // a selector is made; filled in by the link layer's front end.
    std::function<int()> UsbDeviceCount = [] { return 0; };
    std::function<std::unique_ptr<TPortVirt>(int selector)> MakePort;
    // Starts a program of the program folder without waiting (USB tool).
    std::function<void(const QString &program)> StartProgram;

    // Counts exchanges with the instrument in progress.
    int Exchanges = 0;

    // Writes the error that ended an action in red, with the group reached,
    // leaves the electrodes released when the link still answers, and shows
    // the link as it really is.
    void ActionFailed(const QString &message);
    // Event log line and message for a survey file the configuration names
    // but that is not there.
    void ReportMissingFile(const QString &text, const QString &path);
    // Appends the group's records to the data file; a file error names the
    // quadripoles that were measured but not stored.
    void StoreGroup(int count, int first, TRecordArray &records);
    void CreateDataFile();
    // Loads a survey file, shows what the load says (box and red line for a
    // refusal, a line for each reason lines were left out); the count read.
    int LoadQuadripoles(const QString &path);
    int LoadCoordinates(const QString &path);
    void ShowSurveyLoad(const QString &title, const QString &path, const TLoadReport &report);
    void SurveyError(const QString &message);
    // Why the coordinate file last loaded cannot serve the quadripoles held
    // (empty when it can), shown once when the two files disagree.
    void NoteCoordinates();
    QString CoordinatePath;
    TLoadReport CoordinateLoad;
public:
    // A file the program writes beside the measurements (configuration,
    // duplicate, event log) could not be written: red in the log, in the
    // status, and kept for the command line's exit status.
    void FileError(const QString &text);
    // The same, with an error box for the operator (none while a script runs
    // unattended: nobody is there to close it, and the red line says it all).
    void WriteFailed(const QString &text);
    QStringList FileErrors;
    // The data file the last acquisition wrote (a script numbers its names).
    QString WrittenDataFile;
    // True from the Start of a script to its end.
    bool ScriptRunning = false;
    // Brings the event log file up to date beside the data file it belongs
    // to: during a script, the one the current event has named, else the one
    // the script last wrote (SurveyA3.bin), not the name the next
    // configuration brought back (SurveyA.bin).
    void SaveEventLog();
    // Set while a scripted event loads its configuration and names its data
    // file: its lines wait for that file's log, or for the earlier file's
    // when the event is refused before it turns to the link.
    bool HoldEventLog = false;
    // The data file a scripted event has named: its log takes the event's lines.
    QString ScriptLogFile;
    // Set when the coordinate file named is missing or unreadable: no
    // acquisition starts then.
    QString CoordinateFault;
    // Driven by tarnelpro-cli: the event log's header names the command line.
    bool CommandLine = false;

    // The fleet report ([Mqtt] of the configuration, or --mqtt): told of the
    // station's work; none when no broker is configured.
    std::unique_ptr<TRunObserver> Observer;
    TRunObserver &Report()
    {
        static TRunObserver none;
        return Observer ? *Observer : none;
    }
    // The [Mqtt] keys in force: a configuration without them keeps these.
    TMqttKeys MqttKeys;
    // `--mqtt URL/TOPIC` of tarnelpro-cli: broker and topic for every
    // configuration the run loads.
    QString MqttOverride;
    // Starts, changes or ends the report to match MqttKeys and MqttOverride;
    // a setting that cannot work is said in red in the event log.
    void ApplyMqtt();
    // What ApplyMqtt set up last ("" when nothing).
    QString MqttInUse;
    // --- Quality control of the records as they arrive.
    // The floors and limit of [Quality] (Q max is the acquisition parameters').
    TQualityKeys QualityKeys;
    // The run's judgement; Quads[k] is the quadripole of record k.
    TQualityControl Quality;
    std::vector<int> QualityQuads;
    // Restarts the judgement for a run: the settings, the bad electrodes of
    // the resistance check beside the data file, and on a resume the records
    // the file holds already.
    void StartQuality(bool resumed);
    // Judges the count records of quadripoles first...: the page, the
    // section, and one log line when some record is flagged.
    void JudgeGroup(const TDataRecord *records, int first, int count);
    // Told each group's quality line too (the command line prints it).
    std::function<void(const QString &)> OnQualityLine;
    // The electrodes of the last resistance check (CheckElectrodes).
    TResistanceTable Resistances;

    // Runs the disconnection a Connect during an action asked for.
    void DisconnectIfPending();

    TUserInterface &Ui;
    TMainView &View;
    TClock &Clock;

private:
    TOptions Options;
    std::unique_ptr<TKeepAwake> Awake;
    bool RunControls = false;
};
