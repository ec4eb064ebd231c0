// The commands that talk to an instrument: identify, acquire and
// check-resistance. They drive the same controller as the window.
#include "app/AcquisitionResume.h"
#include "app/Shell.h"
#include "base/Clock.h"
#include "base/TarnelError.h"
#include "cli/Commands.h"
#include "cli/CliLink.h"
#include "cli/Console.h"
#include "base/LinkAddress.h"
#include "cli/OptionParser.h"
#include "instrument/ConfigFile.h"
#include "instrument/DataFile.h"
#include "instrument/VoltixProGen.h"
#include "link/PortCOM.h"
#include "link/PortVirt.h"
#include "survey/Sequence.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <limits>

namespace {
// A console view that also carries the answers of the command line.
class TCommandView : public TConsoleView {
public:
    TShell *Shell = nullptr;
    bool Overwrite = false;
    float Maximum = 500.0f;
    int Selection = 0;
    std::array<int, 2> Pair{0, 0};
    int Retries = 3;

    bool AskOverwrite(const QString &) override { return Overwrite; }
    // Asked after connecting: the data file appeared meanwhile.
    TExistingFile AskExistingFile(const QString &path) override
    {
        if (Overwrite)
            return TExistingFile::Overwrite;
        throw ETarnelError(QStringLiteral("tarnelpro-cli: data file \"%1\" appeared while connecting; nothing was "
                                          "changed. Use --overwrite to replace it or --output to write another file.")
                               .arg(path));
    }
    float MaxResistance() const override { return Maximum; }
    int NodeSelection() const override { return Selection; }
    std::array<int, 2> NodePair() const override { return Pair; }
    void ShowResistance(int which, const Node &p1, const Node &p2, float r) override
    {
        if (which != 0)
            return;
        if (HavePair && (p1.Number != P1 || p2.Number != P2))
            PrintPair();
        if (!HavePair || p1.Number != P1 || p2.Number != P2) {
            Attempts = 0;
            HavePair = true;
            P1 = p1.Number;
            P2 = p2.Number;
        } else {
            ++Attempts;
        }
        Value = r;
        // A pair still above the maximum after its retries is skipped.
        if (r > Maximum && Attempts >= Retries && Shell)
            Shell->RequestSkip();
    }
    void ShowResistanceChecked(bool shown) override
    {
        if (shown && HavePair)
            PrintPair();
        HavePair = false;
    }

private:
    void PrintPair()
    {
        PrintOut(QStringLiteral("%1,%2,%3").arg(P1).arg(P2).arg(QString::number(double(Value), 'f', 2)));
    }
    bool HavePair = false;
    int P1 = 0, P2 = 0, Attempts = 0;
    float Value = 0;
};

struct TSession {
    TConsoleUi Ui;
    TCommandView View;
    TShell Shell{Ui, View, SystemClock(), TShell::TOptions{false}};
    // Seconds an exchange may go without progress before the command ends.
    int Timeout = TPortVirt::DefaultSilenceSeconds;
    TSession() { View.Shell = &Shell; }
};

void Close(TSession &s)
{
    if (s.Shell.LinkOpen())
        s.Shell.DisconnectInstrument();
}

// The session's header in the event log names the command; a log, a
// configuration or a duplicate that could not be written turns a finished
// run into exit status 1.
void Begin(TSession &s, const QString &command, const QStringList &args, const QString &mqtt)
{
    s.Shell.CommandLine = true;
    // Set before the configuration loads, which starts the report.
    s.Shell.MqttOverride = mqtt;
    s.Shell.EventLog.Action = QStringLiteral("tarnelpro-cli %1 %2").arg(command, args.join(QLatin1Char(' '))).trimmed();
    s.Shell.EventLog.OnSaveError = [](const QString &path, const QString &error) {
        PrintError(QStringLiteral("tarnelpro-cli: event log not saved: %1: %2").arg(path, error));
    };
}

int Finish(TSession &s, int status)
{
    if (status != 0 && status != 4)
        return status;
    if (s.Shell.EventLog.SaveFailed() || !s.Shell.FileErrors.isEmpty()) {
        for (const QString &e : s.Shell.FileErrors)
            PrintError(e);
        return 1;
    }
    return status;
}

QString Health(float v, int decimals)
{
    return QString::number(double(v), 'f', decimals);
}

QString LinkUsage(const char *command, const char *synopsis)
{
    return QStringLiteral("usage: tarnelpro-cli %1 %2\n%3")
        .arg(QLatin1String(command), QLatin1String(synopsis), QString::fromLatin1(LinkHelp));
}

// The checks every instrument command makes once its options are read: the
// required options, --timeout in whole seconds, a usable --mqtt. False after
// the usage error.
bool CheckOptions(TOptionParser &o, std::initializer_list<const char *> required, int &timeout)
{
    for (const char *r : required)
        if (!o.Has(r)) {
            o.UsageError(QStringLiteral("%1 is required").arg(QLatin1String(r)));
            return false;
        }
    if (!o.Int("--timeout", timeout, 1, 86400, "whole seconds from 1 to 86400"))
        return false;
    return MqttOptionUsable(o);
}

// Loads --config; false with a message when it cannot be read.
bool LoadConfig(TSession &s, const QString &path, TConfigValues &config)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) {
        PrintError(QStringLiteral("tarnelpro-cli: configuration file \"%1\" %2")
                       .arg(path, info.isDir() ? QStringLiteral("is a folder") : QStringLiteral("not found")));
        return false;
    }
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly)) {
        PrintError(QStringLiteral("tarnelpro-cli: cannot read configuration file \"%1\": %2").arg(path, probe.errorString()));
        return false;
    }
    if (!s.Shell.LoadConfiguration(path)) {
        PrintError(QStringLiteral("tarnelpro-cli: cannot read configuration file \"%1\"").arg(path));
        return false;
    }
    TConfigFile::Read(path, s.Shell.CurrentValues(), config);
    return true;
}

