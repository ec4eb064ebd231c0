#pragma once
// Scripted user interface whose waits run the Qt event loop, so that real
// serial ports and sockets deliver their data and state changes.
#include "support/Scriptedui.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

class TEventLoopUi : public TScriptedUi {
public:
    TEventLoopUi()
    {
        OnYield = [](int waitMs) {
            if (waitMs <= 0) {
                QCoreApplication::processEvents();
                return;
            }
            // Returns at the first event, or when the timer fires.
            QTimer guard;
            guard.setSingleShot(true);
            guard.start(waitMs);
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        };
    }
};
