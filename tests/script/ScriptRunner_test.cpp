#include "script/ScriptRunner.h"

#include "base/EventLog.h"
#include "base/TarnelError.h"
#include "script/Script.h"
#include "support/FakeClock.h"
#include "support/ScriptedUi.h"

#include <gtest/gtest.h>

#include <deque>

namespace {
// The program around the runner: acquisitions take simulated time, Stop and
// Pause are flags, the Stop question is answered from a queue.
class TFakeHost : public TScriptHost {
public:
    explicit TFakeHost(TFakeClock &clock) : Clock(clock) {}
    bool Stop = false, Pause = false;
    std::int64_t AcquisitionMs = 30 * 60000;
    int StopDuringAcquisition = 0; // Stop pressed during this acquisition (1-based)
    std::deque<bool> StopAnswers;
    int Asked = 0, Saves = 0;
    QStringList Starts; // "HH:mm path"
    std::function<QDateTime()> Now;

    bool StopRequested() override { return Stop; }
    bool Paused() override { return Pause; }
    void SaveLog() override { ++Saves; }
    bool StartConfiguration(const QString &path) override
    {
        if (path == "missing.ini")
            return false;
        if (path == "broken-link.ini")
            throw ETarnelError("Port err. Setcmd");
        Starts << Now().toString("HH:mm") + " " + path;
        Clock.Advance(AcquisitionMs);
        if (int(Starts.size()) == StopDuringAcquisition)
            Stop = true;
        return true;
    }
    bool AskStopScript() override
    {
        ++Asked;
        const bool yes = StopAnswers.empty() || StopAnswers.front();
        if (!StopAnswers.empty())
            StopAnswers.pop_front();
        return yes;
    }
    void ConfigurationDone() override { Stop = false; }

private:
    TFakeClock &Clock;
};

class ScriptRunnerTest : public ::testing::Test {
protected:
    ScriptRunnerTest()
    {
        Log.Locale = QLocale(QLocale::French, QLocale::France);
        Log.Now = TScriptRunner::ClockTime(Clock, QDateTime(QDate(2026, 12, 10), QTime(7, 0)));
        Host.Now = Log.Now;
        Runner.Now = Log.Now;
        Runner.MaxWaitMs = 60000;
        Ui.OnYield = [this](int ms) {
            Clock.Advance(ms);
            if (OnWait)
                OnWait(ms);
        };
    }
    void WakeUp(int hour) { Script.SetWakeUp(QDateTime(QDate(2026, 12, 10), QTime(hour, 0)), Log.Locale); }
    QStringList Texts(TColor color) const
    {
        QStringList out;
        for (const auto &l : Log.Lines())
            if (l.Color == color)
                out << l.Text;
        return out;
    }
    QString Time() const { return Log.Now().toString("HH:mm"); }

    TFakeClock Clock;
    TScriptedUi Ui;
    TEventLog Log;
    TFakeHost Host{Clock};
    TScriptRunner Runner{Ui, Log, Host};
    TScript Script;
    std::function<void(int)> OnWait;
};
} // namespace

TEST_F(ScriptRunnerTest, twoConfigurationsEveryTwoHoursThreeTimes)
{
    WakeUp(8);
    Script.AddStartConfiguration("A.ini");
    Script.AddLatency("2", 2);
    Script.AddStartConfiguration("B.ini");
    Script.AddLatency("2", 2);
    Script.AddGoto(GotoEventDescription(2, 3), 2, 3);

    EXPECT_EQ(Runner.Run(Script.Lines), TScriptRunner::TEnd::Completed);
    EXPECT_EQ(Host.Starts, (QStringList{"08:00 A.ini", "10:00 B.ini", "12:00 A.ini", "14:00 B.ini", "16:00 A.ini",
                                        "18:00 B.ini"}));
    EXPECT_EQ(Time(), "20:00");
    // One log save and one echo per line read: 1 + 5 * 3 lines.
    EXPECT_EQ(Host.Saves, 16);
    EXPECT_EQ(Log.Lines().front().Text, "< 10/12/2026 07:00:00 > " + ParseScriptLine(Script.Lines[0]).Head);
    EXPECT_TRUE(Texts(LogColor::Red).isEmpty());
}

