// tarnelpro-cli script: runs a script file with the console as its window,
// lists its lines as the runner reads them, or previews its schedule on a
// virtual clock with the same runner.
#include "app/Shell.h"
#include "base/Clock.h"
#include "base/EventLog.h"
#include "base/SilentUi.h"
#include "base/TarnelError.h"
#include "cli/CliLink.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "base/LinkAddress.h"
#include "cli/OptionParser.h"
#include "instrument/ConfigFile.h"
#include "link/PortCOM.h"
#include "link/PortVirt.h"
#include "script/Script.h"
#include "script/ScriptRunner.h"
#include "script/StationState.h"

#include <QDateTime>
#include <QFileInfo>

#include <climits>
#include <cmath>
#include <limits>

namespace {
QString Usage()
{
    return QStringLiteral(
               "usage: tarnelpro-cli script FILE.scp [--link LINK] [--timeout SECONDS] [--reconnect-pause SECONDS] [--resume]\n"
               "                                     [--mqtt URL/TOPIC] [--yes]\n"
               "       tarnelpro-cli script FILE.scp --list\n"
               "       tarnelpro-cli script FILE.scp --plan [--from \"YYYY-MM-DD HH:MM:SS\"] [--duration MINUTES] [--limit N]\n%1")
        .arg(QString::fromLatin1(LinkHelp));
}

// The command line once read and checked.
struct TScriptArgs {
    QString File;
    TOptionParser Options{"script", Usage()};
    int Timeout = TPortVirt::DefaultSilenceSeconds;
    int ReconnectPause = -1; // seconds; -1: the shell's own pauses
    QDateTime From = QDateTime::currentDateTime();
    double Minutes = 0.0;
    qint64 Limit = 1000;
    bool Has(const char *option) const { return Options.Has(option); }
    QString Value(const char *option) const { return Options.Value(option); }
};

// False after the usage error.
bool ParseArgs(const QStringList &args, TScriptArgs &a)
{
    TOptionParser &o = a.Options;
    if (!o.Parse(args, {"--link", "--timeout", "--from", "--duration", "--limit", "--reconnect-pause", "--mqtt"},
                 {"--yes", "--list", "--plan", "--resume"}, 1))
        return false;
    if (o.Positionals().isEmpty()) {
        o.UsageError("no script file given");
        return false;
    }
    a.File = o.Positionals().first();
    if (o.Has("--list") && o.Has("--plan")) {
        o.UsageError("--list and --plan exclude each other");
        return false;
    }
    const bool runOnly = o.Has("--link") || o.Has("--timeout") || o.Has("--yes") || o.Has("--reconnect-pause") ||
                         o.Has("--resume") || o.Has("--mqtt");
    const bool planOnly = o.Has("--from") || o.Has("--duration") || o.Has("--limit");
    if ((o.Has("--list") && (runOnly || planOnly)) || (o.Has("--plan") && runOnly) || (!o.Has("--plan") && planOnly)) {
        o.UsageError("--link, --timeout, --reconnect-pause, --resume and --yes are for running; --from, --duration and "
                     "--limit for --plan; --list takes none of them");
        return false;
    }
    if (!o.Int("--timeout", a.Timeout, 1, 86400, "whole seconds from 1 to 86400") ||
        !o.Int("--reconnect-pause", a.ReconnectPause, 0, 86400, "whole seconds from 0 to 86400") ||
        !o.Real("--duration", a.Minutes, 0, 1e9, "a number of minutes from 0") ||
        !o.Int("--limit", a.Limit, 0, std::numeric_limits<qint64>::max(), "a whole number from 0"))
        return false;
    if (o.Has("--from")) {
        a.From = QDateTime::fromString(o.Value("--from"), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!a.From.isValid()) {
            o.UsageError(QStringLiteral("--from wants \"YYYY-MM-DD HH:MM:SS\", not \"%1\"").arg(o.Value("--from")));
            return false;
        }
    }
    return MqttOptionUsable(o);
}

bool ReadScript(const QString &path, QStringList &lines)
{
    QString error;
    bool ok = false;
    lines = TScript::ReadLines(path, error, &ok);
    if (!ok)
        PrintError(QStringLiteral("tarnelpro-cli: cannot read script \"%1\": %2").arg(path, error));
    return ok;
}

int ListScript(const QStringList &lines)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const TScriptLine p = ParseScriptLine(lines[i]);
        QString out = QString::number(i + 1);
        if (p.IsEvent) {
            out += QStringLiteral(" event ") + QString::number(p.Code);
            if (!p.Argument.isEmpty())
                out += QLatin1Char(' ') + p.Argument;
        } else {
            out += QStringLiteral(" memo");
            if (!lines[i].isEmpty())
                out += QLatin1Char(' ') + lines[i];
        }
        PrintOut(out);
    }
    return 0;
}

