// The link of a scripted acquisition: the one its configuration names,
// switched to when another is open, and connected again when it went down.
#include "app/Shell.h"

#include "app/MainView.h"
#include "base/Clock.h"
#include "base/TarnelError.h"
#include "app/UnattendedUi.h"
#include "base/UserInterface.h"
#include "instrument/ConfigFile.h"
#include "instrument/VoltixPro.h"
#include "link/PortCOM.h"
#include "link/PortIP.h"
#include "link/PortVirt.h"

#include <algorithm>
#include <utility>

TLinkAddress TShell::ConfiguredLink(int baud, const QString &dial) const
{
    TLinkAddress link;
    link.Baud = baud;
    if (State.PortSelector == IPPortSelector) {
        link.Kind = TLinkAddress::Tcp;
        link.Host = State.IPAddress.trimmed();
        link.Port = TPortIP::DefaultPort;
        if (link.Host.isEmpty())
            link.Host = TPortIP::DefaultAddress();
        if (const qsizetype colon = link.Host.lastIndexOf(QLatin1Char(':')); colon > 0 && link.Host.count(QLatin1Char(':')) == 1) {
            bool ok = false;
            const int port = link.Host.mid(colon + 1).toInt(&ok);
            if (ok && port > 0 && port < 65536) {
                link.Port = port;
                link.Host.truncate(colon);
            }
        }
    } else if (State.PortSelector == UsbPortSelector) {
        link.Kind = TLinkAddress::Usb;
    } else {
        link.Kind = TLinkAddress::Serial;
        link.Device = SerialDevicePath(State.PortSelector, State.Devices);
        link.Dial = dial.trimmed();
    }
    return link;
}

void TShell::EnsureLink()
{
    TConfigValues link;
    if (State.ConfigLoaded)
        TConfigFile::Read(State.ConfigFile, CurrentValues(), link);
    const int baud = State.HighSpeedChecked ? link.HighSpeed : link.Speed;
    TLinkAddress address = ConfiguredLink(baud, link.DialNumber);
    if (FixedLink) {
        // The command line's link holds whatever the configuration names; the
        // port object made for the selector is of its kind.
        address = *FixedLink;
        switch (address.Kind) {
        case TLinkAddress::Serial:
            if (State.PortSelector < 1 || State.PortSelector > 98)
                State.PortSelector = 1;
            break;
        case TLinkAddress::Usb:
            State.PortSelector = UsbPortSelector;
            break;
        case TLinkAddress::Tcp:
            State.PortSelector = IPPortSelector;
            State.IPAddress = address.HostAndPort();
            break;
        }
    }
    const QString wanted = address.Describe();
    if (LinkOpen() && wanted == ConnectedLink)
        return;
    // Dropped since the last event: the window shows it before trying again.
    if (Port && !LinkOpen() && LinkShownUp)
        LinkLost();

    if (wanted != ConnectedLink) {
        if (!ConnectedLink.isEmpty()) {
            EventLog.AddStamped(QStringLiteral("Link switched from %1 to %2").arg(ConnectedLink, wanted),
                                LogColor::Orange);
        }
        // The last acquisition on the old link released its electrodes; the
        // link is only closed. A release still owed there cannot follow to
        // another instrument.
        if (ElectrodesPending && !ConnectedLink.isEmpty()) {
            EventLog.AddStamped(QStringLiteral("Electrodes on %1 may still be switched: release them at the instrument")
                                    .arg(ConnectedLink),
                                LogColor::Red);
        }
        ElectrodesPending = false;
        if (Port)
            Port->Disconnect();
        LinkShownUp = false;
        View.ShowLinkIndicator(false);
        Model->Port = nullptr;
        Port.reset();
        ShowPortImage(true);
    }
    if (!Port)
        ShowPortImage(true);
    if (!Port)
        throw ETarnelError(QStringLiteral("No link for ") + wanted);

    // What the port says when it cannot connect ("Unable to connect to ...")
    // is the reason of the attempt.
    QString said;
    const auto sink = std::exchange(Guard.OnBox, [&said, previous = Guard.OnBox](const QString &text) {
        // A question answered on the operator's behalf is no reason.
        if (!text.endsWith(QLatin1String("unattended)")))
            said = text;
        if (previous)
            previous(text);
    });
    struct TRestore {
        TUnattendedUi &Guard;
        std::function<void(const QString &)> Sink;
        ~TRestore() { Guard.OnBox = std::move(Sink); }
    } restore{Guard, sink};

    const int attempts = static_cast<int>(ReconnectPausesMs.size()) + 1;
    QString reason;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (State.RunState == TRunState::StopRequested)
            throw EInterrupted();
        EventLog.AddStamped(
            QStringLiteral("Connecting to %1 (attempt %2 of %3)").arg(wanted).arg(attempt).arg(attempts),
            LogColor::Orange);
        SaveEventLog();
        said.clear();
        reason = QStringLiteral("the link did not open");
        try {
            // Nobody is there to plug a cable in when the port asks for one.
            if (address.Kind == TLinkAddress::Usb && UsbDeviceCount() == 0)
                throw ETarnelError(QStringLiteral("no FTDI USB cable found"));
            if (OpenAndIdentify(address, link.ModemConfig, link.Delay)) {
                ShowRunControls(true);
                return;
            }
            if (!said.isEmpty())
                reason = said;
        } catch (const EInterrupted &) {
            if (Port)
                Port->Disconnect();
            throw;
        } catch (const ETarnelError &e) {
            reason = e.Message();
        }
        if (Port)
            Port->Disconnect();
        LinkShownUp = false;
        View.ShowLinkIndicator(false);
        View.SetConnectPressed(false);
        EventLog.AddStamped(QStringLiteral("Connection attempt %1 failed: %2").arg(attempt).arg(reason), LogColor::Red);
        SaveEventLog();
        if (attempt == attempts)
            break;
        const std::int64_t until = Clock.Ms() + std::max(0, ReconnectPausesMs[std::size_t(attempt - 1)]);
        for (std::int64_t now = Clock.Ms(); now < until; now = Clock.Ms()) {
            if (State.RunState == TRunState::StopRequested)
                throw EInterrupted();
            Ui.WaitEvents(static_cast<int>(std::min<std::int64_t>(until - now, 1000)));
        }
    }
    throw ETarnelError(QStringLiteral("No instrument on %1 after %2 attempts: %3").arg(wanted).arg(attempts).arg(reason));
}