TEST_F(ScriptRunnerTest, latencyCountsFromThePreviousTargetNotTheEndOfTheAcquisition)
{
    Host.AcquisitionMs = 3 * 3600000; // longer than the latency
    WakeUp(6);                        // in the past: no wait
    Script.AddStartConfiguration("A.ini");
    Script.AddLatency("2", 2);
    Script.AddStartConfiguration("B.ini");
    Script.AddLatency("2", 2);
    Script.AddStartConfiguration("C.ini");
    Runner.Run(Script.Lines);
    EXPECT_EQ(Host.Starts, (QStringList{"07:00 A.ini", "10:00 B.ini", "13:00 C.ini"}));
}

TEST_F(ScriptRunnerTest, gotoCountsWithOneSharedCounter)
{
    struct Case {
        const char *gotoArgument;
        int starts;
    } cases[] = {{"1:1", 1}, {"1:3", 3}, {"1:1000", 100}, {"1:0", 1}};
    for (const auto &c : cases) {
        Host.Starts.clear();
        Host.AcquisitionMs = 0;
        TScript s;
        s.AddStartConfiguration("A.ini");
        s.AddGoto(QString(), 0, 0);
        s.Lines[1] = "2 : x -<X: 3 @ " + QString(c.gotoArgument) + " >-";
        EXPECT_EQ(Runner.Run(s.Lines), TScriptRunner::TEnd::Completed) << c.gotoArgument;
        EXPECT_EQ(Host.Starts.size(), c.starts) << c.gotoArgument;
    }
    // One counter for every goto: it is back at 0 once a block falls through,
    // so the next block counts from scratch.
    TScript blocks;
    blocks.AddStartConfiguration("A.ini");
    blocks.AddGoto(GotoEventDescription(1, 2), 1, 2);
    blocks.AddStartConfiguration("B.ini");
    blocks.AddGoto(GotoEventDescription(3, 3), 3, 3);
    Host.Starts.clear();
    Runner.Run(blocks.Lines);
    EXPECT_EQ(Host.Starts.join(",").count("A.ini"), 2);
    EXPECT_EQ(Host.Starts.join(",").count("B.ini"), 3);
}

TEST_F(ScriptRunnerTest, gotoWithoutCountRunsUntilStopInAWait)
{
    Script.AddStartConfiguration("A.ini");
    Script.AddLatency("1", 1);
    Script.AddGoto(QString(), 0, 0);
    Script.Lines[2] = "3 : x -<X: 3 @ 1 >-";
    OnWait = [this](int) {
        if (Log.Now() >= QDateTime(QDate(2026, 12, 10), QTime(11, 30)))
            Host.Stop = true;
    };
    EXPECT_EQ(Runner.Run(Script.Lines), TScriptRunner::TEnd::Stopped);
    EXPECT_EQ(Host.Starts, (QStringList{"07:00 A.ini", "08:00 A.ini", "09:00 A.ini", "10:00 A.ini", "11:00 A.ini"}));
    EXPECT_EQ(Time(), "11:30"); // ended at once, not at the target
}

TEST_F(ScriptRunnerTest, gotoLoopWithoutWaitsStillSeesStop)
{
    Script.AddMemo("looping");
    Script.Lines << "2 : x -<X: 3 @ 1 >-";
    int yields = 0;
    OnWait = [&](int) {
        if (++yields == 50)
            Host.Stop = true;
    };
    EXPECT_EQ(Runner.Run(Script.Lines), TScriptRunner::TEnd::Stopped);
}

