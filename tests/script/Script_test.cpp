#include "script/Script.h"

#include "support/ScriptedUi.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

namespace {
QString Pad(const QString &s, int width) { return s.leftJustified(width); }

QString StartLine(int number, const QString &path)
{
    return QString::number(number) + " : " + Pad("Start configuration", 20) + " " + Pad(path, 60) + " -<X: 2 @ " +
           path + " >-";
}

const QLocale French(QLocale::French, QLocale::France);
const QDateTime Morning(QDate(2023, 3, 15), QTime(8, 0, 0));
} // namespace

TEST(ScriptLines, eventLinesAreBuiltField_by_field)
{
    TScript script;
    script.AddStartConfiguration("C:\\D\\a.Ini");
    script.AddLatency("1.5", 1.5);
    script.AddGoto(GotoEventDescription(2, 3), 2, 3);
    script.AddMemo("check the north cable: wet");

    ASSERT_EQ(script.Lines.size(), 4);
    EXPECT_EQ(script.Lines[0], StartLine(1, "C:\\D\\a.Ini"));
    EXPECT_EQ(script.Lines[1], "2 : " + Pad("latency after the starting of the last event", 20) + " " +
                                   Pad("1.5 hour(s)", 60) + " -<X: 1 @ 0.0625 >-");
    EXPECT_EQ(script.Lines[2],
              "3 : " + Pad("Restart from event", 20) + " " + Pad("2", 30) + " x " + Pad("3", 27) + " -<X: 3 @ 2:3 >-");
    EXPECT_EQ(script.Lines[3], "check the north cable: wet");
    // A long path is never cut.
    const QString longPath = "/" + QString(70, 'p') + ".ini";
    EXPECT_EQ(EventDescription("Start configuration", longPath), Pad("Start configuration", 20) + " " + longPath);
}

TEST(ScriptLines, wakeUpIsAlwaysEventOne)
{
    const QString wake = "1 : " + Pad("Wake up", 20) + " " + Pad("15/03/2023 08:00:00", 60) + " -<X: 0 @ 45000.3333333333 >-";
    struct Case {
        const char *name;
        QStringList before;
        QStringList after;
    } cases[] = {
        {"empty script", {}, {wake}},
        {"two events renumbered",
         {StartLine(1, "/a.ini"), StartLine(2, "/b.ini")},
         {wake, "2 " + StartLine(1, "/a.ini").mid(2), "3 " + StartLine(2, "/b.ini").mid(2)}},
        {"existing wake-up replaced", {"1 : Wake up old -<X: 0 @ 1 >-", StartLine(2, "/a.ini")}, {wake, StartLine(2, "/a.ini")}},
        {"memos keep their whole text", {StartLine(1, "/a.ini"), "memo", "Wake up: crew"},
         {wake, "2 " + StartLine(1, "/a.ini").mid(2), "3 memo", "4 Wake up: crew"}},
    };
    for (const auto &c : cases) {
        TScript script;
        script.Lines = c.before;
        script.SetWakeUp(Morning, French);
        EXPECT_EQ(script.Lines.join('\n').toStdString(), c.after.join('\n').toStdString()) << c.name;
    }
}

TEST(ScriptLines, parsedBackAsTheRunnerReadsThem)
{
    struct Case {
        QString line;
        bool event;
        int code;
        QString argument;
        QString head;
    } cases[] = {
        {StartLine(1, "/x @ y/a.ini"), true, 2, "/x @ y/a.ini", "1 : " + Pad("Start configuration", 20) + " " + Pad("/x @ y/a.ini", 60)},
        {"4 : d -<X: 3 @ 2:3 >-", true, 3, "2:3", "4 : d"},
        {"5 : d -<X: 7 @  12  >-", true, 7, "12", "5 : d"},
        {"6 : d -<X: x @ 12 >-", true, -1, "12", "6 : d"},
        {"7 : d -<X: 3 @ >-", true, 3, "", "7 : d"},
        {"8 : d -<X: 1 >-", true, 1, "", "8 : d"},
        {"just a note @ here >-", false, -1, "", ""},
    };
    for (const auto &c : cases) {
        const TScriptLine p = ParseScriptLine(c.line);
        EXPECT_EQ(p.IsEvent, c.event) << c.line.toStdString();
        EXPECT_EQ(p.Code, c.code) << c.line.toStdString();
        EXPECT_EQ(p.Argument, c.argument) << c.line.toStdString();
        EXPECT_EQ(p.Head, c.head) << c.line.toStdString();
    }
}

TEST(ScriptCommands, latencyAsksAgainAfterInputErrorAndGotoKeepsItsDefaults)
{
    TScriptedUi ui;
    TScript script;
    ui.InputAnswers = {"1h", "1,5"};
    ASSERT_TRUE(script.LatencyBtnCommand(ui));
    EXPECT_EQ(ui.Messages, QStringList{"Input ERROR"});
    EXPECT_TRUE(script.Lines.last().endsWith("-<X: 1 @ 0.0625 >-"));
    EXPECT_TRUE(script.Lines.last().contains("1,5 hour(s)"));

    ui.InputAnswers = {"two", "many"};
    ASSERT_TRUE(script.GotoBtnCommand(ui));
    EXPECT_EQ(script.Lines.last(), "2 : " + GotoEventDescription(0, 999) + " -<X: 3 @ 0:999 >-");

    ui.InputAnswers = {"2"}; // the count question is cancelled
    ASSERT_TRUE(script.GotoBtnCommand(ui));
    EXPECT_EQ(script.Lines.last(), "3 :  -<X: 3 @ 2:999 >-");

    ui.InputAnswers = {};
    EXPECT_FALSE(script.MemoBtnCommand(ui));
    EXPECT_FALSE(script.LatencyBtnCommand(ui));
    EXPECT_EQ(script.Lines.size(), 3);
    script.CutLastLine();
    EXPECT_EQ(script.Lines.size(), 2);
}

