#include "ui/DemoRun.h"

#include "ui/MainFrm.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

void TDemoRun::AnswerDefault(QWidget *modal)
{
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        QAbstractButton *b = box->button(QMessageBox::Ok);
        if (!b)
            b = box->defaultButton();
        if (b)
            b->click();
        else
            box->accept();
    } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
        dialog->accept();
    }
}

bool TDemoRun::Run(TMainFrm &window)
{
    // Whatever the run asks (prompts, the start window) gets its default answer.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] { AnswerDefault(QApplication::activeModalWidget()); });
    answer.start(50);
    auto *power = window.findChild<QAction *>(QStringLiteral("PowerAction"));
    if (!power || !power->isEnabled()) {
        std::fprintf(stderr, "tarnelpro: no link configured for the demo acquisition\n");
        return false;
    }
    power->trigger();
    auto *on = window.findChild<QLabel *>(QStringLiteral("RsOnImg"));
    if (!on || on->isHidden()) {
        std::fprintf(stderr, "tarnelpro: the instrument did not answer\n");
        return false;
    }
    // Start runs the whole acquisition before it returns.
    if (auto *start = window.findChild<QPushButton *>(QStringLiteral("NewGpsBtn")))
        start->click();
    power->trigger();
    return true;
}
