#pragma once
// The "Script" part of the "Script / Event log" page: the read-only script
// view and the toolbar that edits it. The script itself is the controller's.
#include <QDateTime>
#include <QWidget>

#include <functional>
#include <vector>

class QPlainTextEdit;
class QToolBar;
class QToolButton;
class TShell;
class TUserInterface;

class TScriptPage : public QWidget {
    Q_OBJECT
public:
    TScriptPage(TShell &shell, TUserInterface &ui, QWidget *parent = nullptr);

    // Redraws the view from the script.
    void ShowScript();
    // Every toolbar control, off while a script runs.
    void EnableTools(bool enabled);

    void NewScriptBtnClick();
    void OpenScriptBtnClick();
    void SaveSriptBtnClick();
    void CutBtnClick();
    void WakeUpBtnClick();
    void StartIniBtnClick();
    void StandByBtnClick();
    void GotoBtnClick();
    void MemoBtnClick();

    // The dialogs, replaceable in tests: an empty path or false is a cancel.
    std::function<QString()> OpenDialog;
    std::function<QString()> SaveDialog;
    std::function<QString()> ConfigDialog;
    std::function<bool(QDateTime &)> DateDialog;

    QPlainTextEdit *EditScript;
    QToolBar *ToolBar1;

private:
    QToolButton *AddButton(const char *name, const QString &caption, const QString &hint, void (TScriptPage::*handler)());

    TShell &Shell;
    TUserInterface &Ui;
    std::vector<QToolButton *> Tools;
};
