#pragma once
// Logging categories of the program and the wire trace: every byte exchanged
// with the instrument, with its time, in hex beside the decoded command or
// token, so that a field failure can be sent in and read.
//
//   QT_LOGGING_RULES="tarnelpro.wire.debug=true"  writes it to stderr;
//   WireTrace::StartFile(path)                     writes it to a file.
#include <QLoggingCategory>
#include <QString>

#include <cstdint>
#include <span>

Q_DECLARE_LOGGING_CATEGORY(lcWire)     // "tarnelpro.wire": bytes on the link
Q_DECLARE_LOGGING_CATEGORY(lcProtocol) // "tarnelpro.protocol": commands, tokens, blocks
Q_DECLARE_LOGGING_CATEGORY(lcMqtt)     // "tarnelpro.mqtt": the fleet report
Q_DECLARE_LOGGING_CATEGORY(lcSession)  // "tarnelpro.session": link state, actions

namespace WireTrace {
// True when a trace is being written (file or category on): callers skip
// building trace text otherwise.
bool Active();
// Bytes written to the instrument / read from it.
void Sent(std::span<const std::uint8_t> bytes);
void Received(std::span<const std::uint8_t> bytes);
// A line of the protocol layer ("command 29 Set parameter", "token ST").
void Note(const QString &text);
// Starts writing the trace to path (appending); false with the reason in
// error when the file cannot be opened.
bool StartFile(const QString &path, QString *error = nullptr);
void StopFile();
} // namespace WireTrace
