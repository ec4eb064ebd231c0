#include "base/TextCodec.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

TEST(TextCodec, readsUtf8OnlyWhenValidAndNonAscii)
{
    struct Case {
        QByteArray bytes;
        QString text;
    };
    const Case cases[] = {
        {QByteArray("plain ASCII"), QStringLiteral("plain ASCII")},
        {QByteArray("\xc3\xa9t\xc3\xa9"), QString::fromUtf8("été")},   // UTF-8
        {QByteArray("\xe9t\xe9"), QString::fromUtf8("été")},           // Windows-1252
        {QByteArray("\x80 \xc3"), QString::fromUtf8("€ Ã")},            // broken UTF-8
        {QByteArray("\xc0\xaf"), QString::fromUtf8("À¯")},              // overlong: not UTF-8
        {QByteArray("\xed\xa0\x80"), QString::fromUtf8("í\u00a0€")},    // surrogate: not UTF-8
        {QByteArray("\xEF\xBB\xBF# A"), QStringLiteral("# A")},           // UTF-8 mark dropped
        {QByteArray("\xFF\xFE#\0 \0A\0\xe9\0", 10), QString::fromUtf8("# Aé")}, // UTF-16LE
        {QByteArray("\xFE\xFF\0#\0 \0A\0\xe9", 10), QString::fromUtf8("# Aé")}, // UTF-16BE
        {QByteArray("\xFF\xFE#\0A", 5), QString::fromUtf8("#\uFFFD")},         // torn UTF-16
    };
    for (const Case &c : cases)
        EXPECT_EQ(DecodeText(c.bytes), c.text) << c.bytes.toHex().constData();
}

TEST(TextCodec, inputFilesThatAreNotRegularOrTooLargeAreRefusedWithoutReading)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString big = dir.filePath("big.txt");
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(101, 'x'));
    }
    struct Case {
        QString Path;
        const char *Why;
    } const cases[] = {
        {fifo, "not a regular file"}, // would block for ever in a plain open
        {dir.path(), "folder"},
        {"/dev/zero", "not a regular file"},
        {big, "larger than"},
        {dir.filePath("none"), "No such file"},
    };
    for (const Case &c : cases) {
        QByteArray bytes = "old";
        QString why;
        EXPECT_FALSE(ReadInputFile(c.Path, 100, bytes, why)) << c.Path.toStdString();
        EXPECT_TRUE(why.contains(QLatin1String(c.Why))) << why.toStdString();
    }
    QByteArray bytes;
    QString why;
    EXPECT_TRUE(ReadInputFile(big, 101, bytes, why));
    EXPECT_EQ(bytes, QByteArray(101, 'x'));
}

TEST(TextCodec, writesWindows1252WhenEverythingFitsElseUtf8AndReadsBackIdentically)
{
    struct Case {
        QString text;
        QByteArray bytes;
    };
    const Case cases[] = {
        {QString::fromUtf8("C:\\data\\été.txt"), QByteArray("C:\\data\\\xe9t\xe9.txt")},
        {QString::fromUtf8("/home/x/łódź/a.bin"), QString::fromUtf8("/home/x/łódź/a.bin").toUtf8()},
        {QString::fromUtf8("Профиль"), QString::fromUtf8("Профиль").toUtf8()},
        // Windows-1252 bytes that would look like UTF-8 ("Ã©") are written in UTF-8.
        {QString::fromUtf8("Ã©"), QString::fromUtf8("Ã©").toUtf8()},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(EncodeText(c.text), c.bytes);
        EXPECT_EQ(DecodeText(EncodeText(c.text)), c.text);
    }
}

TEST(TextCodec, fileNumbersIgnoreTheLocale)
{
    struct Case {
        const char *text;
        bool ok;
        double value;
    };
    const Case reals[] = {
        {"1.5", true, 1.5}, {"1,5", true, 1.5}, {" -4,523 ", true, -4.523}, {"1e3", true, 1000.0},
        {"1.234,5", false, 0}, {"1 500", false, 0}, {"12V", false, 0}, {"", false, 0},
        {"nan", false, 0}, {"inf", false, 0}, {"1e999", false, 0},
    };
    for (const Case &c : reals) {
        bool ok = true;
        const double v = ParseFileReal(QString::fromUtf8(c.text), &ok);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        }
    }
    bool ok = false;
    EXPECT_EQ(ParseFileInteger(u" -42 ", &ok), -42);
    EXPECT_TRUE(ok);
    ParseFileInteger(u"4.2", &ok);
    EXPECT_FALSE(ok);
    ParseFileInteger(u"1,000", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(FormatFileReal(1234567.25), QStringLiteral("1234567.25"));
    EXPECT_EQ(FormatFileReal(-0.001), QStringLiteral("-0.001"));
}
