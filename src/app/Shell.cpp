#include "app/Shell.h"

#include "base/SafeFile.h"

#include "app/Guard.h"
#include "app/KeepAwake.h"
#include "app/MainView.h"
#include "base/Cp1252.h"
#include "base/Folders.h"
#include "base/SafeFile.h"
#include "base/TarnelError.h"
#include "base/UserInterface.h"
#include "graph/GraphIntf.h"
#include "instrument/VoltixPro.h"
#include "link/PortCOM.h"
#include "link/PortIP.h"
#include "link/PortUSB.h"
#include "link/FtdiDevice.h"
#include "link/PortVirt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <utility>

TShell::TShell(TUserInterface &ui, TMainView &view, TClock &clock, TOptions options)
    : Guard(ui), Model(std::make_unique<TVoltixPro>(Guard, clock)), Ui(Guard), View(view), Clock(clock),
      Options(options)
{
    Guard.OnBox = [this](const QString &text) { EventLog.AddStampedAside(text, LogColor::Red); };
    Model->ShownHealth = [this] { return LastHealth; };
    RunScript = [this] { RunScriptLines(); };
    UsbDeviceCount = [] { return ::UsbDeviceCount(); };
    MakePort = [this](int selector) -> std::unique_ptr<TPortVirt> {
        if (selector == IPPortSelector)
            return std::make_unique<TPortIP>(Ui, Clock);
        if (selector == UsbPortSelector)
            return std::make_unique<TPortUSB>(Ui, Clock, MakeLibFtdiDevice());
        return std::make_unique<TPortCOM>(Ui, Clock);
    };
}

TShell::~TShell() = default;

void TShell::Construct()
{
    State.AcquisitionFile = DataFolder() + QStringLiteral("Tarnel.bin");
    State.DuplicateAcquisitionFile.clear();
    CreateFolders(State.AcquisitionFile, Ui);
    State.RunState = TRunState::Idle;
    if (Options.KeepAwake)
        Awake = std::make_unique<TKeepAwake>();
    State.ScriptDelimiters = {QStringLiteral(" -<X: "), QStringLiteral(" @ "), QStringLiteral(" >-")};
    if (QCoreApplication::instance())
        Model->RestartFlag = TVoltixPro::RestartRequested(QCoreApplication::arguments());
}

void TShell::FormCreate()
{
    State.ConfigLoaded = false;
    View.ShowLinkIndicator(false);
    View.SetStatusText(QString());
    ShowRunControls(false);

    View.InitProgressGraph();
    TGraph3D &progress = View.ProgressGraph();
    progress.Appearance(QStringLiteral("RenderEngine"), QStringLiteral("tdHybrid"));
    progress.Appearance(QStringLiteral("AntiAliasText"), true);
    progress.Appearance(QStringLiteral("AntiAliasGraphics"), false);
    TGraph2D &pseudo = View.PseudoSectionGraph();
    pseudo.MainTitle(QString());
    pseudo.SubTitle(QStringLiteral(" "));
    pseudo.Appearance(QStringLiteral("FontSizeTitleCntl"), 0.3);

    View.ShowPage(TPage::Configuration);

    State.ConfigFile = DataFolder() + QStringLiteral("Setup.ini");
    if (!QFileInfo::exists(State.ConfigFile) && CreateFolders(DataFolder(), Ui)) {
        // Whole or not at all: a full disk must not leave an empty Setup.ini
        // that the next start would take for the configuration. The copy is
        // writable even when the template is installed read-only.
        QFile source(ProgramFolder() + QStringLiteral("Setup.ini"));
        if (source.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = source.readAll();
            if (source.error() != QFileDevice::NoError)
                WriteFailed(QStringLiteral("Cannot read \"%1\": %2").arg(source.fileName(), source.errorString()));
            else if (const QString error = TSafeFile::Write(State.ConfigFile, bytes); !error.isEmpty())
                WriteFailed(QStringLiteral("Can't save configuration \"%1\": %2").arg(State.ConfigFile, error));
        }
    }
    // Without a configuration (no template to copy) the page still shows
    // every setting the program starts with rather than blank fields.
    if (!LoadConfiguration(State.ConfigFile)) {
        View.ShowSurveyFiles();
        View.ShowSettings();
    }
}

