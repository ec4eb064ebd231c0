#pragma once
// Connecting the controller from the command line, and Stop on signals: shared
// by the commands that talk to an instrument.
#include <QMap>
#include <QString>
#include <QStringList>

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

// "--timeout SECONDS" of values, if present: a whole number of seconds, at
// least 1. False when it is not.
bool ReadTimeout(const QMap<QString, QString> &values, int &timeout);
// The same check, returning what is wrong with --timeout, or nothing.
QString TimeoutError(const QMap<QString, QString> &values, int &timeout);

// The value of "--mqtt URL/TOPIC" in args, empty without it.
QString MqttOption(const QStringList &args);
// What is wrong with a --mqtt value, empty when it can be used.
QString MqttOptionProblem(const QString &url);

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
