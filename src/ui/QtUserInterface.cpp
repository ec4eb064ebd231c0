#include "ui/QtUserInterface.h"

#include "base/EventWait.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

#include <cstdio>

void TQtUserInterface::Attach(QProgressBar *progress, QLabel *errorIndicator)
{
    Progress = progress;
    ErrorLabel = errorIndicator;
}

void TQtUserInterface::Yield() { WaitForEvents(0); }

void TQtUserInterface::WaitEvents(int maxWaitMs) { WaitForEvents(maxWaitMs); }

void TQtUserInterface::BusyIndicator(bool on)
{
    if (on == Busy)
        return;
    Busy = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

bool TQtUserInterface::Confirm(const QString &text, const QString &title)
{
    return QMessageBox::information(Owner, title, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) ==
           QMessageBox::Ok;
}

void TQtUserInterface::Message(const QString &text)
{
    if (Closed) {
        std::fprintf(stderr, "tarnelpro: %s\n", qPrintable(text));
        return;
    }
    QMessageBox::information(Owner, Owner ? Owner->windowTitle() : QApplication::applicationName(), text);
}

void TQtUserInterface::ErrorBox(const QString &title, const QString &text)
{
    if (Closed) {
        std::fprintf(stderr, "tarnelpro: %s\n", qPrintable(text));
        return;
    }
    QMessageBox::critical(Owner, title, text);
}

bool TQtUserInterface::InputPrompt(const QString &caption, const QString &prompt, QString &value)
{
    bool ok = false;
    const QString answer = QInputDialog::getText(Owner, caption, prompt, QLineEdit::Normal, value, &ok);
    if (ok)
        value = answer;
    return ok;
}

void TQtUserInterface::SetProgressRange(int minimum, int maximum)
{
    if (Progress)
        Progress->setRange(minimum, maximum);
}

void TQtUserInterface::SetProgressPosition(int position)
{
    if (Progress)
        Progress->setValue(position);
}

int TQtUserInterface::ProgressPosition() const { return Progress ? Progress->value() : 0; }

int TQtUserInterface::ProgressMaximum() const { return Progress ? Progress->maximum() : 0; }

void TQtUserInterface::ShowErrorIndicator(bool visible)
{
    if (ErrorLabel)
        ErrorLabel->setVisible(visible);
}

void TQtUserInterface::Beep() { QApplication::beep(); }