// Only the link of a configuration, as the window takes it at a connection:
// port number (with its [Devices] mapping), USB or TCP and the address.
bool LoadLinkConfig(TSession &s, const QString &path, TConfigValues &config)
{
    QString error;
    if (!TConfigFile::Read(path, s.Shell.CurrentValues(), config, &error)) {
        PrintError(QStringLiteral("tarnelpro-cli: cannot read \"%1\": %2").arg(path, error));
        return false;
    }
    s.Shell.State.PortSelector = config.Port;
    s.Shell.State.IPAddress = config.IPAddress;
    s.Shell.State.Devices = config.Devices;
    s.Shell.ShowPortImage(true);
    return true;
}

// Values given on the command line in place of the configuration's: in the
// event log, and in the file only with --save-config (as Start saves it).
void UseOverrides(TSession &s, const TOptionParser &o)
{
    const bool save = o.Has("--save-config");
    s.Shell.SaveConfigurationOnStart = save;
    QStringList overridden;
    if (o.Has("--output"))
        overridden << QStringLiteral("AcquisitionFile=") + s.Shell.State.AcquisitionFile;
    if (o.Has("--link"))
        overridden << QStringLiteral("link ") + o.Value("--link");
    if (o.Has("--mqtt"))
        overridden << QStringLiteral("MQTT ") + o.Value("--mqtt");
    if (overridden.isEmpty())
        return;
    s.Shell.EventLog.AddStamped(QStringLiteral("Command line overrides: %1 (%2)")
                                    .arg(overridden.join(QStringLiteral(", ")),
                                         save ? QStringLiteral("saved to the configuration file")
                                              : QStringLiteral("for this run only; the configuration file is unchanged")));
}

// Takes the lock of the data file before anything is connected or written;
// false, with who holds it, when another program writes it.
bool LockData(TSession &s, const QString &command)
{
    s.Shell.LockOwner = QStringLiteral("tarnelpro-cli ") + command;
    try {
        s.Shell.LockDataFile(s.Shell.State.AcquisitionFile);
    } catch (const ETarnelError &e) {
        PrintError(QStringLiteral("tarnelpro-cli: %1; nothing was changed").arg(e.Message()));
        return false;
    }
    if (const auto &dead = s.Shell.DataLock.TakenOver())
        PrintError(QStringLiteral("tarnelpro-cli: lock of %1, which has ended, taken over")
                       .arg(TDataFileLock::HolderText(*dead, QDateTime::currentDateTime())));
    return true;
}

// Link from --link or from the configuration; returns the exit status on failure.
int Connect(TSession &s, const TOptionParser &o, const TConfigValues *config)
{
    const bool given = o.Has("--link");
    const QString link = o.Value("--link");
    return ConnectLink(s.Shell, s.Ui, given ? &link : nullptr, config, s.Timeout);
}
} // namespace

