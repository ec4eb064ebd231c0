#pragma once
// Logging categories of the program and the wire trace: every byte exchanged
// with the instrument, with its time, in hex beside the decoded command or
// token, so that a field failure can be sent in and read.
//
//   QT_LOGGING_RULES="tarnelpro.wire.debug=true"  writes it to stderr;
//   WireTrace::StartFile(path)                     writes it to a file.
//
// A trace file holds one line per write or read burst and per note:
//   2026-05-04T10:12:03.250+02:00 -> [3] 40 1d e2  |@..|
//   2026-05-04T10:12:03.262+02:00 <- [2] 1d 3a  |.:|
//   2026-05-04T10:12:03.262+02:00 == command 29 "Set parameter"
//   2026-05-04T10:12:03.300+02:00 ## trace stopped
// "->" goes to the instrument, "<-" comes from it, "==" is the protocol
// layer's reading of it, "##" is the trace's own.
#include <QLoggingCategory>
#include <QString>

#include <cstdint>
#include <functional>
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
// error when the file cannot be opened. Only a regular file (or a new one) is
// taken: a FIFO or a device is refused without waiting for a reader. A trace
// already running goes on when the new file is refused.
bool StartFile(const QString &path, QString *error = nullptr);
void StopFile();

// The file being written; empty when none.
QString FilePath();
// Once the file reaches limit bytes it is renamed to FILE.1 (replacing an
// older one) and a new FILE begins, so a long run keeps at most about twice
// the limit on disk, its latest part included. 64 MB unless set.
void SetFileLimit(qint64 bytes);
inline constexpr qint64 DefaultFileLimit = qint64(64) * 1024 * 1024;
// Why the file trace stopped by itself (a full disk, say); empty while it
// runs and when it was stopped on purpose. StartFile clears it.
QString FileFailure();
// Called, on the thread that was tracing, when the file trace stops by
// itself, with the text of FileFailure(). Empty to remove.
void SetFailureHandler(std::function<void(const QString &)> handler);
} // namespace WireTrace
