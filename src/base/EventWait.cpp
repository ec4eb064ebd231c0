#include "base/EventWait.h"

#include <QCoreApplication>
#include <QTimer>

void WaitForEvents(int maxWaitMs)
{
    if (maxWaitMs <= 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // The guard timer ends the wait when nothing else happens.
    QTimer guard;
    guard.setSingleShot(true);
    guard.start(maxWaitMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}
