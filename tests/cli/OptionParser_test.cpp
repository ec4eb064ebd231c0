// The one command-line reader of tarnelpro-cli: what it takes, what it
// refuses, and the message it gives.
#include "cli/OptionParser.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// What a parse found, in one line: "name=value" or "name" for a flag, in
// name order, then the positional arguments in brackets.
QString Found(const TOptionParser &p)
{
    QStringList parts;
    for (const char *name : {"--config", "--once", "--timeout", "--yes", "-o"}) {
        const bool flag = QLatin1String(name) == "--once" || QLatin1String(name) == "--yes";
        if (p.Has(name))
            parts << (flag ? QString::fromLatin1(name) : QStringLiteral("%1=%2").arg(name, p.Value(name)));
    }
    if (!p.Positionals().isEmpty())
        parts << QLatin1Char('[') + p.Positionals().join(QLatin1Char(',')) + QLatin1Char(']');
    return parts.join(QLatin1Char(' '));
}

TEST(OptionParser, takesOptionsFlagsAndPositionalsAndRefusesTheRest)
{
    const struct {
        QStringList Args;
        qsizetype Positionals;
        const char *Found; // when it parses
        const char *Error; // when it does not
    } cases[] = {
        {{}, 1, "", nullptr},
        {{"--config", "a.ini", "--yes", "f.bin"}, 1, "--config=a.ini --yes [f.bin]", nullptr},
        // Positionals stand anywhere; a value may be "-" or a negative number.
        {{"f.bin", "-o", "-", "--timeout", "-5"}, 1, "--timeout=-5 -o=- [f.bin]", nullptr},
        {{"a", "--once", "b", "c"}, TOptionParser::AnyCount, "--once [a,b,c]", nullptr},
        {{"--config", ""}, 0, "--config=", nullptr},
        {{"--bogus"}, 1, nullptr, "unexpected argument \"--bogus\""},
        {{"-"}, 1, nullptr, "unexpected argument \"-\""},
        {{"--config=a.ini"}, 1, nullptr, "unexpected argument \"--config=a.ini\""},
        {{"a", "b"}, 1, nullptr, "unexpected argument \"b\""},
        {{"a"}, 0, nullptr, "unexpected argument \"a\""},
        {{"--config"}, 1, nullptr, "--config needs a value"},
        // A forgotten value, not a configuration named "--yes".
        {{"--config", "--yes"}, 1, nullptr, "--config needs a value"},
        {{"--config", "a", "--config", "b"}, 1, nullptr, "repeated option \"--config\""},
        {{"--yes", "f", "--yes"}, 1, nullptr, "repeated option \"--yes\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Args.join(' ').toStdString());
        TOptionParser p("test", "usage: tarnelpro-cli test\n");
        const bool ok = p.Parse(c.Args, {"--config", "-o", "--timeout"}, {"--yes", "--once"}, c.Positionals);
        EXPECT_EQ(ok, c.Error == nullptr);
        if (ok)
            EXPECT_EQ(Found(p).toStdString(), c.Found);
        else
            EXPECT_EQ(p.Error().toStdString(), c.Error);
    }
}

TEST(OptionParser, aSecondParseForgetsTheFirst)
{
    TOptionParser p("test", "usage\n");
    ASSERT_TRUE(p.Parse({"--config", "a", "--yes", "f"}, {"--config"}, {"--yes"}, 1));
    ASSERT_TRUE(p.Parse({"--config", "b"}, {"--config"}, {"--yes"}, 1));
    EXPECT_EQ(Found(p), "--config=b");
}

TEST(OptionParser, numbersInTheirRangeOrTheOptionsMessage)
{
    const struct {
        const char *Text;
        bool Real;
        double Expected; // NaN: refused
    } cases[] = {
        {"1", false, 1},         {"86400", false, 86400}, {"0", false, NAN},   {"86401", false, NAN},
        {"abc", false, NAN},     {"1.5", false, NAN},     {"", false, NAN},    {"+7", false, 7},
        {"0.5", true, 0.5},      {"1,5", true, 1.5},      {"0", true, NAN},    {"-3", true, NAN},
        {"inf", true, NAN},      {"nan", true, NAN},      {"2e3", true, 2000}, {"1e6", true, NAN},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Text);
        TOptionParser p("test", "usage\n");
        ASSERT_TRUE(p.Parse({"--n", c.Text}, {"--n"}));
        double value = -1;
        bool ok;
        if (c.Real) {
            ok = p.Real("--n", value, 0, 1e5, "a real above 0", true);
        } else {
            int whole = -1;
            ok = p.Int("--n", whole, 1, 86400, "whole seconds from 1 to 86400");
            value = whole;
        }
        EXPECT_EQ(ok, !std::isnan(c.Expected));
        if (ok) {
            EXPECT_EQ(value, c.Expected);
        } else {
            EXPECT_EQ(value, -1) << "left as it was";
            EXPECT_EQ(p.Error().toStdString(), QStringLiteral("--n wants %1, not \"%2\"")
                                                   .arg(c.Real ? "a real above 0" : "whole seconds from 1 to 86400", c.Text)
                                                   .toStdString());
        }
    }
    // An absent option keeps the default.
    TOptionParser p("test", "usage\n");
    ASSERT_TRUE(p.Parse({}, {"--n"}));
    qint64 limit = 1000;
    EXPECT_TRUE(p.Int("--n", limit, 0, 10, "a whole number"));
    EXPECT_EQ(limit, 1000);
}

TEST(OptionParser, aUsageErrorNamesTheCommandThenGivesItsUsage)
{
    TOptionParser p("frob", "usage: tarnelpro-cli frob FILE");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(p.Parse({"--bogus"}, {}));
    EXPECT_EQ(p.UsageError("unknown thing", "x"), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tarnelpro-cli frob: unexpected argument \"--bogus\"\nusage: tarnelpro-cli frob FILE\n"
              "tarnelpro-cli frob: unknown thing 'x'\nusage: tarnelpro-cli frob FILE\n");
}

} // namespace
