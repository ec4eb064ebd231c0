// The checked operations and the command handshake over a scripted loopback.
#include "FakePort.h"

#include "base/TarnelError.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <vector>

namespace {

// Answers the wake-up and the command handshake the way the instrument does.
struct TMiniInstrument {
    std::function<bool()> Hears = [] { return true; };
    int SilentWakeUps = 0;          // heard but unanswered wake-ups at the start
    int WakeUps = 0;
    std::deque<int> CommandReplies; // per command pair: -1 silence, else that byte; empty: echo
    bool Identifying = false;
    QByteArray IdentLines = "VOLTIX PRO 10\r\nSN 1234 V2.05\r\n";
    std::vector<int> Commands;
    int Pending = -1;

    void Attach(TFakePort &port)
    {
        port.OnWrite = [this, &port](std::uint8_t b) { Hear(port, b); };
    }
    void Hear(TFakePort &port, std::uint8_t b)
    {
        if (Pending >= 0) {
            const int command = Pending;
            Pending = -1;
            if (b != (command ^ 0xFF))
                return;
            Commands.push_back(command);
            int reply = command;
            if (!CommandReplies.empty()) {
                reply = CommandReplies.front();
                CommandReplies.pop_front();
            }
            if (reply >= 0)
                port.Feed({reply});
            if (reply == 27)
                Identifying = true;
            return;
        }
        if (b == '@') {
            if (!Hears())
                return;
            if (++WakeUps <= SilentWakeUps)
                return;
            port.Feed({'@'});
            if (Identifying)
                port.Feed(QByteArrayView(IdentLines));
            return;
        }
        Pending = b;
    }
};

struct PortVirt : ::testing::Test {
    TScriptedUi Ui;
    TFakeClock Clock;
    TFakePort Port{Ui, Clock};
    TMiniInstrument Instrument;
    void SetUp() override { Instrument.Attach(Port); }
};

QString ErrorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const ETarnelError &e) {
        return e.Message();
    }
    return QStringLiteral("(nothing raised)");
}

std::optional<TErrorKind> KindOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const ETarnelError &e) {
        return e.Kind();
    }
    return std::nullopt;
}

TEST_F(PortVirt, SendCommand_answeredAtOnce_sendsWakeUpCommandAndComplement)
{
    EXPECT_TRUE(Port.SendCommand(32, 2000));
    EXPECT_EQ(Port.Tx, QByteArray("@\x20\xDF", 3));
    EXPECT_FALSE(Ui.Busy);
}

TEST_F(PortVirt, SendCommand_wakeUpEchoAfter78UnansweredSends_returnsFalse)
{
    struct Case {
        int silent;
        bool result;
        int wakeUpsSent;
    };
    for (const Case c : {Case{0, true, 1}, Case{77, true, 78}, Case{78, false, 79}, Case{81, false, 82},
                         Case{1000, false, 82}}) {
        SCOPED_TRACE(c.silent);
        Port.Tx.clear();
        Instrument = {};
        Instrument.SilentWakeUps = c.silent;
        const std::int64_t start = Clock.Now;
        EXPECT_EQ(Port.SendCommand(30, 2000), c.result);
        EXPECT_EQ(Port.Tx.count('@'), c.wakeUpsSent);
        // Each unanswered wake-up waits out the timeout, without real time passing.
        EXPECT_GE(Clock.Now - start, std::int64_t(std::min(c.silent, 82)) * 2000);
        EXPECT_EQ(Port.Tx.contains('\x1E'), c.result) << "command sent after a refused wake-up";
        EXPECT_FALSE(Ui.Busy);
    }
}

