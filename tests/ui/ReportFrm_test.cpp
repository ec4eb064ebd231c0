#include "ui/ReportFrm.h"

#include "base/Rtf.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryDir>
#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

namespace {
QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct TReportFixture : ::testing::Test {
    QTemporaryDir Tmp;
    QString Viewed;
    const QByteArray Original = "1 2 3 4\r\n2 3 4 5\r\n";
    void SetUp() override
    {
        Viewed = Tmp.path() + "/Quadripoles.txt";
        QFile f(Viewed);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Original);
    }
};
} // namespace

TEST_F(TReportFixture, savesTextOrRtfByTheChosenName)
{
    TReportFrm frm(nullptr, "*.Txt", Viewed);
    ASSERT_TRUE(frm.Loaded());
    EXPECT_EQ(frm.windowTitle(), "Report");
    EXPECT_EQ(frm.ReportMemo->lineWrapMode(), QTextEdit::NoWrap);
    const struct {
        const char *name;
        bool rtf;
    } cases[] = {{"copy.txt", false}, {"copy.rtf", true}, {"COPY.RTF", true}, {"artfile.txt", false}, {"notes", false}};
    for (const auto &c : cases) {
        const QString path = Tmp.path() + "/" + c.name;
        ASSERT_TRUE(frm.SaveTo(path)) << c.name;
        const QByteArray bytes = Read(path);
        if (c.rtf) {
            EXPECT_TRUE(bytes.startsWith("{\\rtf1")) << c.name;
            EXPECT_EQ(PlainText(ReadRtf(bytes)), "1 2 3 4\n2 3 4 5\n") << c.name;
        } else {
            EXPECT_EQ(bytes, Original) << c.name << ": the text with the file's own line ends";
        }
    }
    bool told = false;
    QTimer::singleShot(0, [&] {
        if (QWidget *box = QApplication::activeModalWidget()) {
            told = true;
            box->close();
        }
    });
    EXPECT_FALSE(frm.SaveTo(Tmp.path() + "/no such folder/x.txt"));
    EXPECT_TRUE(told) << "a file that cannot be written is reported";
}

TEST_F(TReportFixture, editsReachTheViewedFileOnlyWhenSavedOverIt)
{
    {
        TReportFrm frm(nullptr, "*.Txt", Viewed);
        frm.ReportMemo->moveCursor(QTextCursor::End);
        frm.ReportMemo->insertPlainText("9 9 9 9");
        frm.BitBtn1Click();
    }
    EXPECT_EQ(Read(Viewed), Original);

    TReportFrm frm(nullptr, "*.Txt", Viewed);
    frm.ReportMemo->moveCursor(QTextCursor::End);
    frm.ReportMemo->insertPlainText("9 9 9 9");
    ASSERT_TRUE(frm.SaveTo(Viewed));
    EXPECT_EQ(Read(Viewed), Original + "9 9 9 9");
}

TEST_F(TReportFixture, saveDialogListsTheCallersPatternFirstAndItsExtensionFollowsTheFilter)
{
    TReportFrm frm(nullptr, "*.Txt", Viewed);
    const QStringList filters = frm.SaveDialog1->nameFilters();
    ASSERT_EQ(filters.size(), 4);
    EXPECT_TRUE(filters[0].startsWith("*.Txt ("));
    EXPECT_EQ(filters.mid(1), (QStringList{"Fichier RTF (*.RTF *.rtf)", "Fichier texte (*.TXT *.txt)", "Tous les fichiers (*.*)"}));
    EXPECT_EQ(frm.SaveDialog1->defaultSuffix(), "TXT");
    const struct {
        int filter;
        const char *suffix;
    } cases[] = {{1, "RTF"}, {0, "TXT"}, {1, "RTF"}, {3, "TXT"}, {2, "TXT"}};
    for (const auto &c : cases) {
        frm.SaveDialog1TypeChange(filters[c.filter]);
        EXPECT_EQ(frm.SaveDialog1->defaultSuffix(), c.suffix) << c.filter;
    }
}

TEST_F(TReportFixture, fontsAndFormattingSurviveAnRtfSaveAndReload)
{
    const QString rtf = Tmp.path() + "/copy.RTF";
    {
        TReportFrm frm(nullptr, "*.Txt", Viewed);
        frm.ReportMemo->moveCursor(QTextCursor::End);
        frm.ReportMemo->insertPlainText("é {x} \\");
        QTextCursor cursor = frm.ReportMemo->textCursor();
        cursor.setPosition(0);
        cursor.setPosition(7, QTextCursor::KeepAnchor); // the first line
        frm.ReportMemo->setTextCursor(cursor);
        QFont font(QStringLiteral("DejaVu Serif"));
        font.setPointSize(14);
        font.setBold(true);
        frm.ApplyFont(font);
        ASSERT_TRUE(frm.SaveTo(rtf));
    }
    TReportFrm back(nullptr, "*.Txt", rtf);
    ASSERT_TRUE(back.Loaded());
    EXPECT_EQ(back.ReportMemo->toPlainText(), "1 2 3 4\n2 3 4 5\né {x} \\");
    const QTextBlock first = back.ReportMemo->document()->begin();
    const QTextCharFormat applied = first.begin().fragment().charFormat();
    EXPECT_EQ(applied.fontFamilies().toStringList().value(0), "DejaVu Serif");
    EXPECT_EQ(applied.fontPointSize(), 14);
    EXPECT_EQ(applied.fontWeight(), QFont::Bold);
    const QTextCharFormat rest = first.next().begin().fragment().charFormat();
    EXPECT_NE(rest.fontWeight(), QFont::Bold) << "the font went to the selection only";
    EXPECT_NE(rest.fontFamilies().toStringList().value(0), "DejaVu Serif");
}

