#pragma once
// The error class of the program's layers: a kind the code decides on, and
// the short message the operator sees ("Port err. Setcmd", "Wait error", ...).
// Code never tells errors apart by their message text: it looks at Kind().
#include <stdexcept>
#include <string>

#include <QString>

enum class TErrorKind {
    General,     // nothing more specific is known
    LinkLost,    // the link went down or the device failed under an exchange
    Refused,     // the instrument answered, and said no
    Timeout,     // the instrument stayed silent past a deadline or the watchdog
    Checksum,    // a block kept failing its check value or framing
    Protocol,    // the instrument sent what the exchange cannot be
    File,        // a file could not be read or written
    Interrupted, // the operator stopped the exchange
};

class ETarnelError : public std::runtime_error {
public:
    ETarnelError(TErrorKind kind, const QString &message)
        : std::runtime_error(message.toStdString()), ErrorKind(kind), Text(message) {}
    ETarnelError(TErrorKind kind, const char *message) : ETarnelError(kind, QString::fromUtf8(message)) {}
    explicit ETarnelError(const QString &message) : ETarnelError(TErrorKind::General, message) {}
    explicit ETarnelError(const char *message) : ETarnelError(QString::fromUtf8(message)) {}

    const QString &Message() const noexcept { return Text; }
    TErrorKind Kind() const noexcept { return ErrorKind; }

private:
    TErrorKind ErrorKind;
    QString Text;
};

// An error already written to the event log by the code that caught it.
class EReported : public ETarnelError {
public:
    using ETarnelError::ETarnelError;
};

// A file the program was to create exists already (it appeared after the
// operator was asked): it is never replaced unasked.
class EFileExists : public ETarnelError {
public:
    explicit EFileExists(const QString &message) : ETarnelError(TErrorKind::File, message) {}
};
