#pragma once
// The program's controller: start-up, folders, the application state, the
// event log and the window-level services. It reaches the window only through
// TMainView and TUserInterface, so start-up runs the same in tests.
#include "app/Appstate.h"
#include "script/Eventlog.h"

#include <QString>

#include <functional>
#include <memory>

class TClock;
class TKeepAwake;
class TMainView;
class TUserInterface;

class TShell {
public:
    struct TOptions {
        // Priority and keep-awake requests; tests leave them off.
        bool KeepAwake = true;
    };

    TShell(TUserInterface &ui, TMainView &view, TClock &clock, TOptions options);
    ~TShell();

    // Construction steps: default files, data folder, run state, keep-awake,
    // script delimiters.
    void Construct();
    // After construction: controls to their start state, graphs set up, then
    // the start-up configuration loaded (copied from the template first if
    // this is the first start).
    void FormCreate();

    // Loads a configuration file; a missing file disables Connect. Returns
    // true when the file was there.
    bool LoadConfiguration(const QString &path);

    // Creates the port object for the chosen link if asked and none exists,
    // then shows the link's picture.
    void ShowPortImage(bool create);
    static int PortImageFor(int selector, int usbDeviceCount);

    // Close request: drops the link if it is open. Closing is never refused.
    bool FormCloseQuery();

    TAppState State;
    TEventLog EventLog;

    // Hooks filled in by the link layer: how many USB devices are present,
    // whether a port object exists and whether its link is open, creating and
    // disconnecting it.
    std::function<int()> UsbDeviceCount = [] { return 0; };
    std::function<bool()> HasPort = [] { return false; };
    std::function<void(int selector)> CreatePort;
    std::function<bool()> LinkOpen = [] { return false; };
    std::function<void()> DisconnectInstrument;

    TUserInterface &Ui;
    TMainView &View;
    TClock &Clock;

private:
    TOptions Options;
    std::unique_ptr<TKeepAwake> Awake;
};
