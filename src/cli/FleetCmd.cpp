// tarnelpro-cli fleet: one line per station publishing under a prefix, kept
// up to date on a terminal, or the retained state of every station with --once.
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/OptionParser.h"
#include "mqtt/FleetMonitor.h"
#include "mqtt/FleetTable.h"
#include "mqtt/MqttSettings.h"

#include <QDateTime>

#include <csignal>
#include <cstdio>
#include <set>

#include <unistd.h>

namespace {
volatile std::sig_atomic_t Ending = 0;

void OnSignal(int) { Ending = 1; }

constexpr const char *FleetUsage =
    "usage: tarnelpro-cli fleet --mqtt URL/PREFIX [--once] [--password-file FILE] [--cafile FILE]\n"
    "URL: mqtt://[USER@]HOST[:PORT] or mqtts://…; PREFIX: the stations' topics are PREFIX/<station>\n";

void Apply(TFleetTable &table, const std::vector<TFleetMessage> &messages, std::set<QString> *changed)
{
    const QDateTime now = QDateTime::currentDateTime();
    for (const TFleetMessage &m : messages) {
        if (!table.Apply(m.Topic, m.Payload, now) || !changed)
            continue;
        const QString rest = m.Topic.section(QLatin1Char('/'), -2, -2);
        changed->insert(rest);
    }
}
} // namespace

int RunFleetCommand(const QStringList &args)
{
    TOptionParser options("fleet", FleetUsage);
    if (!options.Parse(args, {"--mqtt", "--password-file", "--cafile"}, {"--once"}))
        return 2;
    const bool once = options.Has("--once");
    if (!options.Has("--mqtt"))
        return options.UsageError("--mqtt URL/PREFIX is required");
    TMqttSettings settings;
    if (const QString why = TMqttSettings::ParseUrl(options.Value("--mqtt"), settings); !why.isEmpty())
        return options.UsageError(why);
    if (settings.Topic.isEmpty())
        settings.Topic = QStringLiteral("tarnelpro");
    settings.PasswordFile = options.Value("--password-file");
    settings.CaFile = options.Value("--cafile");
    QString password, error;
    if (!settings.ReadPassword(password, error)) {
        PrintError(QStringLiteral("tarnelpro-cli fleet: ") + error);
        return 1;
    }

    TFleetMonitor monitor(settings, password);
    if (const QString why = monitor.Connect(10000); !why.isEmpty()) {
        PrintError(QStringLiteral("tarnelpro-cli fleet: ") + why);
        return 1;
    }
    TFleetTable table(settings.Topic);
    if (once) {
        // The retained states come right after the subscription: wait until
        // the broker has been quiet for a moment (at most a few seconds).
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        for (;;) {
            const auto messages = monitor.Take(700);
            Apply(table, messages, nullptr);
            if (messages.empty() || QDateTime::currentMSecsSinceEpoch() - start > 5000)
                break;
        }
        for (const QString &line : table.Lines(QDateTime::currentDateTime()))
            PrintOut(line);
        if (table.Stations.empty())
            PrintError(QStringLiteral("tarnelpro-cli fleet: no station under %1/").arg(settings.Topic));
        return 0;
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const bool terminal = ::isatty(STDOUT_FILENO) != 0;
    int shown = 0;
    while (!Ending) {
        std::set<QString> changed;
        Apply(table, monitor.Take(1000), &changed);
        const QDateTime now = QDateTime::currentDateTime();
        if (terminal) {
            // Redrawn in place: ages and "stale" change even without messages.
            QString text;
            if (shown > 0)
                text += QStringLiteral("\x1b[%1A").arg(shown);
            const QStringList lines = table.Lines(now);
            for (const QString &line : lines)
                text += QStringLiteral("\r\x1b[K") + line + QLatin1Char('\n');
            shown = int(lines.size());
            std::fputs(text.toLocal8Bit().constData(), stdout);
            std::fflush(stdout);
        } else {
            for (const QString &name : changed)
                PrintOut(now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + table.Line(name, now));
        }
    }
    return 0;
}
