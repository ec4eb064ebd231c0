#include "app/KeepAwake.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <sys/resource.h>

struct TKeepAwake::TImpl {
    quint32 ScreenSaverCookie = 0;
    bool ScreenSaver = false;
    QDBusUnixFileDescriptor SleepLock; // released when closed
};

namespace {
constexpr int DBusTimeoutMs = 1000;
const QString Reason = QStringLiteral("Field acquisition in progress");
} // namespace

TKeepAwake::TKeepAwake() : Impl(std::make_unique<TImpl>())
{
    // A negative nice value needs privileges; an ordinary user keeps the default.
    setpriority(PRIO_PROCESS, 0, -10);

    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        QDBusInterface saver(QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
                             QStringLiteral("org.freedesktop.ScreenSaver"), session);
        saver.setTimeout(DBusTimeoutMs);
        if (saver.isValid()) {
            QDBusReply<quint32> cookie = saver.call(QStringLiteral("Inhibit"), QStringLiteral("TarnelPro2"), Reason);
            if (cookie.isValid()) {
                Impl->ScreenSaverCookie = cookie.value();
                Impl->ScreenSaver = true;
            }
        }
    }
    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()) {
        QDBusInterface login(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                             QStringLiteral("org.freedesktop.login1.Manager"), system);
        login.setTimeout(DBusTimeoutMs);
        if (login.isValid()) {
            QDBusReply<QDBusUnixFileDescriptor> fd =
                login.call(QStringLiteral("Inhibit"), QStringLiteral("sleep:idle"), QStringLiteral("TarnelPro2"), Reason,
                           QStringLiteral("block"));
            if (fd.isValid())
                Impl->SleepLock = fd.value();
        }
    }
}

TKeepAwake::~TKeepAwake()
{
    if (Impl->ScreenSaver) {
        QDBusConnection session = QDBusConnection::sessionBus();
        QDBusInterface saver(QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
                             QStringLiteral("org.freedesktop.ScreenSaver"), session);
        saver.setTimeout(DBusTimeoutMs);
        saver.call(QStringLiteral("UnInhibit"), Impl->ScreenSaverCookie);
    }
}