TEST_F(PortVirt, SendCommand_commandReplies_retriedOnFFOrSilenceUpToSixTimes)
{
    struct Case {
        std::deque<int> replies;
        bool result;
        int pairsSent;
    };
    const std::vector<Case> cases = {
        {{}, true, 1},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true, 6},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false, 6},
        {{-1, -1, -1, -1, -1, -1}, false, 6},
        {{-1, 0xFF, 41}, true, 3},
        {{0x12}, false, 1}, // a wrong echo ends the attempts at once
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pairsSent);
        Port.Tx.clear();
        Instrument = {};
        Instrument.CommandReplies = c.replies;
        EXPECT_EQ(Port.SendCommand(41, 2000), c.result);
        EXPECT_EQ(Port.Tx.count('\x29'), c.pairsSent);
        EXPECT_EQ(Port.Tx.count('\xD6'), c.pairsSent);
    }
}

TEST_F(PortVirt, SendCommand_pausesTenMsBetweenCommandAndComplement_andTwentyAfter)
{
    Ui.OnYield = nullptr;
    EXPECT_TRUE(Port.SendCommand(28, 2000));
    EXPECT_EQ(Clock.Slept, 30);
}

TEST_F(PortVirt, WaitForText_findsTextAcrossNoiseAndLeavesTheRest)
{
    Port.Feed(QByteArrayView("xx:\x01:>tail"));
    EXPECT_TRUE(Port.WaitPrompt());
    EXPECT_EQ(Port.Rx.size(), 4u);
}

TEST_F(PortVirt, WaitForText_silenceLongerThan300s_returnsTrue)
{
    EXPECT_TRUE(Port.WaitForText("CONNECT"));
    EXPECT_GT(Clock.Now, 300000);
    EXPECT_LT(Clock.Now, 300100);
}

TEST_F(PortVirt, WaitForText_linkClosedWhileWaiting_returnsFalse)
{
    Port.OnIdle = [this] {
        if (Clock.Now > 5000)
            Port.State = -1;
    };
    Ui.Busy = true;
    EXPECT_FALSE(Port.WaitForText(":>"));
    EXPECT_FALSE(Ui.Busy);
    EXPECT_FALSE(Port.PromptAndSendCommand(43, 2000));
    EXPECT_TRUE(Port.Tx.isEmpty());
}

