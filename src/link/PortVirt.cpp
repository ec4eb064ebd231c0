#include "link/PortVirt.h"

#include "base/Clock.h"
#include "base/TarnelError.h"
#include "base/UserInterface.h"
#include "base/WireTrace.h"
#include "link/BlockDecoder.h"

#include <algorithm>
#include <array>
#include <climits>

namespace {
constexpr std::uint8_t WakeUp = '@';
constexpr std::uint8_t EscapeCommand = 27;
constexpr int WakeUpSends = 82;
constexpr int WakeUpUnansweredLimit = 78;
constexpr int CommandAttempts = 6;
constexpr int IdentifyLineMax = 40;
constexpr int IdentifyLineTimeoutMs = 15000;
constexpr int BlockSizeTimeoutMs = 3000;
// A port left alone this long was between exchanges: the next wait starts a
// new one. Longer than any pause inside an operation (the longest is 1 s).
constexpr int ExchangeGapMs = 3000;

std::array<std::uint8_t, 2> Le16(unsigned value)
{
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>((value >> 8) & 0xFF)};
}

unsigned FromLe16(std::span<const std::uint8_t, 2> b) { return b[0] | (b[1] << 8); }

QString Printable(const QByteArray &line)
{
    QString text;
    for (char c : line)
        text += (c >= 0x20 && c < 0x7F) ? QChar(c) : QStringLiteral("\\x%1").arg(quint8(c), 2, 16, QChar('0'));
    return text;
}
} // namespace

void TBufferStream::Clear()
{
    Bytes.clear();
    Pos = 0;
}

void TBufferStream::Write(std::span<const std::uint8_t> data)
{
    const qsizetype end = Pos + static_cast<qsizetype>(data.size());
    if (end > Bytes.size())
        Bytes.resize(end);
    std::copy(data.begin(), data.end(), reinterpret_cast<std::uint8_t *>(Bytes.data()) + Pos);
    Pos = end;
}

qsizetype TBufferStream::Read(std::span<std::uint8_t> out)
{
    const qsizetype n = std::min<qsizetype>(static_cast<qsizetype>(out.size()), Bytes.size() - Pos);
    if (n <= 0)
        return 0;
    const auto *src = reinterpret_cast<const std::uint8_t *>(Bytes.constData()) + Pos;
    std::copy(src, src + n, out.begin());
    Pos += n;
    return n;
}

TPortVirt::TPortVirt(TUserInterface &ui, TClock &clock, std::unique_ptr<TTransport> transport)
    : UiServices(ui), Clock(clock), OwnedLink(std::move(transport)), Link(*OwnedLink)
{
    Link.SetWaiter(*this);
}

TPortVirt::TPortVirt(TUserInterface &ui, TClock &clock, TTransport &transport)
    : UiServices(ui), Clock(clock), Link(transport)
{
    Link.SetWaiter(*this);
}

TPortVirt::~TPortVirt() = default;

int TPortVirt::Connect(int portSelector, int baudRate, const QString &dialNumber, bool waitForDsr,
                       const QString &modemInit, int byteDelayMs)
{
    ByteDelayMs = byteDelayMs;
    return Link.Open(portSelector, baudRate, dialNumber, waitForDsr, modemInit, byteDelayMs);
}

void TPortVirt::Fail(TErrorKind kind, const char *message)
{
    UiServices.BusyIndicator(false);
    throw ETarnelError(kind, message);
}

void TPortVirt::FailRead(const char *message)
{
    Fail(LinkDown() ? TErrorKind::LinkLost : TErrorKind::Timeout, message);
}

void TPortVirt::IdleWait(int ms)
{
    CheckProgress();
    UiServices.WaitEvents(std::clamp(ms, 0, Link.WaitSliceMs()));
    CheckInterrupt();
}

int TPortVirt::RawReadByteTimed(int timeoutMs)
{
    std::uint8_t b = 0;
    return Link.Read(std::span(&b, 1), timeoutMs) == 1 ? b : -1;
}

std::int64_t TPortVirt::QuietMs() { return Clock.Ms() - LastHeardMs; }

void TPortVirt::Heard() { LastHeardMs = Clock.Ms(); }