TConfigValues TShell::CurrentValues() const
{
    TConfigValues v;
    v.QuadripoleFile = State.QuadripoleFile;
    v.CoordinateFile = State.CoordinateFile;
    v.CommentMemo = State.CommentMemo;
    v.MeasModeFlag = State.MeasMode;
    v.StoreResistanceFlag = State.StoreResistance;
    v.AcquisitionFile = State.AcquisitionFile;
    v.DuplicateAcquisitionFile = State.DuplicateAcquisitionFile;
    v.DuplicateAcquisition = State.DuplicateAcquisition;
    v.Port = State.PortSelector;
    v.IPAddress = State.IPAddress;
    v.HighSpeedChecked = State.HighSpeedChecked;
    v.SpeedStartTxVoltage = Model->SpeedStartTxVoltage;
    v.SpeedStartTime = Model->SpeedStartTime;
    v.SpeedStartDelay = Model->SpeedStartDelay;
    v.SpeedStartChannel = Model->SpeedStartChannel;
    v.Start = Model->StartParameters;
    v.Mqtt = MqttKeys;
    v.Quality = QualityKeys;
    return v;
}

int TShell::OpenQuadripoleFile(const QString &path)
{
    const int count = LoadQuadripoles(path);
    State.QuadripoleFile = count > 0 ? path : QString();
    // The positions held may not cover the new quadripoles.
    NoteCoordinates();
    View.ShowSurveyFiles();
    return count;
}

int TShell::OpenCoordinateFile(const QString &path)
{
    const int count = LoadCoordinates(path);
    State.CoordinateFile = count > 0 ? path : QString();
    NoteCoordinates();
    View.ShowSurveyFiles();
    return count;
}

int TShell::LoadQuadripoles(const QString &path)
{
    TLoadReport report;
    {
        TBusyScope busy(Ui);
        report = Model->ReadQuadripoleFile(path);
    }
    ShowSurveyLoad(TSequence::QuadripoleFileError, path, report);
    return report.Count;
}

int TShell::LoadCoordinates(const QString &path)
{
    {
        TBusyScope busy(Ui);
        CoordinateLoad = Model->ReadCoordinateFile(path);
    }
    CoordinatePath = path;
    ShowSurveyLoad(TSequence::CoordinateFileError, path, CoordinateLoad);
    return CoordinateLoad.Count;
}

void TShell::ShowSurveyLoad(const QString &title, const QString &path, const TLoadReport &report)
{
    const QString name = QDir::toNativeSeparators(path);
    for (const QString &ignored : report.Ignored)
        EventLog.AddStamped(QStringLiteral("%1: %2").arg(name, ignored), LogColor::Orange);
    if (report.Failed)
        SurveyError(report.Message(title, path));
}

void TShell::SurveyError(const QString &message)
{
    EventLog.AddStamped(QString(message).replace(QLatin1Char('\n'), QStringLiteral(": ")), LogColor::Red);
    // Unattended, the red line is all there is to show.
    if (!Guard.Unattended)
        Ui.Ask(TQuestion::Notice(message));
}

