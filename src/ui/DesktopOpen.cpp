#include "ui/DesktopOpen.h"

#include "base/Folders.h"

#include <QDesktopServices>
#include <QFileInfo>

namespace {
TDesktopOpener &Opener()
{
    static TDesktopOpener opener;
    return opener;
}
} // namespace

void SetDesktopOpener(TDesktopOpener opener) { Opener() = std::move(opener); }

bool OpenWithDesktop(const QUrl &url)
{
    if (Opener())
        return Opener()(url);
    return QDesktopServices::openUrl(url);
}

QString ManualPath() { return ProgramFolder() + QStringLiteral("TarnelPro.html"); }

QString OpenManual()
{
    const QString manual = ManualPath();
    if (!QFileInfo(manual).isFile())
        return QStringLiteral("Manual not found: %1").arg(manual);
    if (!OpenWithDesktop(QUrl::fromLocalFile(manual)))
        return QStringLiteral("No browser to show the manual %1").arg(manual);
    return {};
}