void TPortVirt::CheckInterrupt()
{
    if (InterruptRequested && InterruptRequested()) {
        UiServices.BusyIndicator(false);
        throw EInterrupted();
    }
}

QString TPortVirt::SilenceText(int seconds)
{
    return QStringLiteral("no answer from the instrument for %1 s").arg(seconds);
}

void TPortVirt::SetSilenceLimit(int seconds, TSilenceAction action)
{
    SilenceLimitMs = std::max(seconds, 0) * 1000;
    SilenceAction = action;
    Watching = false;
    IsStalled = false;
}

void TPortVirt::NoteProgress()
{
    LastProgressMs = Clock.Ms();
    IsStalled = false;
}

void TPortVirt::CheckProgress()
{
    CheckInterrupt();
    if (SilenceLimitMs <= 0)
        return;
    const std::int64_t now = Clock.Ms();
    if (!Watching || now - LastCheckMs > ExchangeGapMs) {
        Watching = true;
        LastProgressMs = now;
        IsStalled = false;
    }
    LastCheckMs = now;
    CheckStalledSince(LastProgressMs);
}

void TPortVirt::CheckStalledSince(std::int64_t sinceMs)
{
    if (SilenceLimitMs <= 0 || Clock.Ms() - sinceMs < SilenceLimitMs)
        return;
    const int seconds = SilenceLimitMs / 1000;
    if (SilenceAction == TSilenceAction::Raise) {
        UiServices.BusyIndicator(false);
        throw ENoAnswerError(SilenceText(seconds));
    }
    if (!IsStalled) {
        IsStalled = true;
        if (OnSilence)
            OnSilence(seconds);
    }
}

void TPortVirt::BlockFailure(int &failures)
{
    CheckProgress();
    if (++failures >= BlockFailureLimit)
        Fail(TErrorKind::Checksum, "Port err. block transfer");
}

bool TPortVirt::WaitForRx(int count, int timeoutMs)
{
    CheckInterrupt();
    const std::int64_t start = Clock.Ms();
    for (;;) {
        if (LinkDown())
            return false;
        const int waiting = RxCount();
        if (waiting > 0)
            Heard();
        if (waiting >= count)
            return true;
        const std::int64_t left = timeoutMs - (Clock.Ms() - start);
        if (left < 0)
            return false;
        IdleWait(static_cast<int>(std::max<std::int64_t>(left, 1)));
    }
}

int TPortVirt::WriteBlock(std::span<const std::uint8_t> data)
{
    for (std::uint8_t b : data)
        PutByte(b);
    return static_cast<int>(data.size());
}

std::uint8_t TPortVirt::GetByte()
{
    CheckProgress();
    while (!LinkDown()) {
        if (RxCount() > 0) {
            Heard();
            const int b = RawReadByteTimed(WaitTimeoutMs);
            if (b >= 0)
                return static_cast<std::uint8_t>(b);
            // A byte that was announced but could not be read means the link failed:
            // handing 0xFF on as data would corrupt the transfer.
            break;
        }
        IdleWait(Link.WaitSliceMs());
    }
    Fail(TErrorKind::LinkLost, ReadErrorText());
}

bool TPortVirt::ReadLine(QByteArray &text, int maximum, int timeoutMs)
{
    if (LinkDown())
        Fail(TErrorKind::LinkLost, "Port err. getstring");
    text.clear();
    for (;;) {
        std::uint8_t b = 0;
        if (RawRead(std::span(&b, 1), timeoutMs) < 1) {
            text.clear();
            return false;
        }
        --maximum;
        if (b != 13 && b != 10)
            text.append(static_cast<char>(b));
        if (b == 10 || maximum == 0) {
            NoteProgress();
            return true;
        }
    }
}

bool TPortVirt::WaitPrompt() { return WaitForText(":>"); }

bool TPortVirt::WaitForTextLinkDown()
{
    UiServices.BusyIndicator(false);
    return false;
}

