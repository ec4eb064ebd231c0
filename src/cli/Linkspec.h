#pragma once
// Link strings of the command line: serial:/dev/ttyUSB0[@BAUD], usb[@BAUD],
// tcp:HOST[:PORT].
#include <QString>

#include <optional>

struct TLinkSpec {
    enum TKind { Serial, Usb, Tcp };
    TKind Kind = Serial;
    QString Device;   // serial device path
    int Baud = 19200; // serial and USB
    QString Host;     // TCP
    int Port = 29461; // TCP
};

// The link of text, or nothing with error set to a message for the user.
std::optional<TLinkSpec> ParseLinkSpec(const QString &text, QString &error);
