#include "instrument/StartParameters.h"

#include <gtest/gtest.h>

TEST(StartParameters, defaultConfigDecodesAsTheConfigurationPageShowsIt)
{
    TStartParameters p;
    EXPECT_EQ(p.ConfigValue(), 328225u);
    EXPECT_EQ(p.VpCode(), 1);
    EXPECT_EQ(p.VabCode(), 0);
    EXPECT_TRUE(p.RhoOnly());
    EXPECT_EQ(p.TimeIndex(), 2);
    EXPECT_EQ(p.IPMode(), 0);
    EXPECT_EQ(p.VabMax(), 0);
}

TEST(StartParameters, fieldSettersKeepTheOtherBits)
{
    TStartParameters p;
    p.SetConfigValue(0x80FFFFFFu);
    p.SetVpCode(0);
    EXPECT_EQ(p.Config[0], 0x1F);
    p.SetIPMode(4);
    p.SetTimeIndex(5);
    EXPECT_EQ(p.Config[1], 0xC0 | (4 << 3) | 5);
    p.SetRhoOnly(false);
    p.SetVabCode(9);
    EXPECT_EQ(p.Config[2], 0x9C);
    p.SetVabMax(80);
    EXPECT_EQ(p.Config[3], 0x80 | 80) << "the restart bit is not a control's";
}
