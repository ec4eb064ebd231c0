#pragma once
// The link to the instrument as one value: serial:/dev/ttyUSB0[@BAUD],
// usb[@BAUD], tcp:HOST[:PORT]. The core names links only this way; the
// configuration's "Port" selector (a serial port number, 99 USB, 100 the
// Wi-Fi module) is translated at its edge.
#include <QString>

#include <optional>

struct TLinkAddress {
    enum TKind { Serial, Usb, Tcp };
    static constexpr int DefaultBaud = 19200;
    static constexpr int DefaultTcpPort = 29461;

    TKind Kind = Serial;
    QString Device;          // serial device path
    int Baud = DefaultBaud;  // serial and USB
    QString Host;            // TCP
    int Port = DefaultTcpPort; // TCP
    QString Dial;            // serial: the number a modem dials (empty: a cable)

    // The text ParseLinkAddress reads back ("serial:/dev/ttyUSB0@19200").
    QString Text() const;
    // How the event log names the link, telling links apart whatever their
    // speed: "serial /dev/ttyUSB0", "serial /dev/ttyS0 dialling 0123", "USB",
    // "TCP 10.0.0.5:29461".
    QString Describe() const;
    // "HOST:PORT" of a TCP link.
    QString HostAndPort() const;
    bool SameLink(const TLinkAddress &other) const { return Describe() == other.Describe(); }
};

// The link of text, or nothing with error set to a message for the user.
std::optional<TLinkAddress> ParseLinkAddress(const QString &text, QString &error);
