#include "instrument/Parameters.h"

#include <gtest/gtest.h>

#include <clocale>

TEST(IPTiming, programmableUsesTheArithmeticRowAndAPulseChangeLeavesIt)
{
    TStartParameters p;
    p.SetTimeIndex(1); // 4000 ms
    p.SetIPMode(2);
    ASSERT_TRUE(ParameterRules::ChooseIPMode(p, ProgrammableIPMode));
    EXPECT_EQ(p.IPMode(), ProgrammableIPMode);
    EXPECT_EQ(p.Time, 400);
    EXPECT_EQ(p.MDly, 48);
    EXPECT_EQ(p.TM[19], 16);
    EXPECT_FALSE(ParameterRules::ChooseIPMode(p, ProgrammableIPMode)) << "unchanged index: nothing";

    ASSERT_TRUE(ParameterRules::ChooseTime(p, 0));
    EXPECT_EQ(p.IPMode(), 0) << "back to Arithmetic";
    EXPECT_EQ(p.Time, 800);
    EXPECT_EQ(p.TM[0], 32);

    ParameterRules::ChooseIPMode(p, 3);
    EXPECT_EQ(p.TM[19], 118);
    ParameterRules::ChooseTime(p, 5);
    EXPECT_EQ(p.Time, 25);
    EXPECT_EQ(p.TM[0], 0);
    EXPECT_EQ(IPTimingRow(2, 1)[3 + 6], 4);
    EXPECT_EQ(IPTimingRow(2, 1)[3 + 7], 8);
}

TEST(IPTiming, windowsEndingAfterThePulseAreCut)
{
    TStartParameters p; // Time 200
    std::array<QString, 20> widths;
    widths.fill("80");
    EXPECT_FALSE(ApplyIPWindows(p, "240", widths)) << "24 + 8 + 160 = 192 fits";
    EXPECT_EQ(p.TM[19], 8);

    widths[0] = "200";
    EXPECT_TRUE(ApplyIPWindows(p, "240", widths));
    EXPECT_EQ(p.TM[0], 20);
    EXPECT_EQ(p.TM[18], 8);
    EXPECT_EQ(p.TM[19], 0) << "24 + 8 + 20 + 19 * 8 = 204 ends after the pulse";

    widths.fill("x");
    EXPECT_FALSE(ApplyIPWindows(p, "abc", widths));
    EXPECT_EQ(p.MDly, 12) << "an invalid delay reads as 120 ms";
    EXPECT_EQ(p.TM[0], 0);
}

TEST(ParameterRules, vabMaximumAndLevelCodes)
{
    TStartParameters p;
    const struct {
        const char *text;
        int stored;
        bool beep;
    } cases[] = {{"805", 80, true}, {"15", 1, false}, {"799", 79, false}, {"0", 80, true}, {"abc", 80, true}};
    for (const auto &c : cases) {
        const TEditOutcome o = ParameterRules::VabMaximum(p, c.text);
        EXPECT_EQ(p.VabMax(), c.stored) << c.text;
        EXPECT_EQ(o.Beep, c.beep) << c.text;
    }
    ParameterRules::SelectVab(p);
    EXPECT_EQ(p.VpCode(), 0);
    EXPECT_EQ(p.VabCode(), 1);
    ParameterRules::SetVabItem(p, 8);
    EXPECT_EQ(p.VabCode(), 9);
    ParameterRules::SelectVp(p);
    EXPECT_EQ(p.VpCode(), 1);
    EXPECT_EQ(p.VabCode(), 0);
    ParameterRules::SetVpItem(p, 4);
    ParameterRules::SelectVp(p);
    EXPECT_EQ(p.VpCode(), 5) << "a chosen Vp level is kept";
}