TEST_F(PortVirt, ReadLine_limitsTimeoutAndLineEnds)
{
    struct Case {
        QByteArray input;
        int maximum;
        bool result;
        QByteArray text;
        int left;
    };
    const std::vector<Case> cases = {
        {"VOLTIX\r\nnext", 40, true, "VOLTIX", 4},
        {"\r\n", 40, true, "", 0},
        {QByteArray(45, 'a'), 40, true, QByteArray(40, 'a'), 5},
        {"ab\rcd\r", 6, true, "abcd", 0}, // CR counts towards the maximum but is not stored
        {"abc", 40, false, "", 0},        // timeout: the partial text is dropped
        {"", 40, false, "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input.toStdString());
        Port.Rx.clear();
        Port.Feed(QByteArrayView(c.input));
        QByteArray text = "stale";
        EXPECT_EQ(Port.ReadLine(text, c.maximum, 15000), c.result);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(int(Port.Rx.size()), c.left);
    }
}

TEST_F(PortVirt, ReadBytes_stopsAtFirstTimeout)
{
    Port.Feed({1, 2, 3});
    std::array<std::uint8_t, 5> buffer{};
    EXPECT_EQ(Port.ReadBytes(buffer, 100), 3);
    EXPECT_EQ(buffer[2], 3);
}

TEST_F(PortVirt, LinkDown_eachCheckedOperationRaisesItsTextAndClearsBusy)
{
    std::array<std::uint8_t, 2> two{};
    QByteArray line;
    const std::vector<std::pair<const char *, std::function<void()>>> cases = {
        {"Port err. Setcmd", [&] { Port.SendCommand(32, 2000); }},
        {"Port err. getstring", [&] { Port.ReadLine(line, 40, 100); }},
        {"Port err. putcom", [&] { Port.PutByte(1); }},
        {"Port err. Getcom", [&] { Port.GetByte(); }},
        {"Port err. Getcom", [&] { Port.ReadExact(two); }},
        {"Port err. Getcom", [&] { Port.ReadBytes(two, 100); }},
        {"Port err. xbtCload", [&] { Port.ReceiveBlock(TBlockProgress::None, TBlockErrors::None); }},
    };
    for (const auto &[text, operation] : cases) {
        Port.State = -1;
        Ui.Busy = true;
        EXPECT_EQ(ErrorOf(operation), text);
        EXPECT_FALSE(Ui.Busy) << text;
        EXPECT_EQ(KindOf(operation), TErrorKind::LinkLost) << text;
    }
}

TEST_F(PortVirt, StopPressedDuringAWait_endsItAsInterrupted)
{
    bool stop = false;
    Port.InterruptRequested = [&] { return stop; };
    Port.OnIdle = [&] { stop = Clock.Now > 1000; };
    try {
        Port.GetByte();
        ADD_FAILURE() << "GetByte returned";
    } catch (const ETarnelError &e) {
        EXPECT_EQ(e.Message(), "Stopped by user");
        EXPECT_EQ(e.Kind(), TErrorKind::Interrupted);
    }
    EXPECT_EQ(ERefusedError(TPortVirt::RefusedText(29)).Kind(), TErrorKind::Refused);
}

TEST_F(PortVirt, PutByte_linkDropsWhileByteIsLeaving_raisesPortErr)
{
    Port.StuckTx = 1;
    Port.OnIdle = [this] {
        if (!Port.Tx.isEmpty())
            Port.State = 0;
    };
    EXPECT_EQ(ErrorOf([&] { Port.PutByte('@'); }), "Port err.");
}

TEST_F(PortVirt, GetByte_linkDropsWhileWaiting_raises)
{
    Port.OnIdle = [this] {
        if (Clock.Now > 60000)
            Port.State = -1;
    };
    EXPECT_EQ(ErrorOf([&] { Port.GetByte(); }), "Port err. Getcom");
}

TEST_F(PortVirt, PutByte_byteDelay_sleepsAfterEachByte)
{
    struct TDelayed : TFakePort {
        using TFakePort::TFakePort;
        void SetDelay(int ms) { ByteDelayMs = ms; }
    } delayed{Ui, Clock};
    delayed.SetDelay(7);
    delayed.WriteBlock(std::array<std::uint8_t, 3>{1, 2, 3});
    EXPECT_EQ(Clock.Slept, 21);
}

// A pause given to the instrument takes its whole time, lets the window
// answer at least every 40 ms, and is not cut short by Stop (the exchange
// around it is, at its next wait).
TEST_F(PortVirt, PauseSeconds_takesItsTimeWhileTheWindowAnswers)
{
    bool stop = false;
    Port.InterruptRequested = [&] { return stop; };
    std::int64_t last = Clock.Now, longest = 0;
    Ui.OnYield = [&](int) {
        longest = std::max(longest, Clock.Now - last);
        last = Clock.Now;
        stop = true;
    };
    Port.PauseSeconds(3);
    EXPECT_EQ(Clock.Slept, 3000);
    EXPECT_GE(Ui.Yields, 75);
    EXPECT_LE(longest, 40);
}

// --- Identify ---

struct Identify : PortVirt {
    QByteArray Second, First;
    void SetUp() override
    {
        PortVirt::SetUp();
        Instrument.Identifying = true;
    }
};

TEST_F(Identify, instrumentAnswersAtOnce_firstLineSentGoesToTheSecondArgument)
{
    EXPECT_TRUE(Port.Identify(Second, First));
    EXPECT_EQ(First, "VOLTIX PRO 10");
    EXPECT_EQ(Second, "SN 1234 V2.05");
    EXPECT_EQ(Port.Tx, "@");
    EXPECT_EQ(Port.Baud, 19200);
}

TEST_F(Identify, staleInputIsDrainedBeforeTheWakeUp)
{
    Port.Feed(QByteArrayView("@junk\r\n"));
    EXPECT_TRUE(Port.Identify(Second, First));
    EXPECT_EQ(First, "VOLTIX PRO 10");
}

TEST_F(Identify, instrumentAtFallbackRate_foundOnPass11AndRateKept)
{
    Instrument.Hears = [this] { return Port.Baud == 38400; };
    EXPECT_TRUE(Port.Identify(Second, First));
    // Pass 11 still wakes at the old rate; its answer is read after the switch.
    EXPECT_EQ(Port.Tx.count('@'), 12);
    EXPECT_EQ(Port.Baud, 38400);
    EXPECT_TRUE(Instrument.Commands.empty());
}

TEST_F(Identify, noAnswerThroughPass20_restoresRateSendsEscapeAndStartsOver)
{
    Instrument.Hears = [this] { return Port.Baud == 19200; };
    Instrument.SilentWakeUps = 15;
    Instrument.Identifying = false;
    Instrument.IdentLines = "VOLTIX PRO 10\r\nSN 9\r\n";
    EXPECT_TRUE(Port.Identify(Second, First));
    EXPECT_EQ(Instrument.Commands, std::vector<int>{27});
    EXPECT_EQ(Port.Baud, 19200);
    EXPECT_EQ(Second, "SN 9");
}

TEST_F(Identify, escapeRefusedOnLinksThatStopThere_returnsFalse)
{
    Instrument.Hears = [] { return false; };
    struct Case {
        int fallbackBaud, escapePass, passes;
    };
    for (const Case c : {Case{0, 21, 21}, Case{115200, 20, 20}}) {
        SCOPED_TRACE(c.escapePass);
        Port.Tx.clear();
        Port.Baud = 19200;
        Port.Values = TFakePort::TIdentifyValues{100, 2000, c.fallbackBaud, c.escapePass, true};
        EXPECT_FALSE(Port.Identify(Second, First));
        // The Escape's own wake-ups follow the identification passes.
        EXPECT_EQ(Port.Tx.count('@'), c.passes + 82);
        EXPECT_EQ(Port.Baud, 19200);
        EXPECT_TRUE(Ui.Messages.isEmpty());
    }
}

TEST_F(Identify, echoWithoutLines_returnsFalseAndLeavesTheSecondLineForTheRetry)
{
    Instrument.Identifying = false;
    Second = First = "ZZZZ";
    EXPECT_FALSE(Port.Identify(Second, First));
    EXPECT_TRUE(First.isEmpty());
    EXPECT_EQ(Second, "ZZZZ");
}

TEST_F(Identify, linkDropsDuringTheWakeUps_showsUnknownBaudrate)
{
    Instrument.Hears = [] { return false; };
    Port.OnIdle = [this] {
        if (Clock.Now > 30000)
            Port.State = 0;
    };
    EXPECT_FALSE(Port.Identify(Second, First));
    EXPECT_EQ(Ui.Messages, QStringList{"Unknown Baudrate"});
}

TEST(BlockChecksum, isTheByteSumModulo65536)
{
    std::vector<std::uint8_t> bytes(300, 0xFF);
    EXPECT_EQ(TPortVirt::BlockChecksum(bytes), (300 * 255) % 65536);
    EXPECT_EQ(TPortVirt::BlockChecksum({}), 0);
}

} // namespace

