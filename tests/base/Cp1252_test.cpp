#include "base/Cp1252.h"

#include <gtest/gtest.h>

TEST(Cp1252, mapsTheWindowsRangeBothWays)
{
    const QByteArray bytes("\x80\x8A\x93\x94\xE9\xB0 A", 8);
    const QString text = FromCp1252(bytes);
    EXPECT_EQ(text, QString::fromUtf8("€Š“”é° A"));
    EXPECT_EQ(ToCp1252(text), bytes);
}

TEST(Cp1252, undefinedBytesSurviveARoundTripAndForeignCharactersBecomeQuestionMarks)
{
    const QByteArray undefined("\x81\x8D\x8F\x90\x9D", 5);
    EXPECT_EQ(ToCp1252(FromCp1252(undefined)), undefined);
    EXPECT_EQ(ToCp1252(QString::fromUtf8("Ω→x")), QByteArray("??x"));
}

TEST(Cp1252, escapedEncodingWritesForeignCharactersAsTheirCodePoint)
{
    EXPECT_EQ(ToCp1252Escaped(QString::fromUtf8("é€ łx 😀")), QByteArray("\xE9\x80 \\u{142}x \\u{1F600}"));
}