TEST(ScriptFile, roundTripInWindows1252OrUtf8WithCrLf)
{
    QTemporaryDir dir;
    struct Case {
        QString path;
        QByteArray expected;
    } cases[] = {
        {"/données/a.ini", "1 : x -<X: 2 @ /donn\xe9" "es/a.ini >-\r\nm\xe9mo\r\n"},
        {"/данные/a.ini", "1 : x -<X: 2 @ /\xd0\xb4\xd0\xb0\xd0\xbd\xd0\xbd\xd1\x8b\xd0\xb5/a.ini >-\r\nm\xc3\xa9mo\r\n"},
    };
    for (const auto &c : cases) {
        TScript script;
        script.Lines = {"1 : x -<X: 2 @ " + c.path + " >-", QString::fromUtf8("mémo")};
        QString error;
        const QString file = dir.filePath("s.scp");
        ASSERT_TRUE(script.Save(file, error)) << error.toStdString();
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), c.expected);
        TScript back;
        ASSERT_TRUE(back.Load(file, error));
        EXPECT_EQ(back.Lines, script.Lines);
    }
    // A UTF-8 file stays UTF-8 when saved again, even when every character
    // would fit Windows-1252.
    {
        QFile f(dir.filePath("u.scp"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("1 : x -<X: 2 @ /donn\xc3\xa9" "es/a.ini >-\r\n");
    }
    TScript utf8;
    QString error;
    ASSERT_TRUE(utf8.Load(dir.filePath("u.scp"), error));
    utf8.AddMemo(QString::fromUtf8("mémo"));
    ASSERT_TRUE(utf8.Save(dir.filePath("u.scp"), error));
    QFile u(dir.filePath("u.scp"));
    ASSERT_TRUE(u.open(QIODevice::ReadOnly));
    EXPECT_EQ(u.readAll(), QByteArray("1 : x -<X: 2 @ /donn\xc3\xa9" "es/a.ini >-\r\nm\xc3\xa9mo\r\n"));

    TScript kept;
    kept.Lines = {"keep"};
    EXPECT_FALSE(kept.Load(dir.filePath("missing.scp"), error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(kept.Lines, QStringList{"keep"});
}

TEST(ScriptFile, utf16ScriptIsReadAndSavedBackInUtf16)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("u16.scp");
    const QString text = QString::fromUtf8("1 : x -<X: 2 @ /données/a.ini >-\r\nmémo\r\n");
    for (const QStringConverter::Encoding encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        QStringEncoder encode(encoding, QStringConverter::Flag::WriteBom);
        const QByteArray bytes = encode.encode(text);
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        TScript script;
        QString error;
        ASSERT_TRUE(script.Load(path, error)) << error.toStdString();
        EXPECT_EQ(script.Lines, (QStringList{QString::fromUtf8("1 : x -<X: 2 @ /données/a.ini >-"), QString::fromUtf8("mémo")}));
        ASSERT_TRUE(script.Save(path, error));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), bytes);
    }
}

TEST(ScriptSchedule, timesOutOfRangeAreRefusedWithTheirLine)
{
    const double today = 46000; // December 2025
    const QString loopBack = "3 : again -<X: 3 @ 1:5 >-";
    const struct {
        QStringList Lines;
        const char *Refusal; // nullptr: runs
    } cases[] = {
        {{"1 : far -<X: 1 @ 1e300 >-"}, "Line 1: a latency of 2.4e+301 hour(s) is beyond 100 years"},
        {{"1 : note", "2 : back -<X: 1 @ -36526 >-"}, "Line 2: a latency of -876624 hour(s) is beyond 100 years"},
        {{"1 : w -<X: 0 @ 1e300 >-"}, "Line 1: the wake-up time (day 1e300) is more than 100 years from today"},
        {{"1 : w -<X: 0 @ -5 >-"}, "Line 1: the wake-up time"},
        {{"1 : A -<X: 2 @ A.ini >-", "2 : tiny -<X: 1 @ 1e-300 >-", loopBack},
         "Line 2: a latency of 8.64e-296 s in a loop is under one second"},
        {{"1 : tiny -<X: 1 @ 1e-300 >-", "2 : A -<X: 2 @ A.ini >-"}, nullptr}, // waits once: harmless
        {{"1 : A -<X: 2 @ A.ini >-", "2 : one second -<X: 1 @ 1.15740740740741e-05 >-", loopBack}, nullptr},
        {{"1 : A -<X: 2 @ A.ini >-", "2 : none -<X: 1 @ 0 >-", loopBack}, nullptr},
        {{"1 : w -<X: 0 @ 46010.5 >-", "2 : day -<X: 1 @ 1 >-", "3 : bad -<X: 1 @ soon >-"}, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Lines.join(" | ").toStdString());
        const QString refusal = ScheduleRangeError(c.Lines, today);
        if (c.Refusal)
            EXPECT_TRUE(refusal.startsWith(QString::fromUtf8(c.Refusal))) << refusal.toStdString();
        else
            EXPECT_EQ(refusal, QString());
    }
}