int RunIdentifyCommand(const QStringList &args)
{
    TOptionParser o("identify", LinkUsage("identify", "--link LINK | --config FILE.ini [--timeout SECONDS] [--yes]"));
    TSession s;
    if (!o.Parse(args, {"--link", "--config", "--timeout"}, {"--yes"}) || !CheckOptions(o, {}, s.Timeout))
        return 2;
    const bool configured = o.Has("--config");
    if (!o.Has("--link") && !configured)
        return o.UsageError("--link or --config is required");
    s.Ui.AssumeYes = o.Has("--yes");
    TConfigValues config;
    if (configured && !LoadLinkConfig(s, o.Value("--config"), config))
        return 1;
    try {
        if (const int status = Connect(s, o, configured ? &config : nullptr); status != 0)
            return status;
        s.Shell.CheckInstrumentHealth();
        const auto *gen = dynamic_cast<TVoltixProGen *>(&s.Shell.Model->Protocol());
        PrintOut(QStringLiteral("Identification: %1 / %2").arg(s.Shell.IdentificationLines[0], s.Shell.IdentificationLines[1]));
        PrintOut(QStringLiteral("TypeCode: 0x%1").arg(s.Shell.Model->InstrumentType, 8, 16, QLatin1Char('0')));
        PrintOut(QStringLiteral("Generation: %1").arg(gen ? QString::number(gen->Table()->Generation) : QStringLiteral("unknown")));
        PrintOut(QStringLiteral("Channels: %1").arg(gen ? gen->InstrumentChannels() : 0));
        const auto &h = s.Shell.LastHealth;
        PrintOut(QStringLiteral("TxBattery: %1").arg(Health(h[0], 1)));
        PrintOut(QStringLiteral("RxBattery: %1").arg(Health(h[1], 1)));
        PrintOut(QStringLiteral("Temperature: %1").arg(Health(h[2], 0)));
        Close(s);
        return 0;
    } catch (const ETarnelError &e) {
        PrintError(e.Message());
        return 1;
    }
}

int RunAcquireCommand(const QStringList &args)
{
    TOptionParser o("acquire",
                    LinkUsage("acquire", "--config FILE.ini [--link LINK] [--output FILE.bin] [--overwrite | --resume] "
                                         "[--save-config] [--timeout SECONDS] [--mqtt URL/TOPIC] [--yes]"));
    TSession s;
    if (!o.Parse(args, {"--config", "--link", "--output", "--timeout", "--mqtt"},
                 {"--overwrite", "--resume", "--yes", "--save-config"}) ||
        !CheckOptions(o, {"--config"}, s.Timeout))
        return 2;
    if (o.Has("--resume") && o.Has("--overwrite"))
        return o.UsageError("--resume and --overwrite exclude each other");
    s.Ui.AssumeYes = o.Has("--yes");
    Begin(s, QStringLiteral("acquire"), args, o.Value("--mqtt"));
    TConfigValues config;
    if (!LoadConfig(s, o.Value("--config"), config))
        return 1;
    if (o.Has("--output"))
        s.Shell.State.AcquisitionFile = QFileInfo(o.Value("--output")).absoluteFilePath();
    if (s.Shell.Model->QuadCount == 0) {
        PrintError(QStringLiteral("tarnelpro-cli: the configuration names no quadripole to measure"));
        return 1;
    }
    if (!s.Shell.CoordinateFault.isEmpty()) {
        PrintError(QStringLiteral("tarnelpro-cli: %1: nothing was measured").arg(s.Shell.CoordinateFault));
        return 1;
    }
    if (const QString dangling = DanglingLinkText(s.Shell.State.AcquisitionFile); !dangling.isEmpty()) {
        PrintError(QStringLiteral("tarnelpro-cli: %1").arg(dangling));
        return 1;
    }
    // Held from before the file is looked at to the end of the run: another
    // run on this file, --overwrite and --resume included, is refused.
    if (!LockData(s, QStringLiteral("acquire")))
        return 1;
    if (o.Has("--resume")) {
        // Checked before connecting: a file of another survey is refused
        // without touching it or the instrument.
        try {
            s.Shell.Resume = TAcquisitionResume::Plan(s.Shell.State.AcquisitionFile, *s.Shell.Model);
        } catch (const ETarnelError &e) {
            PrintError(QStringLiteral("tarnelpro-cli: cannot resume: %1").arg(e.Message()));
            return 1;
        }
        PrintError(s.Shell.Resume->Description(s.Shell.Model->QuadCount));
    } else if (QFileInfo::exists(s.Shell.State.AcquisitionFile) && !o.Has("--overwrite")) {
        PrintError(QStringLiteral("tarnelpro-cli: data file \"%1\" exists; nothing was changed. Use --overwrite to "
                                  "replace it or --output to write another file.")
                       .arg(s.Shell.State.AcquisitionFile));
        return 3;
    }
    // A data file that appears while connecting is replaced only with --overwrite.
    s.View.Overwrite = o.Has("--overwrite");
    s.Shell.ReplaceDataFile = s.View.Overwrite;
    UseOverrides(s, o);
    s.Shell.OnProgress = [&s](const QString &label, const QString &estimate) {
        const QString quality = QStringLiteral("  %1 flagged of %2").arg(s.View.QualityFlagged).arg(s.View.QualityTotal);
        PrintError((estimate.isEmpty() ? label : label + QStringLiteral("  remaining ") + estimate) + quality);
    };
    s.Shell.OnQualityLine = [](const QString &line) { PrintError(line); };
    try {
        if (const int status = Connect(s, o, &config); status != 0)
            return status;
        TStopOnSignal stop(s.Shell);
        s.Shell.RunStartAction(TShell::ActionAcquisition);
        const bool alarm = s.Shell.LastRunEnd == TShell::TRunEnd::Aborted;
        Close(s);
        if (alarm) {
            PrintError(QStringLiteral("Acquisition stopped by a battery or temperature alarm."));
            return Finish(s, 4);
        }
        return Finish(s, 0);
    } catch (const ETarnelError &e) {
        PrintError(e.Message());
        return 1;
    }
}

