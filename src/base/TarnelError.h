#pragma once
// The one error class of the link and protocol layers: it carries the short
// message the operator sees ("Port err. Setcmd", "Wait error", ...).
#include <stdexcept>
#include <string>

#include <QString>

class ETarnelError : public std::runtime_error {
public:
    explicit ETarnelError(const QString &message)
        : std::runtime_error(message.toStdString()), Text(message) {}
    explicit ETarnelError(const char *message)
        : ETarnelError(QString::fromUtf8(message)) {}

    const QString &Message() const noexcept { return Text; }

private:
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
    using ETarnelError::ETarnelError;
};