TEST(ParameterRules, channelTriggerAndStacks)
{
    TStartParameters p;
    QString trigger;
    TEditOutcome o = ParameterRules::StdChannel(p, "4", 6, trigger);
    EXPECT_EQ(p.Channel, 4);
    EXPECT_EQ(p.ChannelSynchro, 3) << "trigger 6 does not fit 4 channels";
    EXPECT_EQ(trigger, "4");
    o = ParameterRules::StdChannel(p, "11", 2, trigger);
    EXPECT_TRUE(o.Beep);
    EXPECT_EQ(p.Channel, 10);
    EXPECT_EQ(o.Text, "10");

    p.Channel = 5;
    o = ParameterRules::Trigger(p, "6");
    EXPECT_TRUE(o.Beep);
    EXPECT_EQ(p.ChannelSynchro, 0);
    o = ParameterRules::Trigger(p, "5");
    EXPECT_FALSE(o.Beep);
    EXPECT_EQ(p.ChannelSynchro, 4);

    bool raised = false;
    p.CrenMax = 16;
    o = ParameterRules::StackMin(p, "20", raised);
    EXPECT_TRUE(raised);
    EXPECT_TRUE(o.Beep);
    EXPECT_EQ(p.CrenMax, 20);
    o = ParameterRules::StackMin(p, "0", raised);
    EXPECT_EQ(p.CrenMin, 4);
    o = ParameterRules::StackMax(p, "3");
    EXPECT_TRUE(o.Beep);
    EXPECT_EQ(p.CrenMax, 4);
    o = ParameterRules::StackMax(p, "999");
    EXPECT_FALSE(o.Beep);
    EXPECT_EQ(p.CrenMax, 999);

    EXPECT_EQ(ParameterRules::QMax(p, "100").Value, 0);
    EXPECT_EQ(p.CrenEt, 0.0f);
    ParameterRules::QMax(p, "5");
    EXPECT_EQ(p.CrenEt, 5.0f);
    // A value with decimals, as a configuration holds it, survives the field.
    for (const char *text : {"1.5", "1,5", " 1.5 "}) {
        const TEditOutcome q = ParameterRules::QMax(p, text);
        EXPECT_FALSE(q.Beep) << text;
        EXPECT_EQ(p.CrenEt, 1.5f) << text;
        EXPECT_EQ(q.Text, "1.5") << text;
    }
    EXPECT_TRUE(ParameterRules::QMax(p, "abc").Beep);
    EXPECT_EQ(p.CrenEt, 0.0f);
}

TEST(ParameterRules, highSpeedEdits)
{
    std::uint16_t time = 25;
    EXPECT_EQ(ParameterRules::SpeedTime(time, "99999").Text, "8000");
    EXPECT_EQ(ParameterRules::SpeedTime(time, "20").Text, "150");
    EXPECT_EQ(ParameterRules::SpeedTime(time, "oops").Text, "150") << "invalid text keeps the value";
    EXPECT_EQ(ParameterRules::SpeedTime(time, "255").Text, "250");
    float volts = 0;
    EXPECT_TRUE(ParameterRules::SpeedTxVoltage(volts, "x", QLocale::c()).Beep);
    EXPECT_EQ(volts, 12.0f);
    ParameterRules::SpeedTxVoltage(volts, "48,5", QLocale(QLocale::French));
    EXPECT_EQ(volts, 48.5f);
    for (const char *absurd : {"1e30", "-5", "801", "inf"}) {
        const TEditOutcome o = ParameterRules::SpeedTxVoltage(volts, absurd, QLocale::c());
        EXPECT_TRUE(o.Beep) << absurd;
        EXPECT_EQ(volts, 12.0f) << absurd;
        EXPECT_EQ(o.Value, 12) << absurd;
    }
    std::int32_t channels = 0;
    EXPECT_TRUE(ParameterRules::SpeedChannel(channels, "0").Beep);
    EXPECT_EQ(channels, 10);
}

TEST(Position, displayAndEntry)
{
    EXPECT_EQ(Position::Text(4523.456f, true), "045:23.456 N");
    EXPECT_EQ(Position::Text(-0.5f, true), "000:00.500 S");
    EXPECT_EQ(Position::Text(-1234.567f, false), "012:34.567 W");
    // The window runs in the user's language: a decimal comma there changes nothing.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        EXPECT_EQ(Position::Text(4523.456f, true), "045:23.456 N");
        std::setlocale(LC_NUMERIC, "C");
    }
    float v = 1.0f;
    ASSERT_TRUE(Position::Parse("012:34.567 W", false, v));
    EXPECT_FLOAT_EQ(v, -1234.567f);
    ASSERT_TRUE(Position::Parse("012:34.567 e", false, v));
    EXPECT_LT(v, 0.0f) << "only a capital E is east";
    ASSERT_TRUE(Position::Parse("045:23.456 N", true, v));
    EXPECT_FLOAT_EQ(v, 4523.456f);
    v = 7.0f;
    EXPECT_FALSE(Position::Parse("0x5:23.456 N", true, v));
    EXPECT_FALSE(Position::Parse("___:__.___ N", true, v));
    EXPECT_EQ(v, 7.0f) << "a bad part keeps the old value";
}