// Virtual time: it moves only when the runner waits or an acquisition "runs".
class TVirtualClock final : public TClock {
public:
    std::int64_t Now = 0;
    std::int64_t Ms() override { return Now; }
    void Sleep(int ms) override { Now += std::max(0, ms); }
};

class TPlanUi final : public TSilentUi {
public:
    explicit TPlanUi(TVirtualClock &clock) : Clock(clock) {}
    void WaitEvents(int maxWaitMs) override { Clock.Sleep(maxWaitMs); }

private:
    TVirtualClock &Clock;
};

class TPlanHost final : public TScriptHost {
public:
    TPlanHost(TVirtualClock &clock, std::int64_t durationMs) : Clock(clock), DurationMs(durationMs) {}
    bool StopRequested() override { return false; }
    bool Paused() override { return false; }
    void SaveLog() override {}
    bool StartConfiguration(const QString &) override
    {
        Clock.Now += DurationMs;
        return true;
    }
    bool AskStopScript() override { return false; }
    void ConfigurationDone() override {}

private:
    TVirtualClock &Clock;
    std::int64_t DurationMs;
};

QString PlanTime(const QDateTime &t)
{
    const qint64 ms = t.toMSecsSinceEpoch();
    const qint64 rounded = ms >= 0 ? (ms + 500) / 1000 * 1000 : -((-ms + 499) / 1000 * 1000);
    return QDateTime::fromMSecsSinceEpoch(rounded).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

int PlanScript(const QStringList &lines, const TScriptArgs &a)
{
    const qint64 limit = a.Limit;
    TVirtualClock clock;
    TPlanUi ui(clock);
    TPlanHost host(clock, std::llround(a.Minutes * 60000.0));
    TEventLog log;
    TScriptRunner runner(ui, log, host);
    runner.Now = TScriptRunner::ClockTime(clock, a.From);
    log.Now = runner.Now;
    runner.MaxWaitMs = INT_MAX;
    qint64 executed = 0;
    const auto now = [&] { return PlanTime(runner.Now()); };
    runner.MayExecute = [&](const TScriptEvent &) {
        if (executed >= limit) {
            PrintOut(now() + QStringLiteral(" limit"));
            return false;
        }
        ++executed;
        return true;
    };
    runner.OnExecute = [&](const TScriptEvent &e) {
        PrintOut(QStringLiteral("%1 %2 %3 %4").arg(now()).arg(e.Position).arg(e.Code).arg(e.Argument));
    };
    runner.OnError = [&](const TScriptEvent &e, const QString &line) {
        PrintOut(QStringLiteral("%1 %2 error %3").arg(now()).arg(e.Position).arg(line));
    };
    if (runner.Run(lines) != TScriptRunner::TEnd::Limit)
        PrintOut(now() + QStringLiteral(" end"));
    return 0;
}

class TScriptView final : public TConsoleView {
public:
    // Only a signal stops a script here, and it means the whole script.
    bool AskStopScript() override
    {
        PrintError(QStringLiteral("Stop acquisition and script: Yes"));
        return true;
    }
};

int RunScriptFile(const QStringList &lines, const TScriptArgs &a)
{
    TConsoleUi ui;
    TScriptView view;
    TShell shell(ui, view, SystemClock(), TShell::TOptions{false});
    if (a.ReconnectPause >= 0)
        shell.ReconnectPausesMs = {a.ReconnectPause * 1000, a.ReconnectPause * 3000};
    ui.AssumeYes = a.Has("--yes");
    // Every configuration the script loads reports to this broker.
    if (a.Has("--mqtt"))
        shell.MqttOverride = a.Value("--mqtt");
    const bool station = a.Has("--resume");
    if (station) {
        // Where the script stands is kept; a restart goes on from there.
        shell.StationScript = QFileInfo(a.File).absoluteFilePath();
        shell.StationFile = TStationState::PathFor(shell.StationScript);
        TStationState state;
        state.Script = shell.StationScript;
        if (state.Load(shell.StationFile) && state.Finished) {
            PrintError(QStringLiteral("tarnelpro-cli: the script has already run to its end (%1); remove that file "
                                      "to run it again")
                           .arg(shell.StationFile));
            return 0;
        }
    }
    shell.Script.Lines = lines;
    shell.EventLog.OnLine = [](const TLogLine &line) { PrintOut(line.Text); };
    shell.CommandLine = true;
    shell.EventLog.Action = QStringLiteral("tarnelpro-cli script ") + a.File;
    // How another program that finds one of the script's data files locked names it.
    shell.LockOwner = QStringLiteral("tarnelpro-cli script");
    shell.EventLog.OnSaveError = [](const QString &path, const QString &error) {
        PrintError(QStringLiteral("tarnelpro-cli: event log not saved: %1: %2").arg(path, error));
    };
    shell.OnScriptFailure = [](const QString &reason) { PrintError(reason); };
    shell.OnProgress = [](const QString &label, const QString &estimate) {
        PrintError(estimate.isEmpty() ? label : label + QStringLiteral("  remaining ") + estimate);
    };

    shell.ApplyMqtt();
    // Without --link the script's first configuration names the link, as
    // the window would have it after loading that configuration.
    TConfigValues config;
    bool haveConfig = false;
    if (!a.Has("--link")) {
        for (const QString &line : lines) {
            const TScriptLine p = ParseScriptLine(line);
            if (!p.IsEvent || p.Code != StartCode || p.Argument.isEmpty())
                continue;
            if (!QFileInfo(p.Argument).isFile() || !shell.LoadConfiguration(p.Argument)) {
                PrintError(QStringLiteral("tarnelpro-cli: configuration file \"%1\" cannot be read for its link; "
                                          "give --link").arg(p.Argument));
                return 1;
            }
            TConfigFile::Read(p.Argument, shell.CurrentValues(), config);
            haveConfig = true;
            break;
        }
    }
    try {
        const QString link = a.Value("--link");
        int status = 1;
        try {
            status = ConnectLink(shell, ui, a.Has("--link") ? &link : nullptr, haveConfig ? &config : nullptr,
                                 a.Timeout);
        } catch (const ETarnelError &e) {
            if (!station)
                throw;
            PrintError(e.Message());
        }
        // A station may start before its instrument (a reboot, a power cut):
        // each acquisition connects when it comes.
        if (status == 1 && station)
            PrintError(QStringLiteral("tarnelpro-cli: no instrument yet; each acquisition connects when it comes"));
        else if (status != 0)
            return status;
        if (a.Has("--link")) {
            // Every configuration of the script then uses this link.
            QString error;
            const auto address = ParseLinkAddress(link, error);
            if (address)
                shell.FixedLink = *address;
        }
        {
            TStopOnSignal stop(shell, QStringLiteral("Stop requested."));
            shell.RunStartAction(TShell::ActionScript);
        }
        if (shell.LinkOpen())
            shell.DisconnectInstrument();
    } catch (const ETarnelError &e) {
        PrintError(e.Message());
        return 1;
    }
    // Success only when every event did what it says (an alarm that stopped
    // an acquisition fails its event too); the log says why not.
    if (shell.ScriptFailures > 0) {
        PrintError(QStringLiteral("tarnelpro-cli: %1 script event(s) failed").arg(shell.ScriptFailures));
        return 1;
    }
    // A log, configuration or duplicate that was not written is a failure of the run.
    if (shell.EventLog.SaveFailed() || !shell.FileErrors.isEmpty()) {
        for (const QString &e : shell.FileErrors)
            PrintError(e);
        return 1;
    }
    return 0;
}
} // namespace

int RunScriptCommand(const QStringList &args)
{
    TScriptArgs a;
    if (!ParseArgs(args, a))
        return 2;
    QStringList lines;
    if (!ReadScript(a.File, lines))
        return 1;
    if (a.Has("--list"))
        return ListScript(lines);
    // Refused before anything runs: it would take a core and never wait.
    if (const QString loop = TScriptRunner::EndlessLoop(lines); !loop.isEmpty()) {
        PrintError(QStringLiteral("tarnelpro-cli: %1").arg(loop));
        return 1;
    }
    if (a.Has("--plan"))
        return PlanScript(lines, a);
    return RunScriptFile(lines, a);
}
