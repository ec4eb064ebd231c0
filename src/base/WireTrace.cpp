#include "base/WireTrace.h"

Q_LOGGING_CATEGORY(lcWire, "tarnelpro.wire", QtWarningMsg)
Q_LOGGING_CATEGORY(lcProtocol, "tarnelpro.protocol", QtWarningMsg)
Q_LOGGING_CATEGORY(lcMqtt, "tarnelpro.mqtt", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSession, "tarnelpro.session", QtWarningMsg)

namespace WireTrace {
bool Active() { return lcWire().isDebugEnabled(); }
void Sent(std::span<const std::uint8_t> bytes)
{
    if (Active())
        qCDebug(lcWire) << "->" << QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())).toHex(' ');
}
void Received(std::span<const std::uint8_t> bytes)
{
    if (Active())
        qCDebug(lcWire) << "<-" << QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())).toHex(' ');
}
void Note(const QString &text) { qCDebug(lcProtocol).noquote() << text; }
bool StartFile(const QString &, QString *error)
{
    if (error)
        *error = QStringLiteral("not built yet");
    return false;
}
void StopFile() {}
} // namespace WireTrace