// --- Progress watchdog ---

TEST_F(Identify, roundsBoundedByTheFrontEnd_endWithNoAnswer)
{
    Instrument.Hears = [] { return false; };
    Port.SetIdentifyRounds(2);
    try {
        Port.Identify(Second, First);
        ADD_FAILURE() << "Identify returned";
    } catch (const ENoAnswerError &e) {
        EXPECT_EQ(e.Message(), "no answer from the instrument");
        EXPECT_EQ(e.Kind(), TErrorKind::Timeout);
    }
    EXPECT_EQ(Instrument.Commands, std::vector<int>{}) << "the Escapes found nobody either";
    EXPECT_EQ(Port.Tx.count('@'), 2 * (20 + 82));
    EXPECT_TRUE(Ui.Messages.isEmpty()) << "no Unknown Baudrate for a silent instrument";
}

struct Watchdog : PortVirt {
    void SetUp() override
    {
        PortVirt::SetUp();
        Port.SetSilenceLimit(5, TPortVirt::TSilenceAction::Raise);
    }
    // Raised text and the simulated time it took.
    std::pair<QString, std::int64_t> Stall(const std::function<void()> &f)
    {
        const std::int64_t start = Clock.Now;
        QString text = QStringLiteral("(nothing raised)");
        try {
            f();
        } catch (const ENoAnswerError &e) {
            text = e.Kind() == TErrorKind::Timeout ? e.Message() : QStringLiteral("not a timeout: ") + e.Message();
        } catch (const ETarnelError &e) {
            text = QStringLiteral("other error: ") + e.Message();
        }
        return {text, Clock.Now - start};
    }
};

