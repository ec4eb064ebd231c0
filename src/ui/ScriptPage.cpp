#include "ui/ScriptPage.h"

#include "app/Shell.h"
#include "base/DateText.h"
#include "base/Folders.h"
#include "base/UserInterface.h"
#include "ui/DateHeureFrm.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
// Light yellow, as the Windows colour value 15532031 (blue, green, red bytes).
constexpr unsigned ScriptBackground = 15532031;

QString FileDialog(QWidget *parent, QFileDialog::AcceptMode mode, const QString &title, const QString &filter,
                   const QString &suffix, const QString &start)
{
    QFileDialog dialog(parent, title, start, filter);
    dialog.setAcceptMode(mode);
    dialog.setDefaultSuffix(suffix);
    if (mode == QFileDialog::AcceptOpen)
        dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}
} // namespace

TScriptPage::TScriptPage(TShell &shell, TUserInterface &ui, QWidget *parent) : QWidget(parent), Shell(shell), Ui(ui)
{
    setObjectName(QStringLiteral("ScriptPanel"));
    auto *l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextOnly);
    AddButton("NewScriptBtn", QStringLiteral("New"), QStringLiteral("New script"), &TScriptPage::NewScriptBtnClick);
    AddButton("OpenScriptBtn", QStringLiteral("Open"), QStringLiteral("Open script"), &TScriptPage::OpenScriptBtnClick);
    AddButton("SaveSriptBtn", QStringLiteral("Save"), QStringLiteral("Save script"), &TScriptPage::SaveSriptBtnClick);
    AddButton("CutBtn", QStringLiteral("Cut"), QStringLiteral("Cut last line"), &TScriptPage::CutBtnClick);
    ToolBar1->addSeparator();
    AddButton("WakeUpBtn", QStringLiteral("Wake up"), QStringLiteral("Wake up"), &TScriptPage::WakeUpBtnClick);
    AddButton("StartIniBtn", QStringLiteral("Start configuration"), QStringLiteral("Select configuration file"),
              &TScriptPage::StartIniBtnClick);
    AddButton("StandByBtn", QStringLiteral("latency after the starting of the last event"),
              QStringLiteral("latency after the starting of the last event"), &TScriptPage::StandByBtnClick);
    AddButton("GotoBtn", QStringLiteral("Goto"), QStringLiteral("Restart from event"), &TScriptPage::GotoBtnClick);
    AddButton("MemoBtn", QStringLiteral("Memo"), QStringLiteral("Insert text"), &TScriptPage::MemoBtnClick);
    l->addWidget(ToolBar1);

    auto *group = new QGroupBox(QStringLiteral("Script"), this);
    group->setObjectName(QStringLiteral("ScriptGb"));
    auto *gl = new QVBoxLayout(group);
    EditScript = new QPlainTextEdit(group);
    EditScript->setObjectName(QStringLiteral("EditScript"));
    EditScript->setReadOnly(true);
    EditScript->setLineWrapMode(QPlainTextEdit::NoWrap);
    EditScript->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    const QColor yellow(ScriptBackground & 0xFF, (ScriptBackground >> 8) & 0xFF, (ScriptBackground >> 16) & 0xFF);
    EditScript->setStyleSheet(QStringLiteral("QPlainTextEdit { background: %1; }").arg(yellow.name()));
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    EditScript->setFont(mono); // the padded descriptions line up
    gl->addWidget(EditScript);
    l->addWidget(group, 1);

    OpenDialog = [this] {
        return FileDialog(this, QFileDialog::AcceptOpen, QStringLiteral("Open script"),
                          QStringLiteral("Script file (*.scp *.SCP)"), QStringLiteral("scp"), DataFolder());
    };
    SaveDialog = [this] {
        return FileDialog(this, QFileDialog::AcceptSave, QStringLiteral("Save script"), QStringLiteral("*.scp (*.scp)"),
                          QStringLiteral("scp"), DataFolder());
    };
    ConfigDialog = [this] {
        return FileDialog(this, QFileDialog::AcceptOpen, QStringLiteral("Select configuration file"),
                          QStringLiteral("Configuration file (*.Ini *.ini *.INI)"), QStringLiteral("Ini"),
                          Shell.State.ConfigFile);
    };
    DateDialog = [this](QDateTime &when) {
        double day = DayNumber(when);
        TDateHeureFrm dialog(this, &day);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        when = FromDayNumber(day);
        return true;
    };
}

QToolButton *TScriptPage::AddButton(const char *name, const QString &caption, const QString &hint,
                                    void (TScriptPage::*handler)())
{
    auto *b = new QToolButton(ToolBar1);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(caption);
    b->setToolTip(hint);
    connect(b, &QToolButton::clicked, this, handler);
    ToolBar1->addWidget(b);
    Tools.push_back(b);
    return b;
}

void TScriptPage::ShowScript()
{
    EditScript->setPlainText(Shell.Script.Lines.join(QLatin1Char('\n')));
    EditScript->verticalScrollBar()->setValue(EditScript->verticalScrollBar()->maximum());
}

void TScriptPage::EnableTools(bool enabled)
{
    for (QToolButton *b : Tools)
        b->setEnabled(enabled);
}

void TScriptPage::NewScriptBtnClick()
{
    Shell.Script.Clear();
    Shell.EventLog.Clear();
    ShowScript();
}

void TScriptPage::OpenScriptBtnClick()
{
    const QString path = OpenDialog();
    if (path.isEmpty())
        return;
    QString error;
    if (!Shell.Script.Load(path, error)) {
        Ui.ErrorBox(QStringLiteral("TarnelPro"), QStringLiteral("Cannot read \"%1\": %2").arg(path, error));
        return;
    }
    Shell.EventLog.Clear();
    ShowScript();
}

void TScriptPage::SaveSriptBtnClick()
{
    const QString path = SaveDialog();
    if (path.isEmpty())
        return;
    QString error;
    if (!Shell.Script.Save(path, error))
        Shell.WriteFailed(QStringLiteral("Cannot write \"%1\": %2").arg(path, error));
}

void TScriptPage::CutBtnClick()
{
    Shell.Script.CutLastLine();
    ShowScript();
}

void TScriptPage::WakeUpBtnClick()
{
    QDateTime when = QDateTime::currentDateTime();
    if (!DateDialog(when))
        return;
    Shell.Script.SetWakeUp(when, Shell.EventLog.Locale);
    ShowScript();
}

void TScriptPage::StartIniBtnClick()
{
    const QString path = ConfigDialog();
    if (path.isEmpty())
        return;
    Shell.Script.AddStartConfiguration(QFileInfo(path).absoluteFilePath());
    ShowScript();
}

void TScriptPage::StandByBtnClick()
{
    if (Shell.Script.LatencyBtnCommand(Ui))
        ShowScript();
}

void TScriptPage::GotoBtnClick()
{
    if (Shell.Script.GotoBtnCommand(Ui))
        ShowScript();
}

void TScriptPage::MemoBtnClick()
{
    if (Shell.Script.MemoBtnCommand(Ui))
        ShowScript();
}
