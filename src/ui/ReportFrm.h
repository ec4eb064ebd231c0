#pragma once
#include <functional>
#include <memory>
// "Report": a small modal viewer of a text or RTF file (the survey files'
// "View" buttons). The text may be edited, re-formatted, saved as text or
// RTF and printed; the viewed file is only written when saved over.
#include <QDialog>

class QFileDialog;
class QFont;
class QPrinter;
class QTextEdit;
class QTextDocument;
class QToolBar;
class QToolButton;

class TReportFrm : public QDialog {
    Q_OBJECT
public:
    // pattern: the caller's file pattern, first in the save dialog ("*.Txt").
    TReportFrm(QWidget *owner, const QString &pattern, const QString &path);

    // Shows the window modally on path; a file that cannot be read shows the
    // system's message and no window. False then.
    // onSaveError also hears of a save that failed (for the event log).
    static bool Execute(QWidget *owner, const QString &pattern, const QString &path,
                        std::function<void(const QString &)> onSaveError = {});
    std::function<void(const QString &)> OnSaveError;

    bool Loaded() const { return LoadError.isEmpty(); }
    QString LoadErrorText() const { return LoadError; }

    void BitBtn1Click();
    void SaveBtnClick();
    void SaveDialog1TypeChange(const QString &filter);
    void PrintBtnClick();
    void FontBtnClick();
    void ToolButton3Click();

    // Writes the whole view to path, RTF when its extension is .rtf (any case),
    // else plain text. False with the system's message shown on failure.
    bool SaveTo(const QString &path);
    static bool IsRtfName(const QString &path);
    // Prints the view with the current date and time as the job title.
    void PrintTo(QPrinter &printer);
    // What is printed: the view's text at its size in points, lines wrapped.
    std::unique_ptr<QTextDocument> PrintDocument() const;
    // The font the font dialog starts from.
    QFont SelectionFont() const;
    // To the selection, or to the insertion point when nothing is selected.
    void ApplyFont(const QFont &font);

    QTextEdit *ReportMemo = nullptr;
    QFileDialog *SaveDialog1 = nullptr;

private:
    QToolBar *ToolBar1 = nullptr;
    QString LoadError;
    QString LineEnd = QStringLiteral("\n");
    bool Load(const QString &path);
};
