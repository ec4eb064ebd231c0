#pragma once
// Scripted user interface whose waits run the Qt event loop, so that real
// serial ports and sockets deliver their data and state changes.
#include "base/EventWait.h"
#include "support/ScriptedUi.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

class TEventLoopUi : public TScriptedUi {
public:
    TEventLoopUi()
    {
        OnYield = [](int waitMs) { WaitForEvents(waitMs); };
    }
};
