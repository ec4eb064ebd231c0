#pragma once
// Link addresses of the command line: serial:/dev/ttyUSB0[@BAUD], usb[@BAUD],
// tcp:HOST[:PORT].
#include <QString>

#include <optional>

struct TLinkAddress {
    enum TKind { Serial, Usb, Tcp };
    TKind Kind = Serial;
    QString Device;   // serial device path
    int Baud = 19200; // serial and USB
    QString Host;     // TCP
    int Port = 29461; // TCP
};

// The link of text, or nothing with error set to a message for the user.
std::optional<TLinkAddress> ParseLinkAddress(const QString &text, QString &error);
