// The link menu, connecting and disconnecting, and the instrument health
// checks of the controller.
#include "app/Shell.h"

#include "app/MainView.h"
#include "base/Cp1252.h"
#include "base/Folders.h"
#include "base/TarnelError.h"
#include "base/UserInterface.h"
#include "instrument/ConfigFile.h"
#include "instrument/VoltixPro.h"
#include "instrument/VoltixProGen.h"
#include "link/PortCOM.h"
#include "link/PortVirt.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

const QByteArray TShell::PlaceholderId(40, 'Z');

namespace {
constexpr int CommandTimeoutMs = 2000;
constexpr std::uint8_t EscapeCommand = 27;
constexpr std::uint8_t BatteryCommand = 45;

// Counts an exchange with the instrument for as long as it runs.
class TExchange {
public:
    explicit TExchange(int &count) : Count(count) { ++Count; }
    ~TExchange() { --Count; }
    TExchange(const TExchange &) = delete;
    TExchange &operator=(const TExchange &) = delete;

private:
    int &Count;
};

// "#.0": one decimal, no leading zero before the separator.
QString OneDecimal(float v, const QLocale &locale)
{
    QString text = locale.toString(double(v), 'f', 1);
    text.remove(locale.groupSeparator());
    const QString zero = locale.zeroDigit();
    if (text.startsWith(zero + locale.decimalPoint()))
        text.remove(0, zero.size());
    else if (text.startsWith(locale.negativeSign() + zero + locale.decimalPoint()))
        text.remove(locale.negativeSign().size(), zero.size());
    return text;
}

// "#": rounded to a whole number; zero shows nothing.
QString WholeNumber(float v, const QLocale &locale)
{
    const double r = std::round(double(v));
    if (r == 0.0)
        return QString();
    QString text = locale.toString(r, 'f', 0);
    text.remove(locale.groupSeparator());
    return text;
}

int Truncated(double v)
{
    if (!std::isfinite(v))
        return 0;
    return static_cast<int>(std::trunc(std::clamp(v, -1e9, 1e9)));
}
} // namespace

void TShell::ChooseLink(int item)
{
    // Replacing the port while an action or an exchange waits on it would
    // pull the link out from under the waiting code.
    if (ActionRunning || Exchanges > 0) {
        View.TickPortItem(State.PortSelector);
        Ui.Ask(TQuestion::Notice(QStringLiteral("The link cannot be changed while the instrument is busy; press Stop first.")));
        return;
    }
    View.TickPortItem(item == BtItem ? -1 : item);
    int selector = item;
    if (item == BtItem) {
        const bool serial = State.PortSelector >= 1 && State.PortSelector <= 98;
        QString text = serial ? QString::number(State.PortSelector) : QString();
        for (;;) {
            // Cancel leaves the link, its tick and the configuration as they were.
            const TAnswer answer =
                Ui.Ask(TQuestion::Input(QStringLiteral("Enter bluetooth outgoing port number"), QStringLiteral("value (1..98) :"), text));
            if (!answer) {
                View.TickPortItem(State.PortSelector);
                return;
            }
            bool ok = false;
            text = answer.Value;
            const int n = text.trimmed().toInt(&ok);
            if (ok && n >= 1 && n <= 98) {
                selector = n;
                break;
            }
        }
    }
    State.PortSelector = selector;
    const auto writeKey = [this](const char *key, const QString &value) {
        if (State.ConfigLoaded)
            ConfigurationSaved(State.ConfigFile, TConfigFile::WriteKey(State.ConfigFile, "Communication", key, value));
    };
    writeKey("Port", QString::number(selector));
    if (selector == UsbPortSelector)
        StartUsbTool();
    if (selector == IPPortSelector) {
        if (const TAnswer answer = Ui.Ask(TQuestion::Input(
                QStringLiteral("IP address ex:192.168.1.15"),
                QStringLiteral("Enter IP address for WIFI client or leave blank for Voltix access point:"), State.IPAddress)))
            State.IPAddress = answer.Value.trimmed();
        writeKey("IPAddress", State.IPAddress);
    }
    // A link of another kind replaces the open one without an orderly close.
    Model->Port = nullptr;
    Port.reset();
    ShowPortImage(true);
}

