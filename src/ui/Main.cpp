// tarnelpro: the window.
#include "app/Guard.h"
#include "ui/DemoRun.h"
#include "ui/MainFrm.h"

#include <QApplication>
#include <QScreen>
#include <QIcon>
#include <QMessageBox>

#include <exception>

namespace {
// Last line of defence: an error that escapes a handler is reported and the
// event loop goes on.
class TTarnelApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const ETarnelError &e) {
            QMessageBox::critical(activeWindow(), QString::fromLatin1(ProgramTitle), e.Message());
        } catch (const std::exception &e) {
            QMessageBox::critical(activeWindow(), QString::fromLatin1(ProgramTitle), QString::fromLocal8Bit(e.what()));
        }
        return false;
    }
};
} // namespace

int main(int argc, char **argv)
{
    TTarnelApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TarnelPro2"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tarnelpro.svg")));
    // Lets the desktop match the window with the installed tarnelpro.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("tarnelpro"));
    QApplication::setApplicationVersion(QStringLiteral(TARNEL_VERSION));
    TMainFrm window;
    window.show();
    // --grab-pages DIR: saves a picture of every page (for the documentation) and quits;
    // with --acquire, after an acquisition on the configured link.
    const QStringList args = QApplication::arguments();
    const qsizetype grab = args.indexOf(QStringLiteral("--grab-pages"));
    if (grab > 0 && grab + 1 < args.size()) {
        // --fill-screen: the pictures of the window as large as the screen.
        if (args.contains(QStringLiteral("--fill-screen")))
            if (const QScreen *screen = QGuiApplication::primaryScreen())
                window.setGeometry(screen->availableGeometry());
        if (args.contains(QStringLiteral("--acquire")) && !TDemoRun::Run(window))
            return 1;
        return window.GrabPages(args[grab + 1]) ? 0 : 1;
    }
    return app.exec();
}