bool TPortVirt::WaitForText(QByteArrayView text)
{
    // Only the last text.size() bytes can still complete a match, so the
    // accumulator stays small however much noise arrives.
    QByteArray tail;
    const std::int64_t start = Clock.Ms();
    for (;;) {
        if (RxCount() <= 0) {
            IdleWait(Link.WaitSliceMs());
            if (LinkDown())
                return WaitForTextLinkDown();
            if (Clock.Ms() - start > WaitTimeoutMs)
                return true;
            continue;
        }
        Heard();
        CheckProgress();
        const int b = RawReadByte();
        if (b < 0)
            continue;
        tail.append(static_cast<char>(b));
        if (tail.size() > text.size())
            tail.remove(0, tail.size() - text.size());
        if (tail == text) {
            NoteProgress();
            return true;
        }
    }
}

void TPortVirt::PutByte(std::uint8_t byte)
{
    for (;;) {
        if (LinkDown())
            Fail(TErrorKind::LinkLost, "Port err. putcom");
        UiServices.Yield();
        if (RawWriteByte(byte) != -1)
            break;
        IdleWait(1);
    }
    while (TxCount() != 0) {
        if (LinkDown())
            Fail(TErrorKind::LinkLost, "Port err.");
        IdleWait(1);
    }
    if (ByteDelayMs > 0)
        Clock.Sleep(ByteDelayMs);
}

void TPortVirt::WriteCommandByte(std::uint8_t byte)
{
    for (;;) {
        if (LinkDown())
            Fail(TErrorKind::LinkLost, "Port err. Setcmd");
        UiServices.Yield();
        if (RawWriteByte(byte) != -1)
            return;
        IdleWait(1);
    }
}

const char *TPortVirt::CommandName(std::uint8_t command)
{
    switch (command) {
    case 27: return "Escape";
    case 28: return "Get parameter";
    case 29: return "Set parameter";
    case 30: return "instrument description";
    case 31: return "last measurement";
    case 32: return "Start";
    case 33: return "recalled records";
    case 34: return "Speed start";
    case 37: return "mode change";
    case 41: return "Switch quadripole";
    case 42: return "Get GPS data";
    case 43: return "Rx-Rs check";
    case 44: return "Tx-Rs check";
    case 45: return "Batterie";
    default: return nullptr;
    }
}

QString TPortVirt::RefusedText(std::uint8_t command)
{
    const char *name = CommandName(command);
    const QString text = QStringLiteral("the instrument refused command %1").arg(command);
    return name ? text + QStringLiteral(" (\"%1\")").arg(QLatin1String(name)) : text;
}

bool TPortVirt::SendCommand(std::uint8_t command, int timeoutMs)
{
    Refused = false;
    UiServices.BusyIndicator(true);
    if (LinkDown())
        Fail(TErrorKind::LinkLost, "Port err. Setcmd");
    FlushInput();

    int unanswered = 0;
    for (int i = 0; i < WakeUpSends; ++i) {
        CheckProgress();
        PutByte(WakeUp);
        if (RawReadByteTimed(timeoutMs) == WakeUp)
            break;
        ++unanswered;
    }
    FlushOutput();
    const char *name = CommandName(command);
    const QString what = QStringLiteral("command %1%2").arg(command).arg(name ? QStringLiteral(" ") + QLatin1String(name) : QString());
    if (unanswered >= WakeUpUnansweredLimit) {
        if (WireTrace::Active())
            WireTrace::Note(what + QStringLiteral(": no answer to %1 wake-ups").arg(unanswered));
        UiServices.BusyIndicator(false);
        return false;
    }

    int reply = -1;
    for (int attempt = 0; attempt < CommandAttempts; ++attempt) {
        FlushInput();
        WriteCommandByte(command);
        Clock.Sleep(10);
        WriteCommandByte(static_cast<std::uint8_t>(command ^ 0xFF));
        reply = RawReadByteTimed(timeoutMs);
        UiServices.Yield();
        if (WireTrace::Active())
            WireTrace::Note(what + (reply < 0 ? QStringLiteral(" sent: no answer")
                                              : QStringLiteral(" sent: answer %1").arg(reply)));
        if (reply != 0xFF && reply != -1)
            break;
    }
    UiServices.BusyIndicator(false);
    if (reply != command) {
        Refused = reply == 0xFF;
        return false;
    }
    NoteProgress();
    Clock.Sleep(20);
    return true;
}

