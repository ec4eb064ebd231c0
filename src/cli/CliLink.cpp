#include "cli/CliLink.h"

#include "app/Shell.h"
#include "cli/Console.h"
#include "cli/OptionParser.h"
#include "base/LinkAddress.h"
#include "instrument/ConfigFile.h"
#include "instrument/VoltixPro.h"
#include "link/PortCOM.h"
#include "link/PortVirt.h"
#include "mqtt/MqttSettings.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

const char *const LinkHelp = "LINK is serial:DEVICE[@BAUD], usb[@BAUD] or tcp:HOST[:PORT]";

namespace {
// Identification rounds (wake-up passes up to an Escape) before a silent
// instrument ends the command; nobody is there to press Connect again.
constexpr int IdentifyRounds = 2;

// Chooses the link of a link string; the controller makes its port as the
// Link menu would.
void UseLink(TShell &shell, const TLinkAddress &link, QString &dial, int &baud)
{
    baud = link.Baud;
    switch (link.Kind) {
    case TLinkAddress::Serial:
        shell.State.Devices = {{1, link.Device}};
        shell.State.PortSelector = 1;
        break;
    case TLinkAddress::Tcp:
        shell.State.PortSelector = IPPortSelector;
        dial = link.Host + QLatin1Char(':') + QString::number(link.Port);
        shell.State.IPAddress = dial;
        break;
    case TLinkAddress::Usb:
        shell.State.PortSelector = UsbPortSelector;
        break;
    }
    shell.Model->Port = nullptr;
    shell.Port.reset();
    shell.ShowPortImage(true);
}

// The link of the loaded configuration: its port already exists; the baud
// rate and the dial text come from the file as at a connection in the window.
void UseConfiguredLink(const TConfigValues &config, QString &dial, int &baud)
{
    baud = config.Speed;
    dial = config.Port == IPPortSelector ? config.IPAddress : config.DialNumber;
}

bool Open(TShell &shell, TConsoleUi &ui, const QString &dial, int baud, const QString &modem, int delay,
          const QString &what, int timeoutSeconds)
{
    // The USB link asks again and again for a cable; without one there is
    // nobody at a terminal to plug it in.
    if (shell.State.PortSelector == UsbPortSelector && shell.UsbDeviceCount() == 0) {
        PrintError(QStringLiteral("Unable to connect to %1: no FTDI USB cable found").arg(what));
        return false;
    }
    shell.Model->RestartFlag = TVoltixPro::RestartRequested(QCoreApplication::arguments());
    // The exchanges end with an error when the instrument stops answering,
    // on this port and on any the command switches to later.
    shell.SilenceSeconds = timeoutSeconds;
    shell.SilenceRaises = true;
    shell.IdentifyRounds = IdentifyRounds;
    shell.WatchPort();
    const qsizetype before = ui.Messages.size();
    // A TCP link's address is the one UseLink or the configuration set.
    if (shell.OpenAndIdentify(shell.ConfiguredLink(baud, dial), modem, delay))
        return true;
    if (ui.Messages.size() == before)
        PrintError(QStringLiteral("Unable to connect to %1").arg(what));
    return false;
}
} // namespace

int ConnectLink(TShell &shell, TConsoleUi &ui, const QString *linkText, const TConfigValues *config,
                int timeoutSeconds)
{
    QString dial, error;
    int baud = 19200;
    QString what;
    if (linkText) {
        what = *linkText;
        const auto link = ParseLinkAddress(what, error);
        if (!link) {
            PrintError(QStringLiteral("tarnelpro-cli: %1").arg(error));
            return 2;
        }
        UseLink(shell, *link, dial, baud);
    } else if (config) {
        UseConfiguredLink(*config, dial, baud);
        what = QStringLiteral("the configured link (port %1)").arg(config->Port);
    } else {
        PrintError(QStringLiteral("tarnelpro-cli: --link is required; %1").arg(QString::fromLatin1(LinkHelp)));
        return 2;
    }
    const QString modem = config ? config->ModemConfig : QString();
    const int delay = config ? config->Delay : 0;
    return Open(shell, ui, dial, baud, modem, delay, what, timeoutSeconds) ? 0 : 1;
}

TStopOnSignal::TStopOnSignal(TShell &shell, const QString &message)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, Fds) != 0)
        return;
    Write = Fds[0];
    Notifier = std::make_unique<QSocketNotifier>(Fds[1], QSocketNotifier::Read);
    QObject::connect(Notifier.get(), &QSocketNotifier::activated, [this, &shell, message] {
        char c = 0;
        if (::read(Fds[1], &c, 1) == 1 && shell.State.RunState != TRunState::Idle) {
            PrintError(message);
            shell.RequestStop();
        }
    });
    struct sigaction sa {};
    sa.sa_handler = [](int) {
        const char c = 1;
        [[maybe_unused]] const auto n = ::write(Write, &c, 1);
    };
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

TStopOnSignal::~TStopOnSignal()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    Notifier.reset();
    if (Write >= 0) {
        ::close(Fds[0]);
        ::close(Fds[1]);
    }
    Write = -1;
}

bool MqttOptionUsable(TOptionParser &options)
{
    if (!options.Has("--mqtt"))
        return true;
    const QString why = MqttOptionProblem(options.Value("--mqtt"));
    if (why.isEmpty())
        return true;
    options.UsageError(QStringLiteral("--mqtt: ") + why);
    return false;
}

QString MqttOptionProblem(const QString &url)
{
    TMqttSettings settings;
    QString why = TMqttSettings::ParseUrl(url, settings);
    if (why.isEmpty() && settings.Topic.isEmpty())
        settings.Topic = TMqttSettings::DefaultTopic();
    if (why.isEmpty())
        why = settings.Problem();
    return why;
}