int RunCheckResistanceCommand(const QStringList &args)
{
    TOptionParser o("check-resistance",
                    LinkUsage("check-resistance",
                              "--config FILE.ini [--nodes used|defined|P1,P2] [--max KOHM] [--retries N] "
                              "[--link LINK] [--save-config] [--timeout SECONDS] [--mqtt URL/TOPIC] [--yes]"));
    TSession s;
    if (!o.Parse(args, {"--config", "--nodes", "--max", "--retries", "--link", "--timeout", "--mqtt"},
                 {"--yes", "--save-config"}) ||
        !CheckOptions(o, {"--config"}, s.Timeout))
        return 2;
    s.Ui.AssumeYes = o.Has("--yes");
    const QString nodes = o.Has("--nodes") ? o.Value("--nodes") : QStringLiteral("used");
    if (nodes == QLatin1String("used")) {
        s.View.Selection = 0;
    } else if (nodes == QLatin1String("defined")) {
        s.View.Selection = 1;
    } else {
        const QStringList pair = nodes.split(QLatin1Char(','));
        bool ok1 = false, ok2 = false;
        if (pair.size() == 2)
            s.View.Pair = {pair[0].toInt(&ok1), pair[1].toInt(&ok2)};
        if (!ok1 || !ok2)
            return o.UsageError(
                QStringLiteral("--nodes takes used, defined or two electrode numbers P1,P2, not \"%1\"").arg(nodes));
        s.View.Selection = 2;
    }
    double maximum = double(s.View.Maximum);
    if (!o.Real("--max", maximum, 0, std::numeric_limits<float>::max(), "kOhm above 0", true) ||
        !o.Int("--retries", s.View.Retries, 0, std::numeric_limits<int>::max(), "a whole number from 0"))
        return 2;
    s.View.Maximum = float(maximum);
    Begin(s, QStringLiteral("check-resistance"), args, o.Value("--mqtt"));
    TConfigValues config;
    if (!LoadConfig(s, o.Value("--config"), config))
        return 1;
    // Its resistance file and log lie beside the data file.
    if (!LockData(s, QStringLiteral("check-resistance")))
        return 1;
    try {
        if (const int status = Connect(s, o, &config); status != 0)
            return status;
        UseOverrides(s, o);
        // Start saves nothing before a resistance check; asked for, the
        // configuration is saved here.
        if (s.Shell.SaveConfigurationOnStart && !s.Shell.SaveConfiguration(s.Shell.State.ConfigFile))
            return 1;
        TStopOnSignal stop(s.Shell);
        s.Shell.RunStartAction(TShell::ActionResistance);
        Close(s);
        return Finish(s, 0);
    } catch (const ETarnelError &e) {
        PrintError(e.Message());
        return 1;
    }
}
