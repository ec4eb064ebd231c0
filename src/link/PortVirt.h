#pragma once
// The instrument's framing over any transport: the checked byte operations,
// the command handshake, the identification, the progress watchdog and the
// block transfer that moves parameter, description and record blocks.
#include "link/Transport.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "base/TarnelError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

class TUserInterface;
class TClock;

// The instrument stopped answering: the progress watchdog ran out, or the
// wake-up rounds of the identification were used up. Never taken for an
// ordinary port error that a retry could mend.
class ENoAnswerError : public ETarnelError {
public:
    explicit ENoAnswerError(const QString &message) : ETarnelError(TErrorKind::Timeout, message) {}
};

// The instrument answered a command with 0xFF at every attempt: it is there
// and says no. Never taken for silence.
class ERefusedError : public ETarnelError {
public:
    explicit ERefusedError(const QString &message) : ETarnelError(TErrorKind::Refused, message) {}
};

// The operator pressed Stop while an exchange waited on the instrument: the
// exchange is given up where it stood.
class EInterrupted : public ETarnelError {
public:
    EInterrupted() : ETarnelError(TErrorKind::Interrupted, "Stopped by user") {}
};

// Growable byte stream holding the payload of one block transfer.
class TBufferStream {
public:
    void Clear();
    void Rewind() { Pos = 0; }
    qsizetype Size() const { return Bytes.size(); }
    qsizetype Position() const { return Pos; }
    void Write(std::span<const std::uint8_t> data);
    // Reads from the position; returns how many bytes were stored.
    qsizetype Read(std::span<std::uint8_t> out);
    const QByteArray &Data() const { return Bytes; }

private:
    QByteArray Bytes;
    qsizetype Pos = 0;
};

// Whether a block transfer drives the progress bar / the "Crc error" indicator.
enum class TBlockProgress : bool { None, ProgressBar };
enum class TBlockErrors : bool { None, ErrorIndicator };

class TPortVirt : private TTransport::TWaiter {
public:
    static constexpr int MaxBlockPayload = 528;
    static constexpr int WaitTimeoutMs = 300000;
    // Consecutive failures of one step of a block transfer (sync, block-number
    // echo, check value) before it gives up with "Port err. block transfer". A
    // sound line fails a few times in a row at most; at 528 bytes a block, 20
    // bad ones in a row is a line that no longer carries data.
    static constexpr int BlockFailureLimit = 20;
    static constexpr int DefaultSilenceSeconds = 120;
    enum class TSilenceAction { Raise, Report };

    TPortVirt(TUserInterface &ui, TClock &clock, std::unique_ptr<TTransport> transport);
    ~TPortVirt() override;
    TPortVirt(const TPortVirt &) = delete;
    TPortVirt &operator=(const TPortVirt &) = delete;

    TTransport &Transport() { return Link; }
    const TTransport &Transport() const { return Link; }

    // Returns the new link state (> 0) on success, 0 on failure or cancel.
    virtual int Connect(int portSelector, int baudRate, const QString &dialNumber, bool waitForDsr,
                        const QString &modemInit, int byteDelayMs);
    void Disconnect() { Link.Close(); }

    // Base: PutByte for each byte.
    virtual int WriteBlock(std::span<const std::uint8_t> data);
    // Blocks until a byte arrives; raises when the link goes down.
    virtual std::uint8_t GetByte();
    virtual bool ReadLine(QByteArray &text, int maximum, int timeoutMs);
    virtual bool WaitPrompt();
    virtual bool SendCommand(std::uint8_t command, int timeoutMs);
    // The last SendCommand returned false because the instrument answered
    // 0xFF to its last attempt (refused), not because it stayed silent.
    bool CommandRefused() const { return Refused; }
    // "the instrument refused command 29 ("Set parameter")".
    static QString RefusedText(std::uint8_t command);
    // The instrument's name of a command ("Set parameter"); null when it has none.
    static const char *CommandName(std::uint8_t command);
    virtual bool PromptAndSendCommand(std::uint8_t command, int timeoutMs);
    // True when the text came or after 300 s of silence; false only when the link closed.
    virtual bool WaitForText(QByteArrayView text);
    virtual void PutByte(std::uint8_t byte);
    virtual int ReadBytes(std::span<std::uint8_t> buffer, int timeoutMs);
    virtual bool Identify(QByteArray &secondLine, QByteArray &firstLine);
    virtual void ReadExact(std::span<std::uint8_t> buffer);

    // Unchecked access to the transport: -1 when the link is down or the device failed.
    void FlushInput() { Link.DiscardInput(); }
    void FlushOutput() { Link.DiscardOutput(); }
    int RawWriteByte(std::uint8_t byte) { return Link.Write(std::span(&byte, 1)); }
    int RawRead(std::span<std::uint8_t> buffer, int timeoutMs) { return Link.Read(buffer, timeoutMs); }
    int RawReadByteTimed(int timeoutMs);
    int RawReadByte() { return Link.ReadNow(); }
    int RxCount() { return Link.Waiting(); }
    int TxCount() { return Link.Unsent(); }
    // > 0 open (the port selector), 0 closed, -1 cancelled or dropped.
    int GetState() const { return Link.LinkState(); }
    void SetLatency(int ms) { Link.SetLatencyTimer(ms); }
    QString LinkInfo() { return Link.Info(); }