void TShell::StartUsbTool()
{
    // Without the tool nothing is reported, as before.
    const QString tool = UsbToolPath();
    if (StartProgram && !tool.isEmpty())
        StartProgram(tool);
}

void TShell::ToggleConnection()
{
    EndStalledExchange();
    if (!CommandLine)
        EventLog.Action = QStringLiteral("Connect");
    if (View.CurrentPage() == TPage::Configuration)
        View.CommitEdits();
    Ui.Yield();

    if (LinkOpen() && ActionRunning) {
        // The action ends its group (and releases the electrodes) first;
        // closing the link under it would leave them switched.
        RequestStop();
        DisconnectPending = true;
        View.SetConnectPressed(true);
        return;
    }
    if (LinkOpen()) {
        DisconnectInstrument();
        EventLog.AddStamped(QStringLiteral("Disconnected"), LogColor::Orange);
        Ui.Yield();
        View.SetConnectPressed(false);
        return;
    }

    if (ActionRunning || Exchanges > 0) {
        // Connect during an action only disconnects.
        View.SetConnectPressed(false);
        return;
    }
    if (!Port)
        ShowPortImage(true);
    if (!Port) {
        View.SetConnectPressed(false);
        Ui.Ask(TQuestion::Notice(QStringLiteral("Choose a link in the \"Link\" menu first.")));
        return;
    }
    TExchange exchange(Exchanges);
    if (State.PortSelector == IPPortSelector)
        Ui.Ask(TQuestion::Notice(QStringLiteral("Select baud rate : 115200 Bds, on Wavenode configuration page at") + State.IPAddress));
    if (!Ui.Ask(TQuestion::Confirm(QStringLiteral("Remote process"),
                                   QStringLiteral("Select < Remote > on VOLTIX/KELVO menu and press < OK >")))) {
        View.SetConnectPressed(false);
        return;
    }

    TConfigValues link;
    if (State.ConfigLoaded)
        TConfigFile::Read(State.ConfigFile, CurrentValues(), link);
    const int baud = State.HighSpeedChecked ? link.HighSpeed : link.Speed;
    try {
        if (!OpenAndIdentify(ConfiguredLink(baud, link.DialNumber), link.ModemConfig, link.Delay))
            return;
        CheckInstrumentHealth();
    } catch (const ETarnelError &e) {
        EventLog.AddStamped(e.Message(), LogColor::Red);
        if (!LinkOpen()) {
            View.ShowLinkIndicator(false);
            View.SetConnectPressed(false);
            View.EnableHealthTimer(false);
        }
        throw;
    }
    View.EnableHealthTimer(true);
    ShowRunControls(true);
}