bool TShell::LoadConfiguration(const QString &path)
{
    TConfigValues v;
    if (!QFileInfo(path).isFile() || !TConfigFile::Read(path, CurrentValues(), v)) {
        State.ConfigLoaded = false;
        View.EnableConnect(false);
        return false;
    }
    State.ConfigFile = path;
    State.ConfigLoaded = true;
    View.EnableConnect(true);

    // The survey files as the configuration names them; what was read stays
    // even when a file has an error.
    State.QuadripoleFile = v.QuadripoleFile;
    LoadQuadripoles(v.QuadripoleFile);
    State.CoordinateFile = v.CoordinateFile;
    LoadCoordinates(v.CoordinateFile);
    NoteCoordinates();
    View.ShowSurveyFiles();
    // A survey file that moved or was never copied would otherwise only show
    // as "Nb quadripoles : 0".
    ReportMissingFile(QStringLiteral("Quadripole file not found: "), v.QuadripoleFile);
    ReportMissingFile(QStringLiteral("Coordinate file not found: "), v.CoordinateFile);

    // The field holds what is typed (at most 1000 characters); the data file
    // header takes the stored text up to its own limit.
    State.CommentMemo = v.CommentMemo.left(1000);
    State.SetComment(ToCp1252(v.CommentMemo));

    Model->SpeedStartTxVoltage = v.SpeedStartTxVoltage;
    Model->SpeedStartTime = v.SpeedStartTime;
    Model->SpeedStartDelay = v.SpeedStartDelay;
    Model->SpeedStartChannel = v.SpeedStartChannel;
    Model->StartParameters = v.Start;

    State.MeasMode = v.MeasModeFlag;
    State.StoreResistance = v.StoreResistanceFlag;
    State.AcquisitionFile = v.AcquisitionFile;
    if (!State.AcquisitionFile.isEmpty())
        CreateFolders(State.AcquisitionFile, Ui);
    State.DuplicateAcquisitionFile = v.DuplicateAcquisitionFile;
    // The folder follows the duplicate box as it is before the file sets it.
    if (State.DuplicateAcquisition && !State.DuplicateAcquisitionFile.isEmpty())
        CreateFolders(State.DuplicateAcquisitionFile, Ui);
    State.DuplicateAcquisition = v.DuplicateAcquisition;

    // The configuration names the link: a port object of another kind (serial,
    // USB, TCP) would otherwise dial the new number with the old link. An open
    // link is left alone; it changes at the next connection.
    const auto kind = [](int selector) {
        return selector == UsbPortSelector ? 1 : selector == IPPortSelector ? 2 : 0;
    };
    if (Port && !LinkOpen() && kind(v.Port) != kind(State.PortSelector)) {
        Model->Port = nullptr;
        Port.reset();
    }
    State.PortSelector = v.Port;
    State.IPAddress = v.IPAddress;
    State.Devices = v.Devices;
    State.HighSpeedChecked = false;
    View.TickPortItem(State.PortSelector);
    ShowPortImage(true);
    MqttKeys = v.Mqtt;
    QualityKeys = v.Quality;
    // The last resistance check of this data file, until the next one.
    Resistances = {};
    if (const QString table = TResistanceTable::FileFor(State.AcquisitionFile); QFileInfo::exists(table))
        Resistances.Read(table); // an unreadable table shows nothing here; the run says why
    View.ShowResistanceProfile(Resistances, View.MaxResistance());
    View.ShowSettings();
    View.InitProgressGraph();
    ApplyMqtt();
    return true;
}

void TShell::NoteCoordinates()
{
    // Measuring with every position at 0 would store Rho = Vp/In under the
    // name of apparent resistivity: a named file must have been read, and
    // must place every electrode the quadripoles use.
    const QString &path = CoordinatePath;
    const QString before = std::exchange(CoordinateFault, QString());
    if (path.isEmpty())
        return;
    if (!CoordinateLoad.Found)
        CoordinateFault = QStringLiteral("Coordinate file not found: ") + path;
    else if (CoordinateLoad.Failed)
        CoordinateFault = QStringLiteral("Coordinate file error: %1: %2").arg(path, CoordinateLoad.Error);
    else if (CoordinateLoad.Count == 0)
        CoordinateFault = QStringLiteral("Coordinate file error: %1: no electrode position").arg(path);
    else if (const QString missing = Model->UndefinedElectrodes(); !missing.isEmpty()) {
        CoordinateFault = QStringLiteral("Coordinate file error: %1: %2").arg(path, missing);
        // No loader said it: the two files disagree only together.
        if (CoordinateFault != before)
            SurveyError(TSequence::CoordinateFileError + QLatin1Char('\n') + QDir::toNativeSeparators(path) +
                        QStringLiteral(": ") + missing);
    }
}

