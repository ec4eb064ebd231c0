#include "app/Shell.h"

#include "app/Keepawake.h"
#include "app/Mainview.h"
#include "base/Folders.h"
#include "base/Uiservices.h"
#include "graph/Graphintf.h"

#include <QFile>
#include <QFileInfo>

#define SI_NO_CONVERSION
#include <SimpleIni.h>

namespace {
// A profile integer: the whole value must be a decimal number, else the default.
long ProfileInt(const CSimpleIniA &ini, const char *section, const char *key, long fallback)
{
    const char *text = ini.GetValue(section, key, nullptr);
    if (!text)
        return fallback;
    bool ok = false;
    const long v = QByteArray(text).trimmed().toLong(&ok);
    return ok ? v : fallback;
}
} // namespace

TShell::TShell(TUserInterface &ui, TMainView &view, TClock &clock, TOptions options)
    : Ui(ui), View(view), Clock(clock), Options(options)
{
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
}

void TShell::FormCreate()
{
    State.ConfigLoaded = false;
    View.ShowLinkIndicator(false);
    View.SetStatusText(QString());
    View.ShowRunControls(false);

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
        // QFile::copy never replaces an existing file.
        QFile::copy(ProgramFolder() + QStringLiteral("Setup.ini"), State.ConfigFile);
        // Keep the copy writable even when the template is installed read-only.
        QFile::setPermissions(State.ConfigFile, QFile::permissions(State.ConfigFile) | QFile::WriteOwner);
    }
    LoadConfiguration(State.ConfigFile);
}

bool TShell::LoadConfiguration(const QString &path)
{
    if (!QFileInfo(path).isFile()) {
        State.ConfigLoaded = false;
        View.EnableConnect(false);
        return false;
    }
    State.ConfigFile = path;
    State.ConfigLoaded = true;
    View.EnableConnect(true);

    CSimpleIniA ini;
    ini.SetUnicode(false);
    ini.SetMultiKey(false);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        ini.LoadData(bytes.constData(), static_cast<size_t>(bytes.size()));
    }
    State.PortSelector = static_cast<int>(ProfileInt(ini, "Communication", "Port", 1));
    if (const char *ip = ini.GetValue("Communication", "IPAddress", nullptr))
        State.IPAddress = QString::fromLatin1(ip);
    View.TickPortItem(State.PortSelector);
    ShowPortImage(true);
    return true;
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
    if (create && !HasPort() && CreatePort)
        CreatePort(State.PortSelector);
    const int usb = State.PortSelector == UsbPortSelector ? UsbDeviceCount() : 0;
    View.ShowPortImage(PortImageFor(State.PortSelector, usb));
}

bool TShell::FormCloseQuery()
{
    if (HasPort() && LinkOpen()) {
        if (DisconnectInstrument)
            DisconnectInstrument();
        View.ShowRunControls(false);
    }
    return true;
}