bool TPortVirt::PromptAndSendCommand(std::uint8_t command, int timeoutMs)
{
    return WaitPrompt() && SendCommand(command, timeoutMs);
}

int TPortVirt::ReadBytes(std::span<std::uint8_t> buffer, int timeoutMs)
{
    int stored = 0;
    for (auto &slot : buffer) {
        if (LinkDown())
            Fail(TErrorKind::LinkLost, ReadErrorText());
        std::uint8_t b = 0;
        if (RawRead(std::span(&b, 1), timeoutMs) < 1)
            break;
        slot = b;
        ++stored;
    }
    return stored;
}

TPortVirt::TIdentifyValues TPortVirt::IdentifyValues() const
{
    return {.DrainTimeoutMs = 5000, .AnswerTimeoutMs = 5000, .FallbackBaud = 38400, .EscapePass = 20,
            .EscapeFailureFails = false};
}

bool TPortVirt::Identify(QByteArray &secondLine, QByteArray &firstLine)
{
    try {
        const TIdentifyValues v = IdentifyValues();
        int pass = 0;
        int rounds = 0;
        int savedBaud = 0;
        for (;;) {
            UiServices.Yield();
            CheckProgress();
            while (RxCount() != 0 && !LinkDown()) {
                CheckProgress();
                std::uint8_t junk = 0;
                RawRead(std::span(&junk, 1), v.DrainTimeoutMs);
            }
            PutByte(WakeUp);
            Clock.Sleep(100);

            int answer = 0;
            if (!ClearLineErrors()) {
                std::uint8_t b = 0;
                if (RawRead(std::span(&b, 1), v.AnswerTimeoutMs) == 1)
                    answer = b;
            }

            ++pass;
            if (v.FallbackBaud > 0 && pass == 11) {
                savedBaud = Link.BaudRate();
                Link.SetBaudRate(v.FallbackBaud);
            }
            if (pass == v.EscapePass) {
                if (v.FallbackBaud > 0)
                    Link.SetBaudRate(savedBaud);
                Clock.Sleep(100);
                if (!SendCommand(EscapeCommand, 2000) && v.EscapeFailureFails)
                    return false;
                Rest(1000);
                pass = 0;
                if (IdentifyRounds > 0 && ++rounds >= IdentifyRounds) {
                    UiServices.BusyIndicator(false);
                    throw ENoAnswerError("no answer from the instrument");
                }
            }
            if (answer == WakeUp)
                break;
        }
        // The instrument's first line goes into the second argument; a failure
        // there leaves the first argument untouched for the caller's retry.
        if (!ReadLine(firstLine, IdentifyLineMax, IdentifyLineTimeoutMs))
            return false;
        if (!ReadLine(secondLine, IdentifyLineMax, IdentifyLineTimeoutMs))
            return false;
        if (WireTrace::Active())
            WireTrace::Note(QStringLiteral("identification: \"%1\", \"%2\"").arg(Printable(firstLine), Printable(secondLine)));
        IdentifyFinish(firstLine);
        NoteProgress();
        return true;
    } catch (const ENoAnswerError &) {
        throw;
    } catch (const EInterrupted &) {
        throw;
    } catch (const ETarnelError &) {
        UiServices.Ask(TQuestion::Notice(QStringLiteral("Unknown Baudrate")));
        return false;
    }
}

void TPortVirt::ReadExact(std::span<std::uint8_t> buffer)
{
    for (auto &b : buffer)
        b = GetByte();
}

void TPortVirt::Rest(int ms)
{
    // Slices short enough for a click to be answered at once.
    constexpr int SliceMs = 40;
    const std::int64_t end = Clock.Ms() + ms;
    for (std::int64_t left = ms; left > 0; left = end - Clock.Ms()) {
        Clock.Sleep(static_cast<int>(std::min<std::int64_t>(left, SliceMs)));
        UiServices.Yield();
    }
}

std::uint16_t TPortVirt::BlockChecksum(std::span<const std::uint8_t> bytes)
{
    return TBlockDecoder::Checksum(bytes);
}

