#include "base/LinkAddress.h"

namespace {
bool ParseBaud(const QString &text, int &baud)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < 50 || v > 3000000)
        return false;
    baud = v;
    return true;
}
} // namespace

std::optional<TLinkAddress> ParseLinkAddress(const QString &text, QString &error)
{
    TLinkAddress spec;
    const QString usage = QStringLiteral("expected serial:DEVICE[@BAUD], usb[@BAUD] or tcp:HOST[:PORT]");
    if (text.startsWith(QLatin1String("serial:"))) {
        spec.Kind = TLinkAddress::Serial;
        QString rest = text.mid(7);
        const qsizetype at = rest.lastIndexOf(QLatin1Char('@'));
        if (at >= 0) {
            if (!ParseBaud(rest.mid(at + 1), spec.Baud)) {
                error = QStringLiteral("bad baud rate in \"%1\"").arg(text);
                return std::nullopt;
            }
            rest.truncate(at);
        }
        if (rest.isEmpty()) {
            error = QStringLiteral("no serial device in \"%1\"; %2").arg(text, usage);
            return std::nullopt;
        }
        spec.Device = rest;
        return spec;
    }
    if (text == QLatin1String("usb") || text.startsWith(QLatin1String("usb@"))) {
        spec.Kind = TLinkAddress::Usb;
        if (text.size() > 3 && !ParseBaud(text.mid(4), spec.Baud)) {
            error = QStringLiteral("bad baud rate in \"%1\"").arg(text);
            return std::nullopt;
        }
        return spec;
    }
    if (text.startsWith(QLatin1String("tcp:"))) {
        spec.Kind = TLinkAddress::Tcp;
        QString rest = text.mid(4);
        // A bracketed IPv6 address keeps its colons; its port follows "]:".
        qsizetype colon = -1;
        if (rest.startsWith(QLatin1Char('['))) {
            const qsizetype close = rest.indexOf(QLatin1Char(']'));
            if (close > 0 && close + 1 < rest.size() && rest.at(close + 1) == QLatin1Char(':'))
                colon = close + 1;
        } else if (rest.count(QLatin1Char(':')) == 1) {
            colon = rest.indexOf(QLatin1Char(':'));
        }
        if (colon >= 0) {
            bool ok = false;
            const int port = rest.mid(colon + 1).toInt(&ok);
            if (!ok || port < 1 || port > 65535) {
                error = QStringLiteral("bad TCP port in \"%1\"").arg(text);
                return std::nullopt;
            }
            spec.Port = port;
            rest.truncate(colon);
        }
        if (rest.startsWith(QLatin1Char('[')) && rest.endsWith(QLatin1Char(']')))
            rest = rest.mid(1, rest.size() - 2);
        if (rest.isEmpty()) {
            error = QStringLiteral("no host in \"%1\"; %2").arg(text, usage);
            return std::nullopt;
        }
        spec.Host = rest;
        return spec;
    }
    error = QStringLiteral("unknown link \"%1\"; %2").arg(text, usage);
    return std::nullopt;
}

QString TLinkAddress::HostAndPort() const
{
    // An IPv6 address is bracketed so that its port stays readable.
    const QString host = Host.contains(QLatin1Char(':')) ? QLatin1Char('[') + Host + QLatin1Char(']') : Host;
    return host + QLatin1Char(':') + QString::number(Port);
}

QString TLinkAddress::Text() const
{
    switch (Kind) {
    case Serial:
        return QStringLiteral("serial:%1@%2").arg(Device).arg(Baud);
    case Usb:
        return QStringLiteral("usb@%1").arg(Baud);
    case Tcp:
        return QStringLiteral("tcp:") + HostAndPort();
    }
    return {};
}

QString TLinkAddress::Describe() const
{
    switch (Kind) {
    case Serial:
        return QStringLiteral("serial ") + Device + (Dial.isEmpty() ? QString() : QStringLiteral(" dialling ") + Dial);
    case Usb:
        return QStringLiteral("USB");
    case Tcp:
        return QStringLiteral("TCP ") + HostAndPort();
    }
    return {};
}