    // Gives the instrument time (a line settling, a mode change): the window
    // keeps answering meanwhile, but Stop does not cut the pause short.
    void Rest(int ms) override;
    void PauseSeconds(int seconds) { Rest(seconds * 1000); }

    // Progress watchdog (0 seconds: off). An exchange that has made no
    // progress for that long, with no byte at all or only bytes that do not
    // advance it, either raises ENoAnswerError (Raise) or calls OnSilence once
    // and stays Stalled until it progresses again (Report).
    void SetSilenceLimit(int seconds, TSilenceAction action);
    int SilenceLimitSeconds() const { return SilenceLimitMs / 1000; }
    std::function<void(int seconds)> OnSilence;
    bool Stalled() const { return IsStalled; }
    static QString SilenceText(int seconds);
    // Marks a step that advanced the exchange; the protocol layer marks the
    // tokens of a measurement that last longer than the limit.
    void NoteProgress();
    // Asked at every step of a wait: true ends the waiting exchange at once
    // with EInterrupted (Stop pressed).
    std::function<bool()> InterruptRequested;
    // Milliseconds since the instrument last sent a byte the link waited for.
    std::int64_t QuietMs();
    // The watchdog applied to a span of work the port cannot see as a whole
    // (the retries of one measurement): no progress since sinceMs counts as
    // silence, raised or reported as the limit's action says.
    void CheckStalledSince(std::int64_t sinceMs);
    // Rounds of wake-up passes Identify makes (each ends with an Escape)
    // before it raises "no answer from the instrument"; 0: until it answers.
    void SetIdentifyRounds(int rounds) { IdentifyRounds = rounds; }

    static std::uint16_t BlockChecksum(std::span<const std::uint8_t> bytes);
    void ReceiveBlock(TBlockProgress progress, TBlockErrors errors);
    // Copies at most destination.size() bytes; an empty destination copies nothing.
    int ReceiveBlockInto(std::span<std::uint8_t> destination, TBlockProgress progress,
                         TBlockErrors errors);
    void SendBlock(TBlockProgress progress, TBlockErrors errors);
    // With data: the stream is replaced by it. Without: the stream is sent as it is.
    void SendBlockFrom(std::optional<std::span<const std::uint8_t>> data, TBlockErrors errors,
                       TBlockProgress progress);

    TBufferStream &BufferStream() { return Buffer; }
    const TBufferStream &BufferStream() const { return Buffer; }
    TUserInterface &Ui() { return UiServices; }

    // Link-specific values of Identify.
    struct TIdentifyValues {
        int DrainTimeoutMs;
        int AnswerTimeoutMs;
        int FallbackBaud;        // 0: no fallback; Escape on EscapePass instead
        int EscapePass;          // pass that restores the rate and sends Escape
        bool EscapeFailureFails; // a refused Escape ends Identify with false
    };

protected:
    // For a port that is its own transport (a test double): the transport
    // must be constructed before the port and outlive it.
    TPortVirt(TUserInterface &ui, TClock &clock, TTransport &transport);

    virtual TIdentifyValues IdentifyValues() const;
    // True when the line reported framing/parity/overrun/break errors (cleared).
    virtual bool ClearLineErrors() { return false; }
    // TCP/IP shows its host address in place of the first identification line.
    virtual void IdentifyFinish(QByteArray &firstLine) { (void)firstLine; }
    // What WaitForText does when the link goes down: false, or raise.
    virtual bool WaitForTextLinkDown();
    // Message of the read errors ("Port err. Getcom" or "Port err. get IP").
    virtual const char *ReadErrorText() const { return "Port err. Getcom"; }

    bool LinkDown() const { return GetState() <= 0; }
    [[noreturn]] void Fail(TErrorKind kind, const char *message);
    // A read that got nothing: the link went down, or (still up) the instrument stayed silent.
    [[noreturn]] void FailRead(const char *message);
    // Blocks in the event loop until something happens (bytes arrive, the
    // operator acts) or ms pass, at most one slice of the transport; then looks at Stop.
    void IdleWait(int ms) override;
    void CheckInterrupt();
    void Heard();
    // Waits (yielding) until count bytes are waiting, the timeout passes or the link drops.
    bool WaitForRx(int count, int timeoutMs) override;
    // Writes one command byte of the handshake, retrying while the device refuses it.
    void WriteCommandByte(std::uint8_t byte);
    // The watchdog: every waiting or resynchronising loop calls CheckProgress;
    // NoteProgress marks a step that advanced the exchange.
    void CheckProgress();
    // Counts one more consecutive failure of a block-transfer step.
    void BlockFailure(int &failures);

    TUserInterface &UiServices;
    TClock &Clock;
    int ByteDelayMs = 0;

private:
    std::unique_ptr<TTransport> OwnedLink;
    TTransport &Link;
    void AdvanceProgress(int by);

    TBufferStream Buffer;
    int SilenceLimitMs = 0;
    TSilenceAction SilenceAction = TSilenceAction::Raise;
    bool Watching = false;
    bool IsStalled = false;
    std::int64_t LastCheckMs = 0;
    std::int64_t LastProgressMs = 0;
    std::int64_t LastHeardMs = 0;
    int IdentifyRounds = 0;
    bool Refused = false;
};