TEST_F(ScriptRunnerTest, stopDuringAnAcquisitionAsksWhetherToEndTheScript)
{
    for (bool yes : {true, false}) {
        Host.Starts.clear();
        Host.Asked = 0;
        Host.Stop = false;
        Host.StopDuringAcquisition = 1;
        Host.StopAnswers = {yes};
        TScript s;
        s.AddStartConfiguration("A.ini");
        s.AddStartConfiguration("B.ini");
        EXPECT_EQ(Runner.Run(s.Lines), yes ? TScriptRunner::TEnd::Stopped : TScriptRunner::TEnd::Completed);
        EXPECT_EQ(Host.Asked, 1);
        EXPECT_EQ(Host.Starts.size(), yes ? 1 : 2);
    }
}

TEST_F(ScriptRunnerTest, pauseHoldsTheScriptPastItsTarget)
{
    Script.AddLatency("1", 1);
    Script.AddStartConfiguration("A.ini");
    OnWait = [this](int) {
        const QTime t = Log.Now().time();
        Host.Pause = t >= QTime(7, 30) && t < QTime(9, 0);
        if (Host.Pause)
            Clock.Advance(60000); // a paused minute per 50 ms nap keeps the test short
    };
    Runner.Run(Script.Lines);
    EXPECT_EQ(Host.Starts, QStringList{"09:00 A.ini"});
}

