#pragma once
// The program's controller: start-up, folders, the application state, the
// configuration, the instrument model and the event log. It reaches the window
// only through TMainView and TUserInterface, so everything runs the same in
// tarnelpro-cli and in tests.
#include "app/Appstate.h"
#include "instrument/Configfile.h"
#include "script/Eventlog.h"

#include <QLocale>
#include <QString>

#include <functional>
#include <memory>

class TClock;
class TKeepAwake;
class TMainView;
class TPortVirt;
class TUserInterface;
class TVoltixPro;

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

    // Loads a configuration file into the program; a missing file disables
    // Connect. Returns true when the file was there.
    bool LoadConfiguration(const QString &path);
    // Writes the current state into path (nothing for an empty path). A
    // failure is shown with the system's message; returns false then.
    bool SaveConfiguration(const QString &path);
    // The configuration values of the current state.
    TConfigValues CurrentValues() const;

    // Survey files: load, show, keep the path only when something was read.
    int OpenQuadripoleFile(const QString &path);
    int OpenCoordinateFile(const QString &path);

    // Creates the port object for the chosen link if asked and none exists,
    // then shows the link's picture.
    void ShowPortImage(bool create);
    static int PortImageFor(int selector, int usbDeviceCount);

    // Close request: drops the link if it is open. Closing is never refused.
    bool FormCloseQuery();

    bool HasPort() const { return Port != nullptr; }
    bool LinkOpen() const;

    TAppState State;
    TEventLog EventLog;
    std::unique_ptr<TVoltixPro> Model;
    std::unique_ptr<TPortVirt> Port;
    QLocale Locale = QLocale::system();

    // How many FTDI devices are present (the USB picture), and how a port of
    // a selector is made; filled in by the link layer's front end.
    std::function<int()> UsbDeviceCount = [] { return 0; };
    std::function<std::unique_ptr<TPortVirt>(int selector)> MakePort;
    std::function<void()> DisconnectInstrument;

    TUserInterface &Ui;
    TMainView &View;
    TClock &Clock;

private:
    TOptions Options;
    std::unique_ptr<TKeepAwake> Awake;
};