void TPortVirt::AdvanceProgress(int by)
{
    int pos = UiServices.ProgressPosition() + by;
    if (pos > UiServices.ProgressMaximum())
        pos = 0;
    UiServices.SetProgressPosition(pos);
}

void TPortVirt::ReceiveBlock(TBlockProgress progress, TBlockErrors errors)
{
    using TStatus = TBlockFrame::TStatus;
    const bool withBar = progress == TBlockProgress::ProgressBar;
    const bool withIndicator = errors == TBlockErrors::ErrorIndicator;
    const bool tracing = WireTrace::Active();

    UiServices.BusyIndicator(true);
    Buffer.Clear();
    if (GetState() < 1)
        Fail(TErrorKind::LinkLost, "Port err. xbtCload");
    FlushOutput();

    for (int failures = 0;; BlockFailure(failures)) {
        FlushInput();
        PutByte(TBlockDecoder::SyncByte);
        if (TBlockDecoder::IsSync(GetByte()))
            break;
    }

    std::uint16_t block = 1;
    // The size is unsigned on the wire; 64 bits keep the countdown from wrapping.
    std::int64_t total = 0;
    std::array<std::uint8_t, TBlockDecoder::SizeBytes> size{};
    const int sizeRead = RawRead(size, BlockSizeTimeoutMs);
    if (const auto announced = TBlockDecoder::Size(std::span(size).first(std::max(sizeRead, 0))))
        total = *announced;
    if (tracing)
        WireTrace::Note(sizeRead == 4 ? QStringLiteral("block transfer in: %1 bytes").arg(total)
                                      : QStringLiteral("block transfer in: no size"));

    if (withBar) {
        UiServices.SetProgressRange(0, total == 0 ? MaxBlockPayload : static_cast<int>(std::min<std::int64_t>(total, INT_MAX)));
        UiServices.SetProgressPosition(0);
    }

    std::array<std::uint8_t, TBlockDecoder::MaxFrame> frame{};
    int badBlocks = 0;
    for (;;) {
        const auto request = Le16(block);
        TBlockFrame answer;
        for (int failures = 0;; BlockFailure(failures)) {
            FlushInput();
            WriteBlock(request);
            ReadExact(std::span(frame).first(2));
            answer = TBlockDecoder::Frame(std::span(frame).first(2), block, total);
            if (answer.Status != TStatus::WrongNumber)
                break;
            if (tracing)
                WireTrace::Note(QStringLiteral("block %1 asked, %2 echoed").arg(block).arg(answer.Number));
        }
        for (std::size_t have = 2; answer.Status == TStatus::NeedMore;) {
            const std::size_t needed = answer.Size;
            ReadExact(std::span(frame).subspan(have, needed - have));
            have = needed;
            answer = TBlockDecoder::Frame(std::span(frame).first(have), block, total);
        }
        if (answer.Status == TStatus::End) {
            if (tracing)
                WireTrace::Note(QStringLiteral("block %1: end of transfer").arg(block));
            break;
        }

        if (tracing)
            WireTrace::Note(QStringLiteral("block %1: %2 bytes, check value %3 (sent %4, computed %5)%6")
                                .arg(block)
                                .arg(answer.Length)
                                .arg(answer.Status == TStatus::Good ? QStringLiteral("ok") : QStringLiteral("bad"))
                                .arg(answer.Check)
                                .arg(answer.Computed)
                                .arg(answer.LengthClamped ? QStringLiteral(", length word too long") : QString()));
        if (answer.Status == TStatus::Good) {
            if (withIndicator)
                UiServices.ShowErrorIndicator(false);
            block = TBlockDecoder::NextNumber(block);
            if (withBar)
                AdvanceProgress(answer.Length);
            Buffer.Write(answer.Payload);
            NoteProgress();
            badBlocks = 0;
            UiServices.Yield();
            total -= answer.Length;
        } else {
            if (withIndicator)
                UiServices.ShowErrorIndicator(true);
            BlockFailure(badBlocks);
        }
        if (total <= 0)
            break;
    }

    std::array<std::uint8_t, 2> closingEcho{};
    WriteBlock(Le16(block));
    ReadExact(closingEcho);

    if (withBar)
        UiServices.SetProgressPosition(0);
    UiServices.BusyIndicator(false);
    UiServices.Yield();
}

