// tarnelpro-cli: the headless front end on the same core as the window.
#include "base/WireTrace.h"
#include "cli/Commands.h"

#include <QCoreApplication>

#include <clocale>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>

#include <unistd.h>

namespace {
// Standard output as the commands use it, through stdio, on a stream that
// remembers why a write failed: a full disk or /dev/full under a redirection
// must end in exit status 1 with the system's reason, never in 0 over a
// truncated file.
int OutputError = 0;

ssize_t WriteOutput(void *, const char *bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (OutputError == 0)
                OutputError = n < 0 ? errno : ENOSPC;
            break;
        }
        done += size_t(n);
    }
    return ssize_t(done);
}

void CheckedStdout()
{
    cookie_io_functions_t io{};
    io.write = WriteOutput;
    FILE *out = ::fopencookie(nullptr, "w", io);
    if (!out)
        return;
    // As the C library buffers a terminal and a file.
    std::setvbuf(out, nullptr, ::isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, BUFSIZ);
    std::fflush(stdout);
    stdout = out;
}

// Flushes what the command wrote and says why it could not be written.
int OutputChecked(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || OutputError != 0) {
        std::fprintf(stderr, "tarnelpro-cli: cannot write the output: %s\n",
                     qPrintable(qt_error_string(OutputError != 0 ? OutputError : EIO)));
        return status == 0 ? 1 : status;
    }
    return status;
}

void Usage(std::FILE *to)
{
    std::fputs("usage: tarnelpro-cli <command> [options]\n"
               "commands:\n"
               "  survey --quadripoles Q.txt [--coordinates C.txt] [--groups N]\n"
               "         load a survey and print its quadripole table or its groups\n"
               "  section --quadripoles Q.txt --coordinates C.txt [--data FILE.bin]\n"
               "         print the pseudo-section planes, sections and cells of a survey, and the\n"
               "         Rho values and colour range of a data file\n"
               "  identify --link LINK | --config FILE.ini [--timeout SECONDS] [--yes]\n"
               "         connect, identify the instrument, read its batteries, disconnect\n"
               "  acquire --config FILE.ini [--link LINK] [--output FILE.bin] [--overwrite | --resume] [--save-config]\n"
               "          [--timeout SECONDS] [--mqtt URL/TOPIC] [--yes]\n"
               "         run the acquisition of a configuration (SIGINT/SIGTERM stop it cleanly)\n"
               "  check-resistance --config FILE.ini [--nodes used|defined|P1,P2] [--max KOHM]\n"
               "                   [--retries N] [--link LINK] [--save-config] [--timeout SECONDS]\n"
               "                   [--mqtt URL/TOPIC] [--yes]\n"
               "         measure electrode pair resistances, one line P1,P2,kOhm per pair\n"
               "  script FILE.scp [--link LINK] [--timeout SECONDS] [--reconnect-pause SECONDS] [--resume]\n"
               "         [--mqtt URL/TOPIC] [--yes]\n"
               "         run a script, printing the event log (SIGINT/SIGTERM end it); --resume: as a\n"
               "         station that goes on where it was after a restart\n"
               "  script FILE.scp --list | --plan [--from \"YYYY-MM-DD HH:MM:SS\"] [--duration MINUTES] [--limit N]\n"
               "         print the script's lines as read, or its schedule on a virtual clock\n"
               "  config FILE.ini --print | --save OUT.ini\n"
               "         print the effective configuration, or save it (unknown keys kept)\n"
               "  export FILE.bin --format csv|unified|protocol|res2dinv [-o OUT|-] [--overwrite]\n"
               "         [--line] [--ip none|chargeability|phase:F] [--config FILE.ini]\n"
               "         write a data file for processing tools (OUT beside FILE: FILE.csv, FILE.ohm,\n"
               "         FILE_protocol.dat, FILE_res2dinv.dat; - for stdout)\n"
               "  qc FILE.bin [--config FILE.ini]\n"
               "         quality summary: flag counts, reciprocal errors, error model, worst electrodes\n"
               "  sequence --electrodes N --array dd|wenner|schlumberger|gradient|pole-dipole|pole-pole\n"
               "           [--spacing-max K] [--n-max N] [--dipole-max D] [--reciprocals] [--channels C]\n"
               "         write a quadripole file on stdout, the group counts on stderr; refuses a\n"
               "         survey beyond 2001 electrodes or 15998 quadripoles\n"
               "  fleet --mqtt URL/PREFIX [--once] [--password-file FILE] [--cafile FILE]\n"
               "         one line per station reporting under PREFIX (state, progress, batteries,\n"
               "         temperature, last seen), kept up to date; --once prints the retained states\n"
               "  timelapse BASE.bin FILE.bin... [--config F.ini] [--csv OUT.csv] [--svg OUT.svg] [--file N]\n"
               "            [--threshold PCT] [--alarms]\n"
               "         pair each later file's readings with the baseline's by electrode positions (1 mm):\n"
               "         one line per file (paired, left out, median change and p95 of |change| in %, readings beyond\n"
               "         PCT, default [Alarm] MaxChange or 10); --svg draws the change section of the last (or Nth)\n"
               "         later file; --alarms judges [Alarm] and exits 5 on an alarm\n"
               "--save-config writes --link and --output into the configuration file; without it\n"
               "they hold for the run only\n"
               "--mqtt URL/TOPIC: report to an MQTT broker, e.g. mqtt://127.0.0.1:1883/tarnelpro/st1 (the\n"
               "path is the topic prefix; without it tarnelpro/<host name>); replaces [Mqtt] Broker and Topic\n"
               "--timeout: seconds without progress from the instrument before the command gives up (default 120)\n"
               "LINK: serial:DEVICE[@BAUD], usb[@BAUD] or tcp:HOST[:PORT] (default port 29461, baud 19200)\n"
               "--trace FILE, before or after the command: write every byte exchanged with the instrument,\n"
               "with the commands and tokens read from it, to FILE (appended; at 64 MB it moves to FILE.1)\n"
               "--help: this text; --version: the program's version\n",
               to);
}
// Takes "--trace FILE" (or "--trace=FILE") out of the arguments, wherever it
// stands, so that no command sees it. False after a usage error.
bool TakeTraceOption(QStringList &args, QString &path, bool &given)
{
    for (qsizetype i = 0; i < args.size();) {
        QString value;
        if (args[i] == QLatin1String("--trace")) {
            // A following option is not a file name: "--trace --yes" forgot it.
            if (i + 1 >= args.size() || args[i + 1].isEmpty() || args[i + 1].startsWith(QLatin1String("--"))) {
                std::fputs("tarnelpro-cli: --trace needs a file name\n", stderr);
                return false;
            }
            value = args[i + 1];
            args.remove(i, 2);
        } else if (args[i].startsWith(QLatin1String("--trace="))) {
            value = args[i].mid(8);
            args.remove(i);
            if (value.isEmpty()) {
                std::fputs("tarnelpro-cli: --trace needs a file name\n", stderr);
                return false;
            }
        } else {
            ++i;
            continue;
        }
        if (given) {
            std::fputs("tarnelpro-cli: --trace given twice\n", stderr);
            return false;
        }
        given = true;
        path = value;
    }
    return true;
}