void TShell::ReportMissingFile(const QString &text, const QString &path)
{
    if (path.isEmpty() || QFileInfo(path).isFile())
        return;
    EventLog.AddStamped(text + path, LogColor::Red);
    // Unattended, the red line is all there is to show.
    if (!Guard.Unattended)
        Ui.Ask(TQuestion::Error(QString::fromLatin1(ProgramTitle), text + path));
}

bool TShell::SaveConfiguration(const QString &path)
{
    if (path.isEmpty())
        return true;
    TConfigValues values = CurrentValues();
    // The link's baud rates are no setting of the window: a copy under
    // another name takes those of the current file (a file keeps its own).
    if (TConfigValues current; path != State.ConfigFile && TConfigFile::Read(State.ConfigFile, values, current)) {
        values.Speed = current.Speed;
        values.HighSpeed = current.HighSpeed;
    }
    return ConfigurationSaved(path, TConfigFile::Write(path, values));
}

bool TShell::ConfigurationSaved(const QString &path, const QString &error)
{
    if (error.isEmpty())
        return true;
    WriteFailed(QStringLiteral("Can't save configuration \"%1\": %2").arg(path, error));
    return false;
}

void TShell::SaveEventLog()
{
    if (HoldEventLog)
        return;
    if (ScriptRunning && !ScriptLogFile.isEmpty())
        EventLog.Save(ScriptLogFile);
    else
        EventLog.Save(ScriptRunning && !WrittenDataFile.isEmpty() ? WrittenDataFile : State.AcquisitionFile);
}

int TShell::PortImageFor(int selector, int usbDeviceCount)
{
    if (selector >= 1 && selector <= 6)
        return selector + 1;
    if (selector == UsbPortSelector)
        return usbDeviceCount > 0 ? 1 : 0;
    if (selector == IPPortSelector)
        return 9;
    return 8;
}

void TShell::ShowPortImage(bool create)
{
    if (create && !Port && MakePort) {
        Port = MakePort(State.PortSelector);
        Model->Port = Port.get();
        WatchPort();
    }
    const int usb = State.PortSelector == UsbPortSelector ? UsbDeviceCount() : 0;
    View.ShowPortImage(PortImageFor(State.PortSelector, usb));
}

bool TShell::LinkOpen() const { return Port && Port->GetState() > 0; }

bool TShell::CloseRequested()
{
    if (ActionRunning) {
        // The action on the stack below ends its group, releases the
        // electrodes and closes the link when it returns.
        if (!ClosingDuringAction) {
            EventLog.AddStamped(Measuring
                                    ? QStringLiteral("closed during acquisition at quadripole %1").arg(GroupFirst + 1)
                                    : QStringLiteral("closed during an action"),
                                LogColor::Red);
            SaveEventLog();
        }
        ClosingDuringAction = true;
        State.RunState = TRunState::StopRequested;
        return true;
    }
    if (LinkOpen()) {
        DisconnectInstrument();
        ShowRunControls(false);
    }
    return true;
}

void TShell::AbandonAction()
{
    if (!ActionRunning || !Port)
        return;
    EventLog.AddStamped(QStringLiteral("Acquisition abandoned at quadripole %1").arg(GroupFirst + 1), LogColor::Red);
    SaveEventLog();
    Port->Disconnect();
}

void TShell::ShowRunControls(bool visible)
{
    RunControls = visible;
    View.ShowRunControls(visible);
}