bool TShell::OpenAndIdentify(const TLinkAddress &link, const QString &modem, int byteDelayMs)
{
    if (!Port)
        throw ETarnelError(TErrorKind::LinkLost, "Port err.");
    TExchange exchange(Exchanges);
    Report().Connecting();
    // However the attempt ends, the report learns whether the link is open.
    const std::unique_ptr<TShell, void (*)(TShell *)> reportDone(this, [](TShell *s) {
        s->Report().ConnectionDone(s->LinkOpen());
    });
    View.SetStatusText(QStringLiteral("Open Com"));
    if (auto *serial = dynamic_cast<TPortCOM *>(Port.get()))
        serial->SetDevicePath(link.Device);
    // The Wi-Fi module's address, or the number a modem dials.
    const QString dial = link.Kind != TLinkAddress::Tcp ? link.Dial
                         : link.Host.contains(QLatin1Char(':')) ? link.Host
                                                                : link.HostAndPort();
    if (Port->Connect(State.PortSelector, link.Baud, dial, false, modem, byteDelayMs) == 0) {
        View.EnableHealthTimer(false);
        Ui.Yield();
        View.SetConnectPressed(false);
        // A device that would not open says why; a cancelled prompt says nothing.
        if (const auto *serial = dynamic_cast<const TPortCOM *>(Port.get()); serial && !serial->OpenFailure().isEmpty()) {
            View.SetStatusText(QStringLiteral("Open Com failed"));
            EventLog.AddStamped(serial->OpenFailure(), LogColor::Red);
            Ui.Ask(TQuestion::Notice(serial->OpenFailure()));
        }
        return false;
    }
    View.SetStatusText(QStringLiteral("Auto baud"));
    Ui.Yield();
    Port->SetLatency(20);
    View.SetConnectPressed(true);
    View.ShowLinkIndicator(true);
    LinkShownUp = true;
    ConnectedLink = link.Describe();
    Port->PutByte(0x00);

    QByteArray second = PlaceholderId, first = PlaceholderId;
    Port->Identify(second, first);
    if (second == PlaceholderId) {
        // Silence is for the second identification to judge; an instrument
        // that refuses the Escape is there and says no.
        if (!Port->SendCommand(EscapeCommand, CommandTimeoutMs) && Port->CommandRefused())
            TVoltixProGen::RequireCommand(*Port, EscapeCommand, false);
        Port->Identify(second, first);
    }
    // Going on with the placeholder would report a connection that never was.
    if (second == PlaceholderId)
        throw ETarnelError("identification failed");
    std::array<std::uint8_t, 4> type{};
    Port->ReadExact(type);
    std::uint32_t code = 0;
    std::memcpy(&code, type.data(), 4);
    const bool known = Model->ChooseProtocol(code);

    IdentificationLines = {FromCp1252(second), FromCp1252(first)};
    Identification = IdentificationLines[0] + QStringLiteral(" / ") + IdentificationLines[1] + QLatin1Char(' ');
    View.SetStatusText(Identification);
    EventLog.Add(QString(), LogColor::Orange);
    EventLog.AddStamped(QStringLiteral("Connect to ") + Identification, LogColor::Orange);

    Port->WaitPrompt();
    if (!known) {
        // Connected, but no action can run: say so where the operator looks.
        View.SetStatusText(UnknownTypeText(code));
        EventLog.AddStamped(UnknownTypeText(code), LogColor::Red);
        return true;
    }
    Model->Protocol().GetDescription();
    ReleasePendingElectrodes();
    return true;
}

void TShell::DisconnectInstrument()
{
    View.ShowLinkIndicator(false);
    LinkShownUp = false;
    // While another exchange waits on the port, only closing the link is
    // safe: the waiting exchange then fails at the port. An instrument that
    // stopped answering would only hold the close up.
    if (Exchanges == 0 && !ActionRunning && !ElectrodesPending) {
        try {
            Model->Protocol().Escape();
        } catch (const ETarnelError &) {
            // A link that already dropped is closed all the same.
        }
    }
    View.EnableConnect(true);
    View.SetStatusText(QString());
    View.EnableHealthTimer(false);
    Ui.Yield();
    if (Port)
        Port->Disconnect();
    ShowRunControls(false);
}