TEST_F(TReportFixture, anUnreadableFileGivesTheSystemsMessageAndNoWindow)
{
    TReportFrm frm(nullptr, "*.Txt", Tmp.path() + "/missing.txt");
    EXPECT_FALSE(frm.Loaded());
    EXPECT_EQ(frm.LoadErrorText(), "No such file or directory");

    QString shown;
    QTimer::singleShot(0, [&] {
        if (QWidget *box = QApplication::activeModalWidget()) {
            shown = box->findChild<QObject *>("qt_msgbox_label")->property("text").toString();
            box->close();
        }
    });
    EXPECT_FALSE(TReportFrm::Execute(nullptr, "*.Txt", Tmp.path() + "/missing.txt"));
    EXPECT_TRUE(shown.contains("No such file or directory")) << shown.toStdString();
}

TEST_F(TReportFixture, cancellingThePrintDialogPrintsNothingAndAPdfCanBeWritten)
{
    if (!QPrinterInfo::availablePrinterNames().isEmpty())
        GTEST_SKIP() << "a printer is installed: the dialog would not preset a PDF file";
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(Tmp.path());
    TReportFrm frm(nullptr, "*.Txt", Viewed);
    bool dialogSeen = false;
    QTimer::singleShot(0, [&] {
        if (auto *d = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget())) {
            dialogSeen = true;
            d->reject();
        }
    });
    frm.PrintBtnClick();
    EXPECT_TRUE(dialogSeen);
    EXPECT_FALSE(QFile::exists(Tmp.path() + "/Report.pdf"));

    QTimer::singleShot(0, [&] {
        if (auto *d = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget()))
            d->accept();
    });
    frm.PrintBtnClick();
    QDir::setCurrent(oldDir);
    EXPECT_TRUE(Read(Tmp.path() + "/Report.pdf").startsWith("%PDF"));

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(Tmp.path() + "/direct.pdf");
    frm.PrintTo(printer);
    EXPECT_FALSE(printer.docName().isEmpty()) << "the job is titled with the date and time";
    EXPECT_TRUE(Read(Tmp.path() + "/direct.pdf").startsWith("%PDF"));
}

TEST_F(TReportFixture, printsAtTheViewsSizeWithLongLinesWrapped)
{
    TReportFrm frm(nullptr, "*.Txt", Viewed);
    frm.ReportMemo->moveCursor(QTextCursor::End);
    frm.ReportMemo->insertPlainText(QString(300, QLatin1Char('x')) + " end");
    const auto doc = frm.PrintDocument();
    // The view's 13-pixel font is 9.75 points on paper, not 13 printer dots.
    EXPECT_DOUBLE_EQ(doc->defaultFont().pointSizeF(), 9.75);
    EXPECT_EQ(doc->defaultFont().pixelSize(), -1);
    // Laid out on a page's width, the long line takes several lines.
    doc->setPageSize(QSizeF(500, 700));
    doc->documentLayout();
    const QTextBlock last = doc->lastBlock();
    ASSERT_NE(last.layout(), nullptr);
    EXPECT_GT(last.layout()->lineCount(), 2);
    // The view itself still does not wrap.
    EXPECT_EQ(frm.ReportMemo->lineWrapMode(), QTextEdit::NoWrap);
}

TEST_F(TReportFixture, fontDialogStartsFromTheSelectionsFont)
{
    TReportFrm frm(nullptr, "*.Txt", Viewed);
    EXPECT_EQ(frm.SelectionFont().family(), "Courier New") << "the view's font where the text sets none";
    EXPECT_DOUBLE_EQ(frm.SelectionFont().pointSizeF(), 9.75);
    QTextCursor cursor = frm.ReportMemo->textCursor();
    cursor.setPosition(2);
    cursor.setPosition(5, QTextCursor::KeepAnchor);
    frm.ReportMemo->setTextCursor(cursor);
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setPointSize(14);
    frm.ApplyFont(font);
    cursor.setPosition(2);
    cursor.setPosition(3, QTextCursor::KeepAnchor);
    frm.ReportMemo->setTextCursor(cursor);
    EXPECT_EQ(frm.SelectionFont().family(), "DejaVu Serif");
    EXPECT_EQ(frm.SelectionFont().pointSize(), 14);
}

TEST_F(TReportFixture, anRtfFileOpensAtItsBeginning)
{
    TRtfText runs;
    for (int i = 0; i < 200; ++i)
        runs.push_back(TRtfRun{});
    for (int i = 0; i < 200; ++i)
        runs[std::size_t(i)].Text = QStringLiteral("line %1\n").arg(i);
    const QString rtf = Tmp.path() + "/long.rtf";
    QFile f(rtf);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(WriteRtf(runs));
    f.close();
    TReportFrm frm(nullptr, "*.Txt", rtf);
    ASSERT_TRUE(frm.Loaded());
    frm.show();
    QApplication::processEvents();
    EXPECT_EQ(frm.ReportMemo->textCursor().position(), 0);
    EXPECT_LE(frm.ReportMemo->verticalScrollBar()->value(), int(frm.ReportMemo->document()->documentMargin()));
}