TEST(ScriptLoops, aLoopThatNeverWaitsIsFound)
{
    const struct {
        QStringList Lines;
        bool Endless;
    } cases[] = {
        {{"1 : wake -<X: 0 @ 46000 >-", "2 : again -<X: 3 @ 1 >-"}, true}, // a wake-up waits once only
        {{"1 : note", "2 : again -<X: 3 @ 2 >-"}, true},
        {{"1 : pause -<X: 1 @ 0.01 >-", "2 : again -<X: 3 @ 1 >-"}, false},
        {{"1 : A -<X: 2 @ A.ini >-", "2 : again -<X: 3 @ 1 >-"}, false},
        {{"1 : note", "2 : three times -<X: 3 @ 1:3 >-"}, false},
        {{"1 : forward -<X: 3 @ 3 >-", "2 : note", "3 : note"}, false},
        {{"1 : zero latency -<X: 1 @ 0 >-", "2 : again -<X: 3 @ 1:x >-"}, true},
        // A latency too short to wait on, or a schedule out of range, is refused too.
        {{"1 : tiny latency -<X: 1 @ 1e-300 >-", "2 : again -<X: 3 @ 1 >-"}, true},
        {{"1 : A -<X: 2 @ A.ini >-", "2 : far -<X: 1 @ 1e300 >-"}, true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TScriptRunner::EndlessLoop(c.Lines).isEmpty(), !c.Endless) << c.Lines.join(" | ").toStdString();
}

TEST_F(ScriptRunnerTest, memoUnknownCodesAndErrorLinesLetTheScriptGoOn)
{
    Script.Lines = {
        "note: all cables checked",
        "2 : bad wake -<X: 0 @ soon >-",
        "3 : bad latency -<X: 1 @ 1.2.3 >-",
        "4 : bad config -<X: 2 @ missing.ini >-",
        "5 : link lost -<X: 2 @ broken-link.ini >-",
        "6 : bad goto -<X: 3 @ x:2 >-",
        "7 : seven -<X: 7 @ 1 >-",
        "8 : no code -<X: ? @ 1 >-",
        "9 : no argument -<X: 2 @  >-",
        "10 : good -<X: 2 @ A.ini >-",
    };
    QStringList failures;
    Runner.OnFailure = [&](const QString &reason) { failures << reason; };
    EXPECT_EQ(Runner.Run(Script.Lines), TScriptRunner::TEnd::Completed);
    EXPECT_EQ(Texts(LogColor::Green), QStringList{"note: all cables checked"});
    // The reason, stamped, then the error line.
    const QString at = "< 10/12/2026 07:00:00 > ";
    EXPECT_EQ(Texts(LogColor::Red),
              (QStringList{at + "Event 2: \"soon\" is not a number", "Wake up Error",
                           at + "Event 3: \"1.2.3\" is not a number", "latency after the starting of the last event Error",
                           "Start configuration Error", at + "Port err. Setcmd", "Start configuration Error",
                           at + "Event 6: \"x:2\" is not an event number", "Goto Error",
                           at + "Event 7: unknown event code 7", "previous command not recognized"}));
    EXPECT_EQ(failures, QStringList{"Port err. Setcmd"});
    EXPECT_EQ(Runner.FailedEvents, 6);
    EXPECT_EQ(Host.Starts, QStringList{"07:00 A.ini"});
    EXPECT_EQ(Log.Lines().back().Text, "< 10/12/2026 07:00:00 > 10 : good");
    EXPECT_EQ(Log.Lines().back().Color, LogColor::Black) << "the red of an error ends with it";
}

TEST_F(ScriptRunnerTest, gotoTargetOutsideTheScript)
{
    struct Case {
        const char *argument;
        TScriptRunner::TEnd end;
        int errors;
        int starts;
    } cases[] = {
        {"0", TScriptRunner::TEnd::GotoError, 1, 1},
        {"-3:5", TScriptRunner::TEnd::GotoError, 1, 1},
        {"0:1", TScriptRunner::TEnd::Completed, 0, 2}, // no jump, so no error
        {"1:abc", TScriptRunner::TEnd::Completed, 0, 0}, // the jump stands; checked below
        {"99", TScriptRunner::TEnd::Completed, 0, 1},    // past the end: the script ends
    };
    for (const auto &c : cases) {
        Log.Clear();
        Host.Starts.clear();
        Host.AcquisitionMs = 0;
        QStringList lines = {"1 : a -<X: 2 @ A.ini >-", QString("2 : g -<X: 3 @ ") + c.argument + " >-", "3 : after -<X: 2 @ B.ini >-"};
        if (QString(c.argument) == "1:abc") {
            // A count that is not a number: "Goto Error" after each jump, so
            // stop the endless loop after a few rounds.
            int rounds = 0;
            Runner.MayExecute = [&](const TScriptEvent &) { return ++rounds < 9; };
            EXPECT_EQ(Runner.Run(lines), TScriptRunner::TEnd::Limit);
            Runner.MayExecute = nullptr;
            EXPECT_EQ(Runner.FailedEvents, 4);
            EXPECT_FALSE(Host.Starts.contains("07:00 B.ini"));
            continue;
        }
        EXPECT_EQ(Runner.Run(lines), c.end) << c.argument;
        EXPECT_EQ(Runner.FailedEvents, c.errors) << c.argument;
        EXPECT_EQ(Texts(LogColor::Red).size(), 2 * c.errors) << c.argument;
        EXPECT_EQ(Host.Starts.size(), c.starts) << c.argument;
    }
}

// A restarted station goes on at the line it was at, with the gotos'
// counter it had there; each line is announced before it runs.
TEST_F(ScriptRunnerTest, aRunCanStartAtALineWithItsRepeatCounter)
{
    Host.AcquisitionMs = 0;
    const QStringList lines = {"1 : A -<X: 2 @ A.ini >-", "2 : B -<X: 2 @ B.ini >-", "3 : again -<X: 3 @ 1:3 >-"};
    std::vector<std::pair<qsizetype, int>> seen;
    Runner.OnLine = [&](qsizetype line, int repeat) { seen.emplace_back(line, repeat); };
    Runner.StartLine = 1;
    Runner.StartRepeat = 1;
    EXPECT_EQ(Runner.Run(lines), TScriptRunner::TEnd::Completed);
    // B, the goto's last jump, then A, B and the goto once more.
    EXPECT_EQ(Host.Starts, (QStringList{"07:00 B.ini", "07:00 A.ini", "07:00 B.ini"}));
    EXPECT_EQ(seen, (std::vector<std::pair<qsizetype, int>>{{1, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}}));
}
