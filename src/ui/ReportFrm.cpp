#include "ui/ReportFrm.h"

#include "base/DateText.h"
#include "base/Rtf.h"
#include "base/TextCodec.h"
#include "ui/DesktopOpen.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include "base/SafeFile.h"
#include <QScreen>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
const QString RtfFilter = QStringLiteral("Fichier RTF (*.RTF *.rtf)");
const QString TextFilter = QStringLiteral("Fichier texte (*.TXT *.txt)");
const QString AllFilter = QStringLiteral("Tous les fichiers (*.*)");

QFont ReportFont()
{
    QFont f(QStringLiteral("Courier New"));
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPixelSize(13);
    return f;
}

void InsertRuns(QTextDocument *doc, const TRtfText &runs)
{
    doc->clear();
    QTextCursor cursor(doc);
    for (const TRtfRun &r : runs) {
        QTextCharFormat format;
        if (!r.Family.isEmpty())
            format.setFontFamilies({r.Family});
        if (r.PointSize > 0)
            format.setFontPointSize(r.PointSize);
        format.setFontWeight(r.Bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(r.Italic);
        format.setFontUnderline(r.Underline);
        const QStringList paragraphs = r.Text.split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < paragraphs.size(); ++i) {
            if (i > 0)
                cursor.insertBlock();
            if (!paragraphs[i].isEmpty())
                cursor.insertText(paragraphs[i], format);
        }
    }
}

TRtfRun RunOf(const QTextCharFormat &format, const QFont &base)
{
    const QFont f = format.font().resolve(base);
    TRtfRun run;
    run.Family = f.family();
    run.PointSize = f.pointSizeF() > 0 ? f.pointSizeF() : f.pixelSize() * 72.0 / 96.0;
    run.Bold = f.bold();
    run.Italic = f.italic();
    run.Underline = f.underline();
    return run;
}

TRtfText RunsOf(const QTextDocument *doc)
{
    TRtfText runs;
    const auto add = [&runs](TRtfRun run, const QString &text) {
        if (!runs.empty() && runs.back().SameFormat(run)) {
            runs.back().Text += text;
        } else {
            run.Text = text;
            runs.push_back(std::move(run));
        }
    };
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (block != doc->begin())
            add(RunOf(block.charFormat(), doc->defaultFont()), QStringLiteral("\n"));
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid())
                add(RunOf(fragment.charFormat(), doc->defaultFont()), fragment.text());
        }
    }
    return runs;
}
} // namespace

TReportFrm::TReportFrm(QWidget *owner, const QString &pattern, const QString &path) : QDialog(owner)
{
    setObjectName(QStringLiteral("ReportFrm"));
    setWindowTitle(QStringLiteral("Report"));
    resize(769, 457);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    const auto button = [this](const char *name, const QString &hint, QStyle::StandardPixmap icon) {
        auto *b = new QToolButton(ToolBar1);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(hint);
        b->setIcon(style()->standardIcon(icon));
        b->setText(hint);
        ToolBar1->addWidget(b);
        return b;
    };
    QToolButton *quit = button("FermerBtn", QStringLiteral("Quit"), QStyle::SP_DialogCloseButton);
    QToolButton *save = button("SaveBtn", QStringLiteral("File save"), QStyle::SP_DialogSaveButton);
    QToolButton *print = button("PrintBtn", QStringLiteral("Print"), QStyle::SP_FileDialogDetailedView);
    QToolButton *font = button("FontBtn", QStringLiteral("Font"), QStyle::SP_FileDialogContentsView);
    ToolBar1->addSeparator();
    QToolButton *help = button("ToolButton3", QStringLiteral("Help"), QStyle::SP_DialogHelpButton);
    font->setText(QStringLiteral("Font"));
    column->addWidget(ToolBar1);

    ReportMemo = new QTextEdit(this);
    ReportMemo->setObjectName(QStringLiteral("ReportMemo"));
    ReportMemo->setLineWrapMode(QTextEdit::NoWrap);
    ReportMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ReportMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ReportMemo->setStyleSheet(QStringLiteral("QTextEdit { background: white; color: black; }"));
    ReportMemo->document()->setDefaultFont(ReportFont());
    ReportMemo->setFont(ReportFont());
    column->addWidget(ReportMemo, 1);

    SaveDialog1 = new QFileDialog(this, QStringLiteral("Save"));
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setDefaultSuffix(QStringLiteral("TXT"));
    // The caller's pattern matches its files whatever the case of their names.
    const QString mask = QStringList{pattern, pattern.toLower(), pattern.toUpper()}.join(' ');
    SaveDialog1->setNameFilters({QStringLiteral("%1 (%2)").arg(pattern, mask), RtfFilter, TextFilter, AllFilter});

    connect(quit, &QToolButton::clicked, this, &TReportFrm::BitBtn1Click);
    connect(save, &QToolButton::clicked, this, &TReportFrm::SaveBtnClick);
    connect(print, &QToolButton::clicked, this, &TReportFrm::PrintBtnClick);
    connect(font, &QToolButton::clicked, this, &TReportFrm::FontBtnClick);
    connect(help, &QToolButton::clicked, this, &TReportFrm::ToolButton3Click);
    connect(SaveDialog1, &QFileDialog::filterSelected, this, &TReportFrm::SaveDialog1TypeChange);

    Load(path);
    if (owner) {
        const QRect area = owner->window()->geometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

bool TReportFrm::Load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        LoadError = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        LoadError = file.errorString();
        return false;
    }
    if (bytes.contains("\r\n"))
        LineEnd = QStringLiteral("\r\n");
    if (LooksLikeRtf(bytes))
        InsertRuns(ReportMemo->document(), ReadRtf(bytes));
    else
        ReportMemo->setPlainText(DecodeText(bytes));
    // A file opens at its beginning, however it was filled in.
    ReportMemo->moveCursor(QTextCursor::Start);
    ReportMemo->document()->setModified(false);
    return true;
}

