#include "ui/ResPage.h"

#include "instrument/ResistanceTable.h"
#include "survey/Sequence.h"

#include <qcustomplot.h>

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace {
constexpr float Maxima[] = {500, 100, 50, 20, 10, 5, 2, 1};

QString Fixed(const QLocale &locale, double v)
{
    QString text = locale.toString(v, 'f', 2);
    text.remove(locale.groupSeparator());
    return text;
}
} // namespace

TResPage::TResPage(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ResistanceTb"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(6, 4, 6, 4);

    NodeCheckConfigPanel = new QWidget(this);
    NodeCheckConfigPanel->setObjectName(QStringLiteral("NodeCheckConfigPanel"));
    auto *config = new QGridLayout(NodeCheckConfigPanel);
    AllQuadNodeBtn = new QRadioButton(QStringLiteral("All nodes used in quadripole file"), NodeCheckConfigPanel);
    AllQuadNodeBtn->setObjectName(QStringLiteral("AllQuadNodeBtn"));
    AllCoordNodeBtn = new QRadioButton(QStringLiteral("All nodes defined in coordinate file"), NodeCheckConfigPanel);
    AllCoordNodeBtn->setObjectName(QStringLiteral("AllCoordNodeBtn"));
    OneNode = new QRadioButton(QStringLiteral("One couple of nodes"), NodeCheckConfigPanel);
    OneNode->setObjectName(QStringLiteral("OneNode"));
    AllQuadNodeBtn->setChecked(true);
    config->addWidget(AllQuadNodeBtn, 0, 0);
    config->addWidget(AllCoordNodeBtn, 1, 0);
    config->addWidget(OneNode, 2, 0);
    CoupleOfNodePanel = new QWidget(NodeCheckConfigPanel);
    CoupleOfNodePanel->setObjectName(QStringLiteral("CoupleOfNodePanel"));
    auto *pair = new QHBoxLayout(CoupleOfNodePanel);
    pair->setContentsMargins(0, 0, 0, 0);
    NodeP1Edn = new QLineEdit(QStringLiteral("0"), CoupleOfNodePanel);
    NodeP1Edn->setObjectName(QStringLiteral("NodeP1Edn"));
    NodeP2Edn = new QLineEdit(QStringLiteral("0"), CoupleOfNodePanel);
    NodeP2Edn->setObjectName(QStringLiteral("NodeP2Edn"));
    for (QLineEdit *e : {NodeP1Edn, NodeP2Edn})
        e->setFixedWidth(56);
    pair->addWidget(new QLabel(QStringLiteral("Node P1 :"), CoupleOfNodePanel));
    pair->addWidget(NodeP1Edn);
    pair->addWidget(new QLabel(QStringLiteral("Node P2 :"), CoupleOfNodePanel));
    pair->addWidget(NodeP2Edn);
    pair->addStretch(1);
    CoupleOfNodePanel->hide();
    config->addWidget(CoupleOfNodePanel, 3, 0);
    config->addWidget(new QLabel(QStringLiteral("Maximun  resistance value acceptable :"), NodeCheckConfigPanel), 0, 1);
    MaxResValueCb = new QComboBox(NodeCheckConfigPanel);
    MaxResValueCb->setObjectName(QStringLiteral("MaxResValueCb"));
    MaxResValueCb->addItems({QStringLiteral("Line open"), QStringLiteral("100 kOhm "), QStringLiteral("50 kOhm"),
                             QStringLiteral("20 kOhm "), QStringLiteral("10 kOhm"), QStringLiteral("5 kOhm"),
                             QStringLiteral("2 kOhm "), QStringLiteral("1 kOhm  ")});
    MaxResValueCb->setCurrentIndex(0);
    config->addWidget(MaxResValueCb, 0, 2);
    config->setColumnStretch(3, 1);
    column->addWidget(NodeCheckConfigPanel);
    connect(AllQuadNodeBtn, &QRadioButton::clicked, CoupleOfNodePanel, &QWidget::hide);
    connect(AllCoordNodeBtn, &QRadioButton::clicked, CoupleOfNodePanel, &QWidget::hide);
    connect(OneNode, &QRadioButton::clicked, CoupleOfNodePanel, &QWidget::show);

    auto *groups = new QHBoxLayout;
    const char *captions[] = {"Dipole value", "Minimum resistance value", "Maximum resistance value"};
    const char *prefixes[] = {"", "Min", "Max"};
    for (int g = 0; g < 3; ++g) {
        auto *box = new QGroupBox(QString::fromLatin1(captions[g]), this);
        auto *grid = new QGridLayout(box);
        grid->setVerticalSpacing(2);
        const char *heads[] = {"Node", "X", "Y", "Z"};
        for (int c = 0; c < 4; ++c)
            grid->addWidget(new QLabel(QString::fromLatin1(heads[c]), box), 0, c + 1, Qt::AlignCenter);
        const char *fields[] = {"N", "X", "Y", "Z"};
        for (int p = 0; p < 2; ++p) {
            grid->addWidget(new QLabel(QStringLiteral("P%1").arg(p + 1), box), p + 1, 0);
            for (int c = 0; c < 4; ++c) {
                auto *l = new QLabel(box);
                l->setObjectName(QStringLiteral("%1P%2%3Lbl").arg(QString::fromLatin1(prefixes[g])).arg(p + 1).arg(QString::fromLatin1(fields[c])));
                l->setFrameShape(QFrame::StyledPanel);
                l->setMinimumWidth(44);
                l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                Values[std::size_t(g)][std::size_t(p * 4 + c)] = l;
                grid->addWidget(l, p + 1, c + 1);
            }
        }
        grid->addWidget(new QLabel(QStringLiteral("Resistance (kOhm) :"), box), 3, 0, 1, 3);
        auto *r = new QLabel(box);
        r->setObjectName(QString::fromLatin1(prefixes[g]) + QStringLiteral("ResLbl"));
        r->setFrameShape(QFrame::StyledPanel);
        r->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        Values[std::size_t(g)][8] = r;
        grid->addWidget(r, 3, 3, 1, 2);
        groups->addWidget(box);
    }
    column->addLayout(groups);

    auto *status = new QHBoxLayout;
    MaximumFlashLbl = new QLabel(QStringLiteral("Maximum resistance value exceeded"), this);
    MaximumFlashLbl->setObjectName(QStringLiteral("MaximumFlashLbl"));
    MaximumFlashLbl->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    MaximumFlashLbl->hide();
    SkipBtn = new QPushButton(QStringLiteral("Skip"), this);
    SkipBtn->setObjectName(QStringLiteral("SkipBtn"));
    SkipBtn->hide();
    ResistanceCheckedLbl = new QLabel(QStringLiteral("Resistance check ended"), this);
    ResistanceCheckedLbl->setObjectName(QStringLiteral("ResistanceCheckedLbl"));
    ResistanceCheckedLbl->setStyleSheet(QStringLiteral("color: green; font-weight: bold;"));
    ResistanceCheckedLbl->hide();
    status->addWidget(MaximumFlashLbl);
    status->addWidget(SkipBtn);
    status->addStretch(1);
    status->addWidget(ResistanceCheckedLbl);
    column->addLayout(status);

    ResistancePlot = new QCustomPlot(this);
    ResistancePlot->setObjectName(QStringLiteral("ResistancePlot"));
    ResistancePlot->setMinimumHeight(220);
    QCustomPlot *plot = ResistancePlot;
    plot->xAxis->setLabel(QStringLiteral("Electrode"));
    plot->yAxis->setLabel(QStringLiteral("Resistance (kOhm)"));
    plot->yAxis->setScaleType(QCPAxis::stLogarithmic);
    plot->yAxis->setTicker(QSharedPointer<QCPAxisTickerLog>::create());
    plot->yAxis->setNumberFormat(QStringLiteral("gb"));
    QCPGraph *values = plot->addGraph();
    values->setName(QStringLiteral("kOhm"));
    values->setPen(QPen(QColor(0, 90, 200), 1.5));
    values->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 6));
    QCPGraph *high = plot->addGraph();
    high->setName(QStringLiteral("above the maximum"));
    high->setLineStyle(QCPGraph::lsNone);
    high->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(Qt::red, 2), Qt::NoBrush, 11));
    QCPGraph *skipped = plot->addGraph();
    skipped->setName(QStringLiteral("skipped"));
    skipped->setLineStyle(QCPGraph::lsNone);
    skipped->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCross, QPen(Qt::red, 2), Qt::NoBrush, 12));
    QCPGraph *maximumLine = plot->addGraph();
    maximumLine->setName(QStringLiteral("maximum"));
    maximumLine->setPen(QPen(Qt::red, 1.5, Qt::DashLine));
    plot->legend->setVisible(true);
    plot->legend->setFont(QFont(font().family(), 8));
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    plot->xAxis->setRange(0, 10);
    plot->yAxis->setRange(0.1, 1000);
    column->addWidget(ResistancePlot, 1);
}