// Ends the trace file however the command returns.
struct TTraceScope {
    ~TTraceScope() { WireTrace::StopFile(); }
};
} // namespace

int main(int argc, char **argv)
{
    CheckedStdout();
    QCoreApplication app(argc, argv);
    // Numbers printed for other programs (qc, sequence, section) read the
    // same in every language: the point is the decimal separator.
    std::setlocale(LC_NUMERIC, "C");
    QCoreApplication::setApplicationName(QStringLiteral("TarnelPro2"));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    QString tracePath;
    bool traced = false;
    if (!TakeTraceOption(args, tracePath, traced))
        return 2;
    // Asked for, the help goes to stdout; after a mistake, to stderr.
    if (args.isEmpty()) {
        std::fputs("tarnelpro-cli: no command given\n", stderr);
        Usage(stderr);
        return 2;
    }
    if (args.first() == "--help" || args.first() == "-h" || args.first() == "help") {
        Usage(stdout);
        return OutputChecked(0);
    }
    if (args.first() == "--version") {
        std::printf("tarnelpro-cli (Tarnel Pro 2) %s\n", TARNEL_VERSION);
        return OutputChecked(0);
    }
    const std::map<QString, std::function<int(const QStringList &)>> commands = {
        {QStringLiteral("survey"), RunSurveyCommand},
        {QStringLiteral("section"), RunSectionCommand},
        {QStringLiteral("identify"), RunIdentifyCommand},
        {QStringLiteral("acquire"), RunAcquireCommand},
        {QStringLiteral("check-resistance"), RunCheckResistanceCommand},
        {QStringLiteral("script"), RunScriptCommand},
        {QStringLiteral("config"), RunConfigCommand},
        {QStringLiteral("export"), RunExportCommand},
        {QStringLiteral("qc"), RunQcCommand},
        {QStringLiteral("sequence"), RunSequenceCommand},
        {QStringLiteral("fleet"), RunFleetCommand},
        {QStringLiteral("timelapse"), RunTimelapseCommand},
    };
    const QString name = args.takeFirst();
    const auto it = commands.find(name);
    if (it == commands.end()) {
        std::fprintf(stderr, "tarnelpro-cli: unknown command '%s'\n", qPrintable(name));
        Usage(stderr);
        return 2;
    }
    TTraceScope traceScope;
    if (traced) {
        QString error;
        if (!WireTrace::StartFile(tracePath, &error)) {
            std::fprintf(stderr, "tarnelpro-cli: %s\n", qPrintable(error));
            return 2;
        }
    }
    int status = it->second(args);
    WireTrace::StopFile();
    // A trace asked for and cut short is a failure to report, as a cut
    // output is, though the command itself went well.
    const QString traceFailure = WireTrace::FileFailure();
    if (traced && !traceFailure.isEmpty()) {
        std::fprintf(stderr, "tarnelpro-cli: %s\n", qPrintable(traceFailure));
        if (status == 0)
            status = 1;
    }
    return OutputChecked(status);
}