bool TReportFrm::Execute(QWidget *owner, const QString &pattern, const QString &path,
                         std::function<void(const QString &)> onSaveError)
{
    TReportFrm frm(owner, pattern, path);
    frm.OnSaveError = std::move(onSaveError);
    if (!frm.Loaded()) {
        QMessageBox::critical(owner, QStringLiteral("Report"), QStringLiteral("%1\n%2").arg(path, frm.LoadErrorText()));
        return false;
    }
    frm.exec();
    return true;
}

void TReportFrm::BitBtn1Click() { reject(); }

void TReportFrm::SaveBtnClick()
{
    SaveDialog1->setDirectory(QDir::currentPath());
    if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty())
        return;
    SaveTo(SaveDialog1->selectedFiles().first());
}

void TReportFrm::SaveDialog1TypeChange(const QString &filter)
{
    SaveDialog1->setDefaultSuffix(filter == RtfFilter ? QStringLiteral("RTF") : QStringLiteral("TXT"));
}

bool TReportFrm::IsRtfName(const QString &path)
{
    return QFileInfo(path).suffix().compare(QStringLiteral("rtf"), Qt::CaseInsensitive) == 0;
}

bool TReportFrm::SaveTo(const QString &path)
{
    QByteArray bytes;
    if (IsRtfName(path)) {
        bytes = WriteRtf(RunsOf(ReportMemo->document()));
    } else {
        QString text = ReportMemo->toPlainText();
        if (LineEnd != QLatin1String("\n"))
            text.replace(QLatin1Char('\n'), LineEnd);
        bytes = EncodeText(text);
    }
    const QString error = TSafeFile::Write(path, bytes);
    if (!error.isEmpty()) {
        if (OnSaveError)
            OnSaveError(QStringLiteral("Report not saved: %1: %2").arg(path, error));
        QMessageBox::critical(this, QStringLiteral("Report"), QStringLiteral("%1\n%2").arg(path, error));
        return false;
    }
    return true;
}

void TReportFrm::PrintBtnClick()
{
    QPrinter printer(QPrinter::HighResolution);
    // Without a printer the dialog still offers a PDF file; preset its name.
    if (QPrinterInfo::availablePrinterNames().isEmpty())
        printer.setOutputFileName(QDir::current().absoluteFilePath(QStringLiteral("Report.pdf")));
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("PrintDialog1"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    PrintTo(printer);
}

namespace {
// Screen pixels are 1/96 inch: as points they keep their size on paper,
// where a printer's pixel is a dot of 1/600 inch or less.
constexpr double PointsPerScreenPixel = 72.0 / 96.0;

void PixelsToPoints(QTextFormat &format)
{
    if (!format.hasProperty(QTextFormat::FontPixelSize))
        return;
    const int pixels = format.intProperty(QTextFormat::FontPixelSize);
    format.clearProperty(QTextFormat::FontPixelSize);
    if (pixels > 0)
        format.setProperty(QTextFormat::FontPointSize, pixels * PointsPerScreenPixel);
}

QFont InPoints(QFont font)
{
    if (font.pointSizeF() <= 0 && font.pixelSize() > 0)
        font.setPointSizeF(font.pixelSize() * PointsPerScreenPixel);
    return font;
}
} // namespace

std::unique_ptr<QTextDocument> TReportFrm::PrintDocument() const
{
    std::unique_ptr<QTextDocument> doc(ReportMemo->document()->clone());
    doc->setDefaultFont(InPoints(doc->defaultFont()));
    QTextCursor cursor(doc.get());
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            if (!format.hasProperty(QTextFormat::FontPixelSize))
                continue;
            PixelsToPoints(format);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
    // The view does not wrap; paper has a margin: long lines go on below.
    QTextOption option = doc->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc->setDefaultTextOption(option);
    return doc;
}

void TReportFrm::PrintTo(QPrinter &printer)
{
    printer.setDocName(LocalDateTimeText(QDateTime::currentDateTime(), QLocale::system()));
    PrintDocument()->print(&printer);
}

QFont TReportFrm::SelectionFont() const
{
    // The font of the selection's first character (of the one before the
    // insertion point without a selection), with what the text leaves unset
    // taken from the view.
    QTextCursor cursor = ReportMemo->textCursor();
    if (cursor.hasSelection()) {
        const int start = cursor.selectionStart();
        cursor.setPosition(start);
        cursor.setPosition(start + 1, QTextCursor::KeepAnchor);
    }
    return InPoints(cursor.charFormat().font().resolve(ReportMemo->document()->defaultFont()));
}

void TReportFrm::FontBtnClick()
{
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, SelectionFont(), this, QStringLiteral("Font"));
    if (ok)
        ApplyFont(chosen);
}

void TReportFrm::ApplyFont(const QFont &font)
{
    QTextCharFormat format;
    format.setFont(font);
    ReportMemo->mergeCurrentCharFormat(format);
}

void TReportFrm::ToolButton3Click()
{
    const QString problem = OpenManual();
    if (!problem.isEmpty())
        QMessageBox::information(this, QStringLiteral("Report"), problem);
}
