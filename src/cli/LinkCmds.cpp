// The commands that talk to an instrument: identify, acquire and
// check-resistance. They drive the same controller as the window.
#include "app/AcquisitionResume.h"
#include "app/Shell.h"
#include "base/Clock.h"
#include "base/TarnelError.h"
#include "cli/Commands.h"
#include "cli/CliLink.h"
#include "cli/Console.h"
#include "cli/LinkAddress.h"
#include "instrument/ConfigFile.h"
#include "instrument/VoltixProGen.h"
#include "link/PortCOM.h"
#include "link/PortVirt.h"
#include "survey/Sequence.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {
// Reads "--name value" and "--flag" options; anything else is a usage error.
class TOptions {
public:
    TOptions(const QStringList &args, const QStringList &valued, const QStringList &flags)
    {
        for (int i = 0; i < args.size(); ++i) {
            const QString &a = args[i];
            if (valued.contains(a) && i + 1 < args.size()) {
                Values[a] = args[++i];
            } else if (valued.contains(a)) {
                Error = QStringLiteral("missing value after %1").arg(a);
                return;
            } else if (flags.contains(a)) {
                Flags << a;
            } else {
                Error = QStringLiteral("unexpected argument \"%1\"").arg(a);
                return;
            }
        }
    }
    QString Error;
    QMap<QString, QString> Values;
    QStringList Flags;
    bool Has(const QString &flag) const { return Flags.contains(flag); }
};

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
            Shell->SkipBtnClick();
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
void Begin(TSession &s, const QString &command, const QStringList &args)
{
    s.Shell.CommandLine = true;
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

// Loads --config; false with a message when it cannot be read.
bool LoadConfig(TSession &s, const QString &path, TConfigValues &config)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        PrintError(QStringLiteral("tarnelpro-cli: configuration file \"%1\" not found").arg(path));
        return false;
    }
    if (info.isDir()) {
        PrintError(QStringLiteral("tarnelpro-cli: \"%1\" is a folder, not a configuration file").arg(path));
        return false;
    }
    // Read once on its own first: an unreadable file must say so, not load
    // as an empty configuration that names nothing to measure.
    if (QString error; !TConfigFile::Read(path, s.Shell.CurrentValues(), config, &error)) {
        PrintError(QStringLiteral("tarnelpro-cli: cannot read configuration file \"%1\": %2").arg(path, error));
        return false;
    }
    s.Shell.LoadConfiguration(path);
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
    TPortCOM::SetDeviceMap(config.Devices);
    s.Shell.ShowPortImage(true);
    return true;
}

// Values given on the command line in place of the configuration's: in the
// event log, and in the file only with --save-config (as Start saves it).
void UseOverrides(TSession &s, const TOptions &o)
{
    const bool save = o.Has(QStringLiteral("--save-config"));
    s.Shell.SaveConfigurationOnStart = save;
    QStringList overridden;
    if (o.Values.contains(QStringLiteral("--output")))
        overridden << QStringLiteral("AcquisitionFile=") + s.Shell.State.AcquisitionFile;
    if (o.Values.contains(QStringLiteral("--link")))
        overridden << QStringLiteral("link ") + o.Values[QStringLiteral("--link")];
    if (overridden.isEmpty())
        return;
    s.Shell.EventLog.AddStamped(QStringLiteral("Command line overrides: %1 (%2)")
                                    .arg(overridden.join(QStringLiteral(", ")),
                                         save ? QStringLiteral("saved to the configuration file")
                                              : QStringLiteral("for this run only; the configuration file is unchanged")));
}

// Link from --link or from the configuration; returns the exit status on failure.
int Connect(TSession &s, const TOptions &o, const TConfigValues *config)
{
    const bool given = o.Values.contains(QStringLiteral("--link"));
    const QString link = o.Values.value(QStringLiteral("--link"));
    return ConnectLink(s.Shell, s.Ui, given ? &link : nullptr, config, s.Timeout);
}
} // namespace

