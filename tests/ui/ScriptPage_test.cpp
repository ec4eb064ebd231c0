#include "ui/DateHeureFrm.h"
#include "ui/MainFrm.h"
#include "ui/ScriptPage.h"

#include "support/ScriptedUi.h"

#include <gtest/gtest.h>

#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QToolBar>
#include <QToolButton>

namespace {
struct ScriptPageTest : ::testing::Test {
    QTemporaryDir Tmp;
    std::unique_ptr<TMainFrm> Window;
    TScriptedUi Ui;
    void SetUp() override
    {
        qputenv("TARNELPRO_DATA_DIR", (Tmp.path() + "/data").toLocal8Bit());
        qputenv("TARNELPRO_PROGRAM_DIR", (Tmp.path() + "/program").toLocal8Bit());
        Window = std::make_unique<TMainFrm>(TShell::TOptions{false});
    }
    void TearDown() override
    {
        Window.reset();
        qunsetenv("TARNELPRO_DATA_DIR");
        qunsetenv("TARNELPRO_PROGRAM_DIR");
    }
    TShell &Shell() { return Window->Controller(); }
    void Click(TScriptPage &page, const char *name) { page.findChild<QToolButton *>(name)->click(); }
};
} // namespace

TEST_F(ScriptPageTest, toolbarAndViewOfTheScriptPage)
{
    auto *page = Window->findChild<TScriptPage *>();
    ASSERT_NE(page, nullptr);
    QStringList names, hints;
    for (QToolButton *b : page->ToolBar1->findChildren<QToolButton *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (b->objectName().startsWith("qt_"))
            continue; // the toolbar's own overflow button
        names << b->objectName();
        hints << b->toolTip();
    }
    EXPECT_EQ(names, (QStringList{"NewScriptBtn", "OpenScriptBtn", "SaveSriptBtn", "CutBtn", "WakeUpBtn", "StartIniBtn",
                                  "StandByBtn", "GotoBtn", "MemoBtn"}));
    EXPECT_EQ(hints, (QStringList{"New script", "Open script", "Save script", "Cut last line", "Wake up",
                                  "Select configuration file", "latency after the starting of the last event",
                                  "Restart from event", "Insert text"}));
    EXPECT_EQ(page->ToolBar1->objectName(), "ToolBar1");
    EXPECT_TRUE(page->EditScript->isReadOnly());
    EXPECT_EQ(page->EditScript->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_TRUE(page->EditScript->styleSheet().contains("#ffffec"));

    Window->EnableScriptTools(false);
    for (const QString &name : names)
        EXPECT_FALSE(page->findChild<QToolButton *>(name)->isEnabled()) << name.toStdString();
    Window->EnableScriptTools(true);
    EXPECT_TRUE(page->findChild<QToolButton *>("MemoBtn")->isEnabled());
}

TEST_F(ScriptPageTest, buttonsBuildSaveAndReopenAScript)
{
    TScriptPage page(Shell(), Ui);
    const QString ini = Tmp.path() + "/A.ini";
    page.ConfigDialog = [&] { return ini; };
    page.DateDialog = [](QDateTime &when) {
        when = QDateTime(QDate(2023, 3, 15), QTime(18, 0));
        return true;
    };
    Click(page, "StartIniBtn");
    Ui.InputAnswers = {"2"};
    Click(page, "StandByBtn");
    Ui.InputAnswers = {"1", "3"};
    Click(page, "GotoBtn");
    Ui.InputAnswers = {"north line"};
    Click(page, "MemoBtn");
    Click(page, "WakeUpBtn");
    QStringList shown = page.EditScript->toPlainText().split('\n');
    ASSERT_EQ(shown.size(), 5);
    EXPECT_TRUE(shown[0].startsWith("1 : Wake up")) << shown[0].toStdString();
    EXPECT_TRUE(shown[0].endsWith(" -<X: 0 @ 45000.75 >-"));
    EXPECT_TRUE(shown[1].startsWith("2 : Start configuration"));
    EXPECT_TRUE(shown[1].endsWith(" -<X: 2 @ " + ini + " >-"));
    EXPECT_TRUE(shown[3].endsWith(" -<X: 3 @ 1:3 >-"));
    EXPECT_EQ(shown[4], "5 north line");

    const QString file = Tmp.path() + "/s.scp";
    page.SaveDialog = [&] { return file; };
    Click(page, "SaveSriptBtn");
    Shell().EventLog.Add("old log line");
    Click(page, "CutBtn");
    EXPECT_EQ(page.EditScript->toPlainText().split('\n').size(), 4);

    page.OpenDialog = [&] { return file; };
    Click(page, "OpenScriptBtn");
    EXPECT_EQ(page.EditScript->toPlainText().split('\n'), shown);
    EXPECT_TRUE(Shell().EventLog.Lines().empty());

    page.OpenDialog = [&] { return Tmp.path() + "/missing.scp"; };
    Click(page, "OpenScriptBtn");
    EXPECT_EQ(Ui.Errors.size(), 1);
    EXPECT_EQ(Shell().Script.Lines, shown);

    Click(page, "NewScriptBtn");
    EXPECT_TRUE(page.EditScript->toPlainText().isEmpty());
}

TEST_F(ScriptPageTest, dateDialogRoundTripsDayNumbers)
{
    double value = 45000.75;
    {
        TDateHeureFrm dialog(Window.get(), &value);
        EXPECT_EQ(dialog.DatePicker->date(), QDate(2023, 3, 15));
        EXPECT_EQ(dialog.TimePicker->time(), QTime(18, 0));
        dialog.CancelBtn->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(value, 45000.75);
    {
        TDateHeureFrm dialog(Window.get(), &value);
        dialog.OKBtn->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(value, 45000.75);
    {
        TDateHeureFrm dialog(Window.get(), &value);
        dialog.TimePicker->setTime(QTime(6, 30));
        dialog.OKBtn->click();
    }
    EXPECT_DOUBLE_EQ(value, 45000.0 + 6.5 / 24.0);
}
