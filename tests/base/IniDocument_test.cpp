#include "base/IniDocument.h"

#include <gtest/gtest.h>

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