int RunIdentifyCommand(const QStringList &args)
{
    const TOptions o(args, {QStringLiteral("--link"), QStringLiteral("--config"), QStringLiteral("--timeout")},
                     {QStringLiteral("--yes")});
    const bool configured = o.Values.contains(QStringLiteral("--config"));
    TSession s;
    QString why = o.Error;
    if (why.isEmpty() && !o.Values.contains(QStringLiteral("--link")) && !configured)
        why = QStringLiteral("give --link or --config");
    if (why.isEmpty())
        why = TimeoutError(o.Values, s.Timeout);
    if (!why.isEmpty()) {
        PrintError(QStringLiteral("tarnelpro-cli identify: ") + why);
        PrintError(QStringLiteral("usage: tarnelpro-cli identify --link LINK | --config FILE.ini [--timeout SECONDS] [--yes]\n%1")
                       .arg(QString::fromLatin1(LinkHelp)));
        return 2;
    }
    s.Ui.AssumeYes = o.Has(QStringLiteral("--yes"));
    TConfigValues config;
    if (configured && !LoadLinkConfig(s, o.Values[QStringLiteral("--config")], config))
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
    const TOptions o(args,
                     {QStringLiteral("--config"), QStringLiteral("--link"), QStringLiteral("--output"),
                      QStringLiteral("--timeout")},
                     {QStringLiteral("--overwrite"), QStringLiteral("--resume"), QStringLiteral("--yes"),
                      QStringLiteral("--save-config")});
    TSession s;
    QString why = o.Error;
    if (why.isEmpty() && !o.Values.contains(QStringLiteral("--config")))
        why = QStringLiteral("--config is required");
    if (why.isEmpty())
        why = TimeoutError(o.Values, s.Timeout);
    if (why.isEmpty() && o.Has(QStringLiteral("--resume")) && o.Has(QStringLiteral("--overwrite")))
        why = QStringLiteral("--resume and --overwrite exclude each other");
    if (!why.isEmpty()) {
        PrintError(QStringLiteral("tarnelpro-cli acquire: ") + why);
        PrintError(QStringLiteral("usage: tarnelpro-cli acquire --config FILE.ini [--link LINK] [--output FILE.bin] "
                                  "[--overwrite | --resume] [--save-config] [--timeout SECONDS] [--yes]\n%1")
                       .arg(QString::fromLatin1(LinkHelp)));
        return 2;
    }
    s.Ui.AssumeYes = o.Has(QStringLiteral("--yes"));
    Begin(s, QStringLiteral("acquire"), args);
    TConfigValues config;
    if (!LoadConfig(s, o.Values[QStringLiteral("--config")], config))
        return 1;
    if (o.Values.contains(QStringLiteral("--output")))
        s.Shell.State.AcquisitionFile = QFileInfo(o.Values[QStringLiteral("--output")]).absoluteFilePath();
    if (s.Shell.Model->QuadCount == 0) {
        PrintError(QStringLiteral("tarnelpro-cli: the configuration names no quadripole to measure"));
        return 1;
    }
    if (!s.Shell.CoordinateFault.isEmpty()) {
        PrintError(QStringLiteral("tarnelpro-cli: %1: nothing was measured").arg(s.Shell.CoordinateFault));
        return 1;
    }
    if (o.Has(QStringLiteral("--resume"))) {
        // Checked before connecting: a file of another survey is refused
        // without touching it or the instrument.
        try {
            s.Shell.Resume = TAcquisitionResume::Plan(s.Shell.State.AcquisitionFile, *s.Shell.Model);
        } catch (const ETarnelError &e) {
            PrintError(QStringLiteral("tarnelpro-cli: cannot resume: %1").arg(e.Message()));
            return 1;
        }
        PrintError(s.Shell.Resume->Description(s.Shell.Model->QuadCount));
    } else if (QFileInfo::exists(s.Shell.State.AcquisitionFile) && !o.Has(QStringLiteral("--overwrite"))) {
        PrintError(QStringLiteral("tarnelpro-cli: data file \"%1\" exists; nothing was changed. Use --overwrite to "
                                  "replace it or --output to write another file.")
                       .arg(s.Shell.State.AcquisitionFile));
        return 3;
    }
    // A data file that appears while connecting is replaced only with --overwrite.
    s.View.Overwrite = o.Has(QStringLiteral("--overwrite"));
    s.Shell.ReplaceDataFile = s.View.Overwrite;
    UseOverrides(s, o);
    s.Shell.OnProgress = [](const QString &label, const QString &estimate) {
        PrintError(estimate.isEmpty() ? label : label + QStringLiteral("  remaining ") + estimate);
    };
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
    const TOptions o(args,
                     {QStringLiteral("--config"), QStringLiteral("--nodes"), QStringLiteral("--max"),
                      QStringLiteral("--retries"), QStringLiteral("--link"), QStringLiteral("--timeout")},
                     {QStringLiteral("--yes"), QStringLiteral("--save-config")});
    const auto usage = [](const QString &why) {
        PrintError(QStringLiteral("tarnelpro-cli check-resistance: ") + why);
        PrintError(QStringLiteral("usage: tarnelpro-cli check-resistance --config FILE.ini [--nodes used|defined|P1,P2] "
                                  "[--max KOHM] [--retries N] [--link LINK] [--save-config] [--timeout SECONDS] [--yes]\n%1")
                       .arg(QString::fromLatin1(LinkHelp)));
        return 2;
    };
    TSession s;
    if (!o.Error.isEmpty())
        return usage(o.Error);
    if (!o.Values.contains(QStringLiteral("--config")))
        return usage(QStringLiteral("--config is required"));
    if (const QString why = TimeoutError(o.Values, s.Timeout); !why.isEmpty())
        return usage(why);
    s.Ui.AssumeYes = o.Has(QStringLiteral("--yes"));
    const QString nodes = o.Values.value(QStringLiteral("--nodes"), QStringLiteral("used"));
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
            return usage(QStringLiteral("--nodes takes used, defined or P1,P2, not \"%1\"").arg(nodes));
        s.View.Selection = 2;
    }
    bool ok = true;
    if (o.Values.contains(QStringLiteral("--max")))
        s.View.Maximum = o.Values[QStringLiteral("--max")].toFloat(&ok);
    if (!ok || s.View.Maximum <= 0)
        return usage(QStringLiteral("--max takes a resistance in kOhm above 0, not \"%1\"")
                         .arg(o.Values.value(QStringLiteral("--max"))));
    if (o.Values.contains(QStringLiteral("--retries")))
        s.View.Retries = o.Values[QStringLiteral("--retries")].toInt(&ok);
    if (!ok || s.View.Retries < 0)
        return usage(QStringLiteral("--retries takes a whole number of 0 or more, not \"%1\"")
                         .arg(o.Values.value(QStringLiteral("--retries"))));
    Begin(s, QStringLiteral("check-resistance"), args);
    TConfigValues config;
    if (!LoadConfig(s, o.Values[QStringLiteral("--config")], config))
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