bool TShell::CheckInstrumentHealth()
{
    if (!Port)
        throw ETarnelError(TErrorKind::LinkLost, "Port err.");
    TExchange exchange(Exchanges);
    View.SetBatteryButtonVisible(false);
    // The button comes back however the exchange ends, a failed one included.
    const std::unique_ptr<TMainView, void (*)(TMainView *)> restoreButton(
        &View, [](TMainView *v) { v->SetBatteryButtonVisible(true); });
    TVoltixProGen::RequireCommand(*Port, BatteryCommand, Port->SendCommand(BatteryCommand, CommandTimeoutMs));
    std::array<float, 3> values{};
    for (float &v : values) {
        std::array<std::uint8_t, 4> bytes{};
        Port->ReadExact(bytes);
        std::memcpy(&v, bytes.data(), 4);
    }
    Port->WaitPrompt();

    const float tx = values[0], rx = values[1], temp = values[2];
    THealthDisplay d;
    d.Texts = {OneDecimal(tx, Locale), OneDecimal(rx, Locale), WholeNumber(temp, Locale)};
    d.GaugePositions = {Truncated(double(tx) * 10.0), Truncated(double(rx) * 10.0), Truncated(100.0 - double(temp))};
    LastHealth = values;
    Report().HealthRead(values);
    // Lines only while Start is disabled: during an action or right after connecting.
    const bool logLines = ActionRunning || !RunControls;

    const std::array<bool, 3> alarm = {!(tx >= 9.5f), !(rx >= 9.5f), !(temp <= 65.0f)};
    const std::array<bool, 3> good = {tx >= 10.5f, rx >= 10.5f, temp <= 55.0f};
    const std::array<QString, 3> warningText = {QStringLiteral("Warning Batteries TX : "),
                                                QStringLiteral("Warning Batteries RX : "), QStringLiteral("Warning Temp :")};
    const std::array<QString, 3> alarmText = {QStringLiteral("Batteries TX : "), QStringLiteral("Batteries RX : "),
                                              QStringLiteral("Temp :")};
    const bool anyAlarm = alarm[0] || alarm[1] || alarm[2];
    if (!anyAlarm) {
        if (good[0] && good[1] && good[2]) {
            d.BarColors = {THealthColor::Lime, THealthColor::Lime, THealthColor::Lime};
        } else {
            for (std::size_t i = 0; i < 3; ++i) {
                if (good[i])
                    continue;
                d.BoxColors[i] = THealthColor::Orange;
                d.BarColors[i] = THealthColor::Orange;
                if (logLines) {
                    EventLog.AddStamped(warningText[i] + d.Texts[i], LogColor::Maroon);
                }
            }
        }
    } else {
        for (std::size_t i = 0; i < 3; ++i) {
            if (!alarm[i])
                continue;
            d.BoxColors[i] = THealthColor::Red;
            d.BarColors[i] = THealthColor::Red;
            if (logLines) {
                EventLog.AddStamped(alarmText[i] + d.Texts[i], LogColor::Red);
                EventLog.Add(QStringLiteral("< STOP DATA ACQUISITION >"), LogColor::Red);
                EventLog.HoldRed();
                View.ShowPage(TPage::Script);
            }
        }
    }
    View.ShowHealth(d);
    SaveEventLog();
    return !anyAlarm;
}

void TShell::WatchPort()
{
    if (!Port)
        return;
    // Nobody at the screen during a script: the exchange ends instead.
    const bool unattended = Guard.Unattended;
    Port->SetSilenceLimit(SilenceSeconds, SilenceRaises || unattended ? TPortVirt::TSilenceAction::Raise
                                                                      : TPortVirt::TSilenceAction::Report);
    Port->SetIdentifyRounds(unattended ? std::max(IdentifyRounds, 2) : IdentifyRounds);
    Port->InterruptRequested = [this] { return InterruptWaits; };
    Port->OnSilence = [this](int seconds) {
        const QString text = QStringLiteral("No answer from the instrument for %1 s").arg(seconds);
        View.SetStatusText(text);
        EventLog.AddStamped(text, LogColor::Red);
    };
}

void TShell::EndStalledExchange()
{
    // The waiting exchange sees the link lost and ends at once.
    if (Port && Port->Stalled())
        Port->Disconnect();
}

void TShell::HealthTick()
{
    // A tick during another exchange would interleave commands on the wire.
    if (Exchanges > 0 || ActionRunning)
        return;
    if (!LinkOpen()) {
        if (Port && RunControlsEnabled())
            LinkLost();
        return;
    }
    try {
        CheckInstrumentHealth();
        // The instrument answers again after a Stop that found it silent.
        ReleasePendingElectrodes();
    } catch (const ETarnelError &) {
        if (!LinkOpen())
            LinkLost();
        throw;
    }
}

void TShell::LinkLost()
{
    LinkShownUp = false;
    View.ShowLinkIndicator(false);
    View.SetConnectPressed(false);
    View.EnableHealthTimer(false);
    View.EnableConnect(true);
    View.SetStatusText(QStringLiteral("Link lost"));
    // Stop stays at hand while a script goes on; the action hides the
    // controls when it ends with the link still down.
    ShowRunControls(ActionRunning);
    if (Port)
        Port->Disconnect();
    EventLog.AddStamped(QStringLiteral("Link lost"), LogColor::Red);
    SaveEventLog();
    Report().LinkLost();
}

void TShell::ReadHealthNow()
{
    if (Exchanges > 0 || !Port)
        return;
    CheckInstrumentHealth();
}
