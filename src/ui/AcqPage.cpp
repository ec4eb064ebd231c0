#include "ui/AcqPage.h"

#include "instrument/DataRecord.h"
#include "instrument/QualityControl.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {
QLabel *ValueLabel(QWidget *parent, const QString &name)
{
    auto *l = new QLabel(QStringLiteral("0"), parent);
    l->setObjectName(name);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setStyleSheet(QStringLiteral("QLabel { background: black; color: rgb(0,255,0); padding: 0 3px; }"));
    l->setMinimumWidth(58);
    return l;
}

QString Fixed(const QLocale &locale, double v, int decimals)
{
    QString text = locale.toString(v, 'f', decimals);
    text.remove(locale.groupSeparator());
    return text;
}
} // namespace

TAcqPage::TAcqPage(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("AcquisitonDataTb"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(6, 4, 6, 4);

    auto *top = new QHBoxLayout;
    ModeMeasLbl = new QLabel(this);
    ModeMeasLbl->setObjectName(QStringLiteral("ModeMeasLbl"));
    ModeMeasLbl->setStyleSheet(QStringLiteral("font-weight: bold;"));
    top->addWidget(ModeMeasLbl);
    top->addStretch(1);
    top->addWidget(new QLabel(QStringLiteral("Quadripole :"), this));
    QuadripoleLblx = ValueLabel(this, QStringLiteral("QuadripoleLblx"));
    QuadripoleLblx->setMinimumWidth(120);
    top->addWidget(QuadripoleLblx);
    top->addSpacing(12);
    top->addWidget(new QLabel(QStringLiteral("Estimated time remaining :"), this));
    EstimatedTimeLblx = ValueLabel(this, QStringLiteral("EstimatedTimeLblx"));
    EstimatedTimeLblx->setMinimumWidth(170);
    top->addWidget(EstimatedTimeLblx);
    // The boxes keep one line's height; with the Data group hidden they would
    // otherwise stretch into page-high columns.
    for (QLabel *box : {QuadripoleLblx, EstimatedTimeLblx})
        box->setFixedHeight(box->sizeHint().height());
    column->addLayout(top);

    DataGB = new QGroupBox(QStringLiteral("Data"), this);
    DataGB->setObjectName(QStringLiteral("DataGB"));
    auto *dataRow = new QHBoxLayout(DataGB);
    dataRow->setSpacing(10);

    // Electrodes: rows Ca, Cb outside the spacing panel, P1..P11 inside.
    auto *electrodes = new QGridLayout;
    electrodes->setVerticalSpacing(1);
    electrodes->setHorizontalSpacing(3);
    const char *heads[] = {"Node", "X", "Y", "Z"};
    for (int c = 0; c < 4; ++c)
        electrodes->addWidget(new QLabel(QString::fromLatin1(heads[c]), DataGB), 0, c + 1, Qt::AlignCenter);
    auto *spacing = new QWidget(DataGB);
    spacing->setObjectName(QStringLiteral("SpacingPannel"));
    for (int r = 0; r < 13; ++r) {
        QWidget *owner = r < 2 ? static_cast<QWidget *>(DataGB) : spacing;
        const QString caption = r == 0 ? QStringLiteral("Ca") : r == 1 ? QStringLiteral("Cb") : QStringLiteral("P%1").arg(r - 1);
        auto *cap = new QLabel(caption, owner);
        ElectrodeCaptions[std::size_t(r)] = cap;
        electrodes->addWidget(cap, r + 1, 0);
        const QString suffix = r == 0 ? QStringLiteral("a") : r == 1 ? QStringLiteral("b") : QString::number(r - 1);
        const QString names[] = {QStringLiteral("N") + suffix + QStringLiteral("Lblx"), QStringLiteral("X") + suffix + QStringLiteral("Lblx"),
                                 QStringLiteral("Y") + suffix + QStringLiteral("Lblx"), QStringLiteral("Z") + suffix + QStringLiteral("Lblx")};
        for (int c = 0; c < 4; ++c) {
            QLabel *l = ValueLabel(owner, names[c]);
            l->setProperty("tag", r - 1);
            Electrodes[std::size_t(r)][std::size_t(c)] = l;
            electrodes->addWidget(l, r + 1, c + 1);
        }
    }
    // With fewer channels the hidden rows leave room: it stays below the
    // last row instead of stretching the boxes.
    electrodes->setRowStretch(14, 1);
    dataRow->addLayout(electrodes);

    auto *right = new QVBoxLayout;
    auto *current = new QHBoxLayout;
    current->addWidget(new QLabel(QStringLiteral("In (mA)"), DataGB));
    InLblx = ValueLabel(DataGB, QStringLiteral("InLblx"));
    current->addWidget(InLblx);
    current->addStretch(1);
    QcCountLbl = new QLabel(DataGB);
    QcCountLbl->setObjectName(QStringLiteral("QcCountLbl"));
    current->addWidget(QcCountLbl);
    right->addLayout(current);
    auto *acq = new QWidget(DataGB);
    acq->setObjectName(QStringLiteral("AcqPannel"));
    auto *channels = new QGridLayout(acq);
    channels->setContentsMargins(0, 0, 0, 0);
    channels->setVerticalSpacing(1);
    channels->setHorizontalSpacing(3);
    const char *columns[] = {"Vp (mV)", "Rho (Ohm.m)", "M (mV/V)", "Sp (mV)", "Q "};
    const char *prefixes[] = {"V", "Rho", "M", "Sp", "Q"};
    for (int f = 0; f < 5; ++f)
        channels->addWidget(new QLabel(QString::fromLatin1(columns[f]), acq), 0, f + 1, Qt::AlignCenter);
    channels->addWidget(new QLabel(QStringLiteral("QC"), acq), 0, 6, Qt::AlignCenter);
    for (int k = 0; k < 10; ++k) {
        auto *cap = new QLabel(QStringLiteral("Ch %1").arg(k + 1), acq);
        cap->setProperty("tag", k);
        ChannelCaptions[std::size_t(k)] = cap;
        channels->addWidget(cap, k + 1, 0);
        for (int f = 0; f < 5; ++f) {
            QLabel *l = ValueLabel(acq, QString::fromLatin1(prefixes[f]) + QString::number(k + 1) + QStringLiteral("Lblx"));
            l->setProperty("tag", k);
            Channels[std::size_t(k)][std::size_t(f)] = l;
            channels->addWidget(l, k + 1, f + 1);
        }
        auto *qc = new QLabel(acq);
        qc->setObjectName(QStringLiteral("QC%1Lblx").arg(k + 1));
        qc->setFixedWidth(18);
        qc->setFrameShape(QFrame::Box);
        QcLabels[std::size_t(k)] = qc;
        channels->addWidget(qc, k + 1, 6);
    }
    right->addWidget(acq);
    right->addStretch(1);
    dataRow->addLayout(right, 1);
    column->addWidget(DataGB, 1);
    column->addStretch(0);
    for (QLabel *box : DataGB->findChildren<QLabel *>())
        if (box->objectName().endsWith(QLatin1String("Lblx")))
            box->setFixedHeight(box->sizeHint().height());
}

void TAcqPage::HideData() { DataGB->hide(); }

void TAcqPage::ShowProgress(const QString &label) { QuadripoleLblx->setText(label); }

void TAcqPage::ShowEstimate(const QString &text) { EstimatedTimeLblx->setText(text); }

void TAcqPage::ShowMode(const QString &mode) { ModeMeasLbl->setText(mode); }

void TAcqPage::ShowMeasurement(const TDataRecord *records, const std::int16_t *electrodes, int n, const QLocale &locale)
{
    DataGB->show();
    n = qBound(1, n, 10);
    // Columns of absent channels and the rows of their N electrodes are hidden.
    for (int c = 0; c < 10; ++c) {
        const bool on = c < n;
        ChannelCaptions[std::size_t(c)]->setVisible(on);
        for (QLabel *l : Channels[std::size_t(c)])
            l->setVisible(on);
        QcLabels[std::size_t(c)]->setVisible(on);
        QcLabels[std::size_t(c)]->setStyleSheet(QString());
        QcLabels[std::size_t(c)]->setToolTip(QString());
        const int row = c + 3; // P(c+2)
        if (row < 13) {
            ElectrodeCaptions[std::size_t(row)]->setVisible(on);
            for (QLabel *l : Electrodes[std::size_t(row)])
                l->setVisible(on);
        }
    }
    for (int r = 0; r < 13; ++r)
        Electrodes[std::size_t(r)][0]->setText(QString::number(static_cast<std::uint16_t>(electrodes[r])));

    const auto coords = [&](int row, const TDataRecord &rec, int electrode) {
        for (int axis = 0; axis < 3; ++axis)
            Electrodes[std::size_t(row)][std::size_t(axis + 1)]->setText(
                Fixed(locale, double(rec.Coords[std::size_t(axis * 4 + electrode)]), 2));
    };
    coords(0, records[0], 0);
    coords(1, records[0], 1);
    coords(2, records[0], 2);
    coords(3, records[0], 3);
    for (int k = 1; k <= 9; ++k)
        coords(k + 3, records[k], 3);
    InLblx->setText(Fixed(locale, double(records[0].In), 3));
    for (int k = 0; k < 10; ++k) {
        const TDataRecord &r = records[k];
        auto &row = Channels[std::size_t(k)];
        row[0]->setText(Fixed(locale, double(r.Vp), 2));
        row[1]->setText(Fixed(locale, double(r.Rho), 2));
        row[2]->setText(Fixed(locale, double(r.M), 3));
        row[3]->setText(Fixed(locale, double(r.Sp), 1));
        // One stack has no spread: the record then holds no Q, shown as none rather than "nan".
        row[4]->setText(std::isnan(r.Q) ? QStringLiteral("\u2014") : Fixed(locale, double(r.Q), 1));
    }
}

void TAcqPage::ShowQuality(const unsigned *flags, int count, int flagged, int total)
{
    for (int k = 0; flags && k < std::min(count, 10); ++k) {
        QLabel *l = QcLabels[std::size_t(k)];
        const unsigned f = flags[k];
        l->setStyleSheet(f ? QStringLiteral("QLabel { background: rgb(230,0,0); }")
                           : QStringLiteral("QLabel { background: rgb(0,190,0); }"));
        l->setToolTip(f ? TQualityControl::FlagNames(f) : QStringLiteral("good"));
        l->setProperty("flags", f);
    }
    QcCountLbl->setText(QStringLiteral("%1 flagged of %2").arg(flagged).arg(total));
    QcCountLbl->setStyleSheet(flagged ? QStringLiteral("color: rgb(200,0,0); font-weight: bold;") : QString());
}