TEST_F(Watchdog, silenceOrBytesThatDoNotAdvance_endTheWaitAfterTheLimit)
{
    // A peer that answers everything with garbage; bytes take time on the wire.
    auto flood = [this](std::uint8_t) {
        Port.Feed({0x81, 0x82, 0x83});
        Clock.Advance(1);
    };
    struct Case {
        const char *what;
        bool garbage;
        std::function<void()> run;
    };
    const std::vector<Case> cases = {
        {"prompt, silent", false, [this] { Port.WaitPrompt(); }},
        {"prompt, garbage", true, [this] { Port.Feed(QByteArray(100000, 'x')); Port.WaitPrompt(); }},
        {"byte, silent", false, [this] { Port.GetByte(); }},
        {"command, silent", false, [this] { while (!Port.SendCommand(45, 2000)) {} }},
        {"command, garbage", true, [this] { while (!Port.SendCommand(45, 2000)) {} }},
        {"receive block, silent", false, [this] { Port.ReceiveBlock(TBlockProgress::None, TBlockErrors::None); }},
        {"identify, garbage", true, [this] { QByteArray a, b; Port.Identify(a, b); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Port.Rx.clear();
        Port.KeepOnFlush = c.garbage;
        Port.OnWrite = c.garbage ? std::function<void(std::uint8_t)>(flood) : nullptr;
        Clock.Advance(10000); // a new exchange after a pause
        const auto [text, took] = Stall(c.run);
        EXPECT_EQ(text, "no answer from the instrument for 5 s");
        EXPECT_GE(took, 5000);
        EXPECT_LT(took, 8000);
        EXPECT_FALSE(Ui.Busy);
    }
}

TEST_F(Watchdog, progressKeepsASlowExchangeAliveAndAPauseStartsAFreshOne)
{
    // "+-" every 3 s for 30 s: slow, never silent for the limit.
    int sent = 0;
    Port.OnIdle = [&] {
        if (sent < 10 && Clock.Now >= 3000 * (sent + 1)) {
            Port.Feed(QByteArrayView("+-"));
            ++sent;
        }
    };
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(Port.WaitForText("+-"));
    EXPECT_GE(Clock.Now, 30000);
    Port.OnIdle = nullptr;

    // Idle between exchanges for a minute: the next one has its full limit.
    Clock.Advance(60000);
    Port.Feed(QByteArrayView(":>"));
    EXPECT_TRUE(Port.WaitPrompt());
}

TEST_F(Watchdog, reportModeTellsOnceAndLetsTheWaitGoOn)
{
    std::vector<int> told;
    Port.SetSilenceLimit(120, TPortVirt::TSilenceAction::Report);
    Port.OnSilence = [&](int seconds) { told.push_back(seconds); };
    bool stalledSeen = false;
    Port.OnIdle = [&] {
        stalledSeen = stalledSeen || Port.Stalled();
        // The operator presses Stop: the link-loss path ends the wait.
        if (Port.Stalled() && Clock.Now > 200000)
            Port.Disconnect();
    };
    EXPECT_FALSE(Port.WaitPrompt());
    EXPECT_EQ(told, std::vector<int>{120});
    EXPECT_TRUE(stalledSeen);
    EXPECT_LT(Clock.Now, 201000);
    EXPECT_EQ(TPortVirt::SilenceText(120), "no answer from the instrument for 120 s");
}
