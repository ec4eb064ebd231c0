#pragma once
// Connecting the controller from the command line, and Stop on signals: shared
// by the commands that talk to an instrument.
#include <QString>

class TOptionParser;

#include <memory>

class QSocketNotifier;
class TConsoleUi;
class TShell;
struct TConfigValues;

extern const char *const LinkHelp;

// Connects with the link string linkText (serial:..., usb..., tcp:...) or,
// without one, with the link of config. An exchange without progress for
// timeoutSeconds ends the command. Returns 0, 1 when the link did not open,
// 2 for a bad or missing link string.
int ConnectLink(TShell &shell, TConsoleUi &ui, const QString *linkText, const TConfigValues *config,
                int timeoutSeconds);

// What is wrong with a --mqtt value, empty when it can be used.
QString MqttOptionProblem(const QString &url);
// The --mqtt value of a parsed command line, when given: false after its usage error.
bool MqttOptionUsable(TOptionParser &options);

// SIGINT and SIGTERM press Stop while an action runs; the message says what
// happens next.
class TStopOnSignal {
public:
    explicit TStopOnSignal(TShell &shell,
                           const QString &message = QStringLiteral("Stop requested: the group in progress is given up."));
    ~TStopOnSignal();
    TStopOnSignal(const TStopOnSignal &) = delete;
    TStopOnSignal &operator=(const TStopOnSignal &) = delete;

private:
    static inline int Write = -1;
    int Fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> Notifier;
};
