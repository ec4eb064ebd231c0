#include "base/Rtf.h"

#include <gtest/gtest.h>

namespace {
TRtfRun MakeRun(const QString &text, const QString &family, double size, bool bold = false, bool italic = false,
            bool underline = false)
{
    TRtfRun r;
    r.Text = text;
    r.Family = family;
    r.PointSize = size;
    r.Bold = bold;
    r.Italic = italic;
    r.Underline = underline;
    return r;
}

void ExpectSameRuns(const TRtfText &got, const TRtfText &want)
{
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].Text, want[i].Text) << i;
        EXPECT_TRUE(got[i].SameFormat(want[i]))
            << i << ": " << got[i].Family.toStdString() << " " << got[i].PointSize << " " << got[i].Bold
            << got[i].Italic << got[i].Underline;
    }
}
} // namespace

TEST(Rtf, whatWeWriteReadsBackWithItsFontsAndText)
{
    const TRtfText runs = {
        MakeRun(QStringLiteral("Électrode {A} \\ B\tété\n"), QStringLiteral("Courier New"), 10),
        MakeRun(QStringLiteral("bold Arial"), QStringLiteral("Arial"), 13, true),
        MakeRun(QStringLiteral(" italic underlined €\n"), QStringLiteral("Arial"), 9.5, false, true, true),
        MakeRun(QStringLiteral("Ω beyond the code page; ☃"), QStringLiteral("DejaVu Sans"), 12),
    };
    const QByteArray rtf = WriteRtf(runs);
    EXPECT_TRUE(LooksLikeRtf(rtf));
    for (char c : rtf)
        EXPECT_LT(static_cast<unsigned char>(c), 0x80) << "RTF is 7-bit";
    ExpectSameRuns(ReadRtf(rtf), runs);
}

TEST(Rtf, foreignDocumentsShowTheirTextWithoutControlWords)
{
    const struct {
        const char *rtf;
        const char *text;
    } cases[] = {
        {R"({\rtf1\ansi\deff0{\fonttbl{\f0\fswiss\fcharset0 Arial;}{\f1 Times;}}{\colortbl;\red255\green0\blue0;})"
         R"({\*\generator Writer 1.0;}{\info{\title Secret}{\author Someone}}\pard\plain\f0\fs20 Caf\'e9 \cf1 red\par )"
         R"(second\tab line\line third}
)",
         "Café red\nsecond\tline\nthird"},
        {R"({\rtf1 {\stylesheet{\s0 Normal;}}x\u8364?y\uc2\u937 ab z})", "x€yΩ z"},
        {R"({\rtf1 a{\*\unknowndest hidden {nested}}b{\pict\pngblip 89504e47}c\~d\emdash e})", "ab" "c\u00a0d\u2014e"},
        {R"({\rtf1 braces \{ \} and \\ backslash\bin3 {}\ stay})", "braces { } and \\ backslash stay"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(PlainText(ReadRtf(c.rtf)), QString::fromUtf8(c.text)) << c.rtf;

    const TRtfText runs = ReadRtf(cases[0].rtf);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.front().Family, "Arial");
    EXPECT_EQ(runs.front().PointSize, 10.0);
}

TEST(Rtf, brokenInputEndsQuietly)
{
    const QByteArray cases[] = {
        "{\\rtf1 unclosed {group",
        "}}}{\\rtf1 extra closers}}}}",
        "{\\rtf1 cut in \\'",
        "{\\rtf1 cut in \\'4",
        "{\\rtf1 \\u-99999999999999999999 \\fs-5 \\fs999999999999 x\\",
        "{\\rtf1 \\bin99999999 x}",
        QByteArray(100000, '{') + "deep" + QByteArray(100000, '}'),
    };
    for (const QByteArray &c : cases)
        EXPECT_NO_THROW(ReadRtf(c)) << c.left(40).toStdString();
    EXPECT_EQ(PlainText(ReadRtf(cases[6])), "deep");
}

TEST(Rtf, recognisesRtfByItsOpening)
{
    EXPECT_TRUE(LooksLikeRtf("{\\rtf1\\ansi x}"));
    EXPECT_TRUE(LooksLikeRtf("\r\n  {\\rtf1}"));
    EXPECT_FALSE(LooksLikeRtf("1 2 3 4\r\n{\\rtf1}"));
    EXPECT_FALSE(LooksLikeRtf(""));
}
