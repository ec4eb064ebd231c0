#include "base/IniDocument.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

TEST(IniDocument, valuesNeedingQuotesReadBackAsWritten)
{
    TIniDocument doc;
    const QString values[] = {"plain", " blanks at both ends ", "\"quoted\"", "'single'", "\"half", "a;b # c",
                              "C:\\data\\x.txt", ""};
    for (const QString &v : values) {
        doc.SetValue("S", "K", v);
        EXPECT_EQ(TIniDocument::FromText(doc.Text()).Value("s", "k"), v) << v.toStdString();
    }
    doc.SetValue("S", "K", "two\r\nlines");
    EXPECT_EQ(doc.Value("S", "K"), "two lines") << "a value is one line";
}

TEST(IniDocument, newKeysGoAfterTheSectionsLastKeyAndNewSectionsAtTheEnd)
{
    TIniDocument doc = TIniDocument::FromText("[A]\nx=1\n\n; about B\n[B]\ny=2\n; closing\n\n[a]\nx=3");
    EXPECT_EQ(doc.Value("a", "X"), "1") << "the first of duplicate keys";
    EXPECT_EQ(doc.Keys("B"), QStringList{"y"});
    EXPECT_FALSE(doc.Value("C", "z"));
    doc.SetValue("A", "new", "n");
    doc = TIniDocument::FromText(doc.Text() + "\nonly_later=0");
    EXPECT_EQ(doc.Value("A", "only_later"), "0") << "a section written twice reads as one";
    doc.SetValue("b", "Y", "5");
    doc.SetValue("A", "only_later", "7");
    doc.SetValue("C", "z", "9");
    EXPECT_EQ(doc.Text().toStdString(), "[A]\nx=1\nnew=n\n\n; about B\n[B]\ny=5\n; closing\n\n[a]\nx=3\nonly_later=7\n\n[C]\nz=9\n")
        << "new lines end as the file's lines do";
}

TEST(IniDocument, commentsSectionLinesAndBlankKeysAreNotKeys)
{
    const TIniDocument doc = TIniDocument::FromText(
        QString::fromUtf8("\xEF\xBB\xBF[S]\r\n;k=1\r\n#k=2\r\n=3\r\n  k  =  \"4\"  \r\nk=5\r\n[T] trailing\r\nk=6"));
    EXPECT_EQ(doc.Value("S", "k"), "4");
    EXPECT_EQ(doc.Value("T", "k"), "6");
    EXPECT_EQ(doc.Keys("S"), QStringList{"k"});
    EXPECT_FALSE(doc.Text().startsWith(QChar(0xFEFF))) << "no byte-order mark written back";
}

static QByteArray Utf16(const char *utf8, bool little = true)
{
    QByteArray bytes = little ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
    for (QChar c : QString::fromUtf8(utf8)) {
        const char lo = char(c.unicode() & 0xFF), hi = char(c.unicode() >> 8);
        bytes.append(little ? lo : hi).append(little ? hi : lo);
    }
    return bytes;
}

TEST(IniDocument, aFileIsSavedInTheEncodingItWasReadIn)
{
    QTemporaryDir dir;
    const struct {
        QByteArray Before;
        QString Comment;
        QByteArray After;
    } cases[] = {
        // UTF-8 stays UTF-8 though Windows-1252 could hold every character.
        {"[Name]\r\nComment=\xc3\xa9t\xc3\xa9\r\n", QString::fromUtf8("hiver"), "[Name]\r\nComment=hiver\r\nX=\xc3\xa9t\xc3\xa9\r\n"},
        {"[Name]\r\nComment=\xe9t\xe9\r\n", QString::fromUtf8("hiver"), "[Name]\r\nComment=hiver\r\nX=\xe9t\xe9\r\n"},
        // A byte order mark (a file saved by a Windows editor) stays in front.
        {"\xEF\xBB\xBF[Name]\r\nComment=a\r\n", QString::fromUtf8("hiver"),
         "\xEF\xBB\xBF[Name]\r\nComment=hiver\r\nX=\xc3\xa9t\xc3\xa9\r\n"},
        // Plain ASCII takes Windows-1252 until a character does not fit.
        {"[Name]\r\nComment=a\r\n", QString::fromUtf8("été"), "[Name]\r\nComment=\xe9t\xe9\r\nX=\xe9t\xe9\r\n"},
        {"[Name]\r\nComment=a\r\n", QString::fromUtf8("łódź"),
         "[Name]\r\nComment=\xc5\x82\xc3\xb3\x64\xc5\xba\r\nX=\xc3\xa9t\xc3\xa9\r\n"},
        // UTF-16 with its byte order mark (a Windows shell redirection), either byte order.
        {Utf16("[Name]\r\nComment=a\r\n"), QString::fromUtf8("łódź"),
         Utf16("[Name]\r\nComment=łódź\r\nX=été\r\n")},
        {Utf16("[Name]\r\nComment=a\r\n", false), QString::fromUtf8("hiver"),
         Utf16("[Name]\r\nComment=hiver\r\nX=été\r\n", false)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Before.toStdString());
        const QString path = dir.filePath("Setup.ini");
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.Before);
        }
        TIniDocument doc;
        ASSERT_TRUE(doc.Load(path));
        doc.SetValue("Name", "Comment", c.Comment);
        doc.SetValue("Name", "X", QString::fromUtf8("été"));
        ASSERT_EQ(doc.Save(path), QString());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), c.After);
    }
}