int TPortVirt::ReceiveBlockInto(std::span<std::uint8_t> destination, TBlockProgress progress,
                                TBlockErrors errors)
{
    ReceiveBlock(progress, errors);
    if (destination.empty())
        return 0;
    // An instrument announcing more than the caller's record area gets truncated
    // rather than written past its end.
    Buffer.Rewind();
    return static_cast<int>(Buffer.Read(destination));
}

void TPortVirt::SendBlock(TBlockProgress progress, TBlockErrors errors)
{
    const bool withBar = progress == TBlockProgress::ProgressBar;
    const bool withIndicator = errors == TBlockErrors::ErrorIndicator;

    UiServices.BusyIndicator(true);
    if (withBar) {
        UiServices.SetProgressRange(0, static_cast<int>(std::min<qsizetype>(Buffer.Size(), INT_MAX)));
        UiServices.SetProgressPosition(0);
    }
    Buffer.Rewind();
    std::int64_t remaining = Buffer.Size();

    for (int failures = 0;; BlockFailure(failures)) {
        const std::uint8_t sync = GetByte();
        PutByte(sync);
        if (sync == 0)
            break;
    }

    std::uint16_t expected = 1;
    std::uint16_t lastSent = 1;
    unsigned headerSum = 0;
    Clock.Sleep(10);
    const std::array<std::uint8_t, 4> size = {
        static_cast<std::uint8_t>(remaining & 0xFF), static_cast<std::uint8_t>((remaining >> 8) & 0xFF),
        static_cast<std::uint8_t>((remaining >> 16) & 0xFF), static_cast<std::uint8_t>((remaining >> 24) & 0xFF)};
    WriteBlock(size);

    std::array<std::uint8_t, MaxBlockPayload> payload{};
    int length = 0;
    // Requests in a row that were not for a new block: unknown numbers and
    // the same block asked for again.
    int failures = 0;
    for (;;) {
        std::array<std::uint8_t, 2> request{};
        ReadExact(request);
        FlushInput();
        WriteBlock(request);
        const unsigned asked = FromLe16(request);
        if (asked != expected && asked != lastSent) {
            if (withIndicator)
                UiServices.ShowErrorIndicator(true);
            BlockFailure(failures);
            continue;
        }
        if (withIndicator)
            UiServices.ShowErrorIndicator(false);

        const bool fresh = asked == expected;
        if (fresh) {
            NoteProgress();
            failures = 0;
            if (remaining <= 0)
                break;
            length = static_cast<int>(std::min<std::int64_t>(remaining, MaxBlockPayload));
            headerSum = BlockChecksum(Le16(static_cast<unsigned>(length)));
            Buffer.Read(std::span(payload).first(static_cast<std::size_t>(length)));
            UiServices.Yield();
            remaining -= length;
            lastSent = expected;
            expected = TBlockDecoder::NextNumber(expected);
        }
        const auto data = std::span<const std::uint8_t>(payload).first(static_cast<std::size_t>(length));
        WriteBlock(Le16(static_cast<unsigned>(length) << 6));
        Clock.Sleep(10);
        if (fresh && withBar) {
            for (std::uint8_t b : data) {
                PutByte(b);
                AdvanceProgress(1);
                UiServices.Yield();
            }
        } else {
            WriteBlock(data);
        }
        WriteBlock(Le16((headerSum + BlockChecksum(data)) & 0xFFFF));
        if (!fresh)
            BlockFailure(failures);
    }

    if (withBar)
        UiServices.SetProgressPosition(0);
    UiServices.BusyIndicator(false);
    UiServices.Yield();
}

void TPortVirt::SendBlockFrom(std::optional<std::span<const std::uint8_t>> data, TBlockErrors errors,
                              TBlockProgress progress)
{
    if (data) {
        Buffer.Clear();
        Buffer.Write(*data);
    }
    if (Buffer.Size() == 0) {
        UiServices.Ask(TQuestion::Notice(QStringLiteral("Err. Buffer")));
        return;
    }
    SendBlock(progress, errors);
}