void TResPage::ShowProfile(const TResistanceTable &table, float maximum)
{
    QCustomPlot *plot = ResistancePlot;
    std::vector<TElectrodeHealth> e = table.Electrodes;
    std::sort(e.begin(), e.end(), [](const auto &a, const auto &b) { return a.Number < b.Number; });
    QVector<double> x, y, hx, hy, sx, sy;
    double lo = double(maximum), hi = double(maximum);
    for (const TElectrodeHealth &h : e) {
        // A log axis has no room for 0 (a short circuit): drawn at its floor.
        const double v = std::max(double(h.KOhm), 0.01);
        x << h.Number;
        y << v;
        if (h.Status == TElectrodeHealth::Skipped) {
            sx << h.Number;
            sy << v;
        } else if (h.Status == TElectrodeHealth::High) {
            hx << h.Number;
            hy << v;
        }
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    plot->graph(0)->setData(x, y, true);
    plot->graph(1)->setData(hx, hy, true);
    plot->graph(2)->setData(sx, sy, true);
    const double first = x.isEmpty() ? 0 : x.first() - 1, last = x.isEmpty() ? 10 : x.last() + 1;
    plot->graph(3)->setData({first, last}, {double(maximum), double(maximum)}, true);
    plot->xAxis->setRange(first, last);
    plot->yAxis->setRange(lo / 2, hi * 2);
    plot->replot(QCustomPlot::rpQueuedReplot);
}

float TResPage::MaxResistance() const { return Maxima[qBound(0, MaxResValueCb->currentIndex(), 7)]; }

int TResPage::NodeSelection() const
{
    if (OneNode->isChecked())
        return 2;
    return AllCoordNodeBtn->isChecked() ? 1 : 0;
}

std::array<int, 2> TResPage::NodePair() const
{
    return {NodeP1Edn->text().trimmed().toInt(), NodeP2Edn->text().trimmed().toInt()};
}

void TResPage::SetPanelEnabled(bool enabled) { NodeCheckConfigPanel->setEnabled(enabled); }
void TResPage::ShowMaximumFlash(bool shown) { MaximumFlashLbl->setVisible(shown); }
void TResPage::ShowSkip(bool shown) { SkipBtn->setVisible(shown); }
void TResPage::ShowChecked(bool shown) { ResistanceCheckedLbl->setVisible(shown); }

void TResPage::ShowResistance(int which, const Node &p1, const Node &p2, float r, const QLocale &locale)
{
    auto &v = Values[std::size_t(qBound(0, which, 2))];
    const Node *nodes[] = {&p1, &p2};
    for (int p = 0; p < 2; ++p) {
        v[std::size_t(p * 4)]->setText(QString::number(nodes[p]->Number));
        v[std::size_t(p * 4 + 1)]->setText(Fixed(locale, double(nodes[p]->X)));
        v[std::size_t(p * 4 + 2)]->setText(Fixed(locale, double(nodes[p]->Y)));
        v[std::size_t(p * 4 + 3)]->setText(Fixed(locale, double(nodes[p]->Z)));
    }
    v[8]->setText(Fixed(locale, double(r)));
}
