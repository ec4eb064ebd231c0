#include "ui/AboutBoxFrm.h"

#include "ui/DesktopOpen.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSysInfo>
#include <QUrl>
#include <QVBoxLayout>

#ifndef TARNEL_VERSION
#define TARNEL_VERSION "0.0.0"
#endif


QString TAboutBoxFrm::VersionText(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    int n[3] = {0, 0, 0};
    for (int i = 0; i < 3 && i < parts.size(); ++i)
        n[i] = parts[i].toInt();
    return QString::asprintf("V%02d.%02d.%02d", n[0], n[1], n[2]);
}

QString TAboutBoxFrm::SystemName(const QString &osRelease)
{
    QFile f(osRelease);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (!line.startsWith(QLatin1String("PRETTY_NAME=")))
            continue;
        QString value = line.mid(12);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        value.replace(QLatin1String("\\\""), QLatin1String("\""));
        return value;
    }
    return {};
}

TAboutBoxFrm::TAboutBoxFrm(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("AboutBoxFrm"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(506, 295);

    auto *column = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    auto *image1 = new QLabel(this);
    image1->setObjectName(QStringLiteral("Image1"));
    image1->setPixmap(QIcon(QStringLiteral(":/icons/tarnelpro.svg")).pixmap(48, 48));
    top->addWidget(image1, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    ProductName = new QLabel(QApplication::applicationName().isEmpty() ? QStringLiteral("TarnelPro2")
                                                                        : QApplication::applicationName(), this);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont big = ProductName->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    ProductName->setFont(big);
    Version = new QLabel(VersionText(QStringLiteral(TARNEL_VERSION)), this);
    Version->setObjectName(QStringLiteral("Version"));
    Copyright = new QLabel(QStringLiteral("Copyright (C) Orvo Radudazozav. All rights reserved."), this);
    Copyright->setObjectName(QStringLiteral("Copyright"));
    QString system = SystemName();
    if (system.isEmpty())
        system = QSysInfo::prettyProductName();
    WindowsLbl = new QLabel(system, this);
    WindowsLbl->setObjectName(QStringLiteral("WindowsLbl"));
    for (QLabel *l : {ProductName, Version, Copyright, WindowsLbl})
        texts->addWidget(l);
    top->addLayout(texts, 1);
    auto *programIcon = new QLabel(this);
    programIcon->setObjectName(QStringLiteral("ProgramIcon"));
    programIcon->setPixmap(QIcon(QStringLiteral(":/icons/tarnelpro.svg")).pixmap(32, 32));
    top->addWidget(programIcon, 0, Qt::AlignTop);
    column->addLayout(top);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setPlainText(QStringLiteral("Acquisition program for the VOLTIX multi-channel resistivity and induced "
                                       "polarisation instruments: survey files, measurement settings, acquisition, "
                                       "resistance checks and scripts."));
    column->addWidget(Memo1, 1);

    // The project has no support address or web site of its own: no links
    // that would lead nowhere. The manual is under Help.
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    column->addWidget(buttons);

    if (owner) {
        const QRect area = owner->window()->geometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}
