#include "ui/ContourGraph.h"

#include "base/Folders.h"
#include "base/TextCodec.h"

#include <qcustomplot.h>

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QDateTime>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include "base/SafeFile.h"

#include <QBuffer>
#include <QShortcut>
#include <QSvgGenerator>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {
constexpr float NoValue = -9e30f;
constexpr int LegendWidth = 86;
// Big enough to see on a laptop screen and on paper.
constexpr double MarkerRadius = 3.5;
constexpr int CaptionHeight = 26;

QColor FromGraphColor(TGraphColor c)
{
    // Colours come as red in the low byte; the top byte is not a transparency.
    return QColor(ColorRed(c), ColorGreen(c), ColorBlue(c));
}

bool Near(double a, double b) { return std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(a) + std::abs(b)); }

// A band count that is worth drawing: finite, ordered range and a usable step.
int BandCount(double zmin, double zmax, double step)
{
    if (!std::isfinite(zmin) || !std::isfinite(zmax) || !(step > 0) || zmax < zmin)
        return 0;
    const double n = std::ceil((zmax - zmin) / step);
    if (n > 10000)
        return 0;
    return std::max(1, int(n));
}

QString LegendNumber(double v)
{
    return std::abs(v) >= 1e6 ? QString::number(v, 'g', 4) : QString::number(v, 'f', std::abs(v) < 10 ? 1 : 0);
}
} // namespace

// The cells: one rectangle per cell reaching halfway to its neighbours in the
// same row and column, so that a value stretched over several columns covers
// one run and a row's positions meet midway, as the section is laid out.
class TCellsPlottable : public QCPAbstractPlottable {
public:
    TCellsPlottable(const TContourGraph &graph, QCPAxis *key, QCPAxis *value)
        : QCPAbstractPlottable(key, value), Graph(graph)
    {
        setAntialiasedFill(false);
        setAntialiased(false);
    }
    double selectTest(const QPointF &, bool, QVariant *) const override { return -1; }
    QCPRange getKeyRange(bool &found, QCP::SignDomain) const override { return Range(true, found); }
    QCPRange getValueRange(bool &found, QCP::SignDomain, const QCPRange &) const override { return Range(false, found); }
    void drawLegendIcon(QCPPainter *, const QRectF &) const override {}
    void draw(QCPPainter *painter) override;

    // Half the spacing a cell takes where it has no neighbour of another
    // position: the grid's mean spacing along that direction, else the
    // other direction's (square cells for a single row), else half a metre.
    struct THalf {
        double X, Y;
    };
    THalf Fallback() const
    {
        bool found = false;
        const QCPRange spanX = Range(true, found), spanY = Range(false, found);
        const int subsets = Graph.Subsets(), points = Graph.Points();
        const double fx = points > 1 && spanX.size() > 0 ? spanX.size() / (points - 1) / 2 : NAN;
        const double fy = subsets > 1 && spanY.size() > 0 ? spanY.size() / (subsets - 1) / 2 : NAN;
        const double x = !std::isnan(fx) ? fx : !std::isnan(fy) ? fy : 0.5;
        return {x, !std::isnan(fy) ? fy : x};
    }
    // Extent of a cell in graph values as shown (Y already un-negated).
    QRectF Bounds(int s, int p, const THalf &half) const
    {
        const double sign = Sign();
        const double x = Graph.XData(s, p), y = sign * Graph.YData(s, p);
        const bool hasX[2] = {Valid(s, p - 1), Valid(s, p + 1)};
        const bool hasY[2] = {Valid(s - 1, p), Valid(s + 1, p)};
        const double nx[2] = {hasX[0] ? Graph.XData(s, p - 1) : 0.0, hasX[1] ? Graph.XData(s, p + 1) : 0.0};
        const double ny[2] = {hasY[0] ? sign * Graph.YData(s - 1, p) : 0.0, hasY[1] ? sign * Graph.YData(s + 1, p) : 0.0};
        double left = 0, right = 0, top = 0, bottom = 0;
        Edges(x, nx, hasX, half.X, left, right);
        Edges(y, ny, hasY, half.Y, top, bottom);
        return QRectF(QPointF(left, top), QPointF(right, bottom)).normalized();
    }
    // Union of the extents of every positioned cell; false when none is.
    bool Extent(QRectF &extent) const
    {
        const THalf half = Fallback();
        bool any = false;
        for (int s = 0; s < Graph.Subsets(); ++s)
            for (int p = 0; p < Graph.Points(); ++p) {
                if (!Valid(s, p))
                    continue;
                const QRectF b = Bounds(s, p, half);
                extent = any ? extent.united(b) : b;
                any = true;
            }
        return any;
    }
    double Sign() const { return Graph.Inverted ? -1.0 : 1.0; }

private:
    const TContourGraph &Graph;

    bool Valid(int s, int p) const
    {
        return s >= 0 && s < Graph.Subsets() && p >= 0 && p < Graph.Points() && Graph.XData(s, p) != float(Graph.NullX) &&
               Graph.YData(s, p) != float(Graph.NullY);
    }
    // Half the distance to the nearest different neighbour on each side,
    // mirrored where one side has none, fallback where neither has.
    static void Edges(double c, const double (&n)[2], const bool (&has)[2], double fallback, double &lo, double &hi)
    {
        double below = NAN, above = NAN;
        for (int i = 0; i < 2; ++i) {
            if (!has[i] || Near(n[i], c))
                continue;
            if (n[i] < c && (std::isnan(below) || n[i] > below))
                below = n[i];
            if (n[i] > c && (std::isnan(above) || n[i] < above))
                above = n[i];
        }
        double dLo = std::isnan(below) ? NAN : (c - below) / 2, dHi = std::isnan(above) ? NAN : (above - c) / 2;
        if (std::isnan(dLo))
            dLo = std::isnan(dHi) ? fallback : dHi;
        if (std::isnan(dHi))
            dHi = dLo;
        lo = c - dLo;
        hi = c + dHi;
    }
    QCPRange Range(bool keys, bool &found) const
    {
        QCPRange r;
        found = false;
        for (int s = 0; s < Graph.Subsets(); ++s)
            for (int p = 0; p < Graph.Points(); ++p) {
                if (!Valid(s, p))
                    continue;
                const double v = keys ? Graph.XData(s, p) : Sign() * Graph.YData(s, p);
                if (!found)
                    r = QCPRange(v, v);
                else
                    r.expand(v);
                found = true;
            }
        return r;
    }
};

void TCellsPlottable::draw(QCPPainter *painter)
{
    QCPAxis *kx = keyAxis(), *vy = valueAxis();
    if (!kx || !vy)
        return;
    const THalf half = Fallback();
    // Cut to the axes by hand: SVG output ignores the painter's clip.
    const QRectF axes = clipRect();
    painter->setPen(Qt::NoPen);
    painter->setRenderHint(QPainter::Antialiasing, false);
    for (int s = 0; s < Graph.Subsets(); ++s) {
        for (int p = 0; p < Graph.Points(); ++p) {
            const QColor color = Graph.CellColor(s, p);
            if (!color.isValid())
                continue;
            const QRectF b = Bounds(s, p, half);
            const QPointF a(kx->coordToPixel(b.left()), vy->coordToPixel(b.top()));
            const QPointF c(kx->coordToPixel(b.right()), vy->coordToPixel(b.bottom()));
            const QRectF cell = QRectF(a, c).normalized().intersected(axes);
            if (!cell.isEmpty())
                painter->fillRect(cell, color);
        }
    }
}

// The markers, on a layer above the cells and the grid lines.
class TMarkersPlottable : public QCPAbstractPlottable {
public:
    TMarkersPlottable(const TContourGraph &graph, QCPAxis *key, QCPAxis *value)
        : QCPAbstractPlottable(key, value), Graph(graph)
    {
    }
    double selectTest(const QPointF &, bool, QVariant *) const override { return -1; }
    QCPRange getKeyRange(bool &found, QCP::SignDomain) const override { return found = false, QCPRange(); }
    QCPRange getValueRange(bool &found, QCP::SignDomain, const QCPRange &) const override { return found = false, QCPRange(); }
    void drawLegendIcon(QCPPainter *, const QRectF &) const override {}
    void draw(QCPPainter *painter) override
    {
        QCPAxis *kx = keyAxis(), *vy = valueAxis();
        if (!kx || !vy)
            return;
        const double sign = Graph.Inverted ? -1.0 : 1.0;
        const QRectF axes = clipRect();
        painter->setRenderHint(QPainter::Antialiasing, true);
        for (const TAnnotation &a : Graph.Annotations) {
            if (a.Type == 0)
                continue;
            const QPointF at(kx->coordToPixel(a.X), vy->coordToPixel(sign * a.Y));
            if (!axes.contains(at))
                continue;
            // A thin white ring keeps a dot visible on the darkest colours.
            painter->setPen(QPen(Qt::white, 1));
            painter->setBrush(FromGraphColor(a.Color));
            painter->drawEllipse(at, MarkerRadius, MarkerRadius);
            if (!a.Text.isEmpty()) {
                painter->setPen(FromGraphColor(a.Color));
                painter->drawText(at + QPointF(MarkerRadius + 2, -MarkerRadius), a.Text);
            }
        }
    }

private:
    const TContourGraph &Graph;
};

// The colour legend beside the plot: one box per band, values at the edges.
class TLegendStrip : public QWidget {
public:
    explicit TLegendStrip(const TContourGraph &graph, QWidget *parent) : QWidget(parent), Graph(graph)
    {
        setObjectName(QStringLiteral("Legend"));
        setFixedWidth(LegendWidth);
        setAutoFillBackground(true);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, Qt::white);
        setPalette(pal);
    }
    static void Paint(const TContourGraph &graph, QPainter &painter, const QRect &area);

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        Paint(Graph, painter, rect());
    }

private:
    const TContourGraph &Graph;
};

void TLegendStrip::Paint(const TContourGraph &graph, QPainter &painter, const QRect &area)
{
    painter.fillRect(area, Qt::white);
    const int bands = BandCount(graph.MinZ, graph.MaxZ, graph.ZAxisLine);
    if (bands == 0)
        return;
    const QRect bar(area.left() + 8, area.top() + 24, 16, std::max(10, area.height() - 48));
    painter.setPen(Qt::black);
    painter.setFont(QFont(painter.font().family(), 8));
    painter.drawText(QRect(area.left(), area.top() + 4, area.width(), 16), Qt::AlignCenter, QStringLiteral("Ohm.m"));
    // Values map linearly onto the bar; the last band stops at the maximum.
    const double span = graph.MaxZ - graph.MinZ;
    const auto yOf = [&](double v) {
        return span > 0 ? bar.bottom() + 1 - (v - graph.MinZ) / span * bar.height() : double(bar.top());
    };
    const auto label = [&](double y, double v) {
        painter.drawText(QRectF(bar.right() + 4, y - 7, area.width() - bar.width() - 12, 14),
                         Qt::AlignLeft | Qt::AlignVCenter, LegendNumber(v));
    };
    constexpr double LabelGap = 14;
    for (int k = 0; k < bands; ++k) {
        const double lo = graph.MinZ + k * graph.ZAxisLine;
        const double hi = std::min(graph.MaxZ, lo + graph.ZAxisLine);
        const int entry = TContourGraph::BandEntry(lo, graph.MinZ, graph.MaxZ, graph.ZAxisLine);
        const double top = span > 0 ? yOf(hi) : bar.top(), bottom = span > 0 ? yOf(lo) : bar.bottom() + 1;
        painter.fillRect(QRectF(bar.left(), top, bar.width(), bottom - top), FromGraphColor(graph.Colors[std::size_t(entry)]));
    }
    // The maximum at the top, the minimum at the bottom, and band edges in
    // between wherever they leave room for a whole label.
    label(bar.top(), span > 0 ? graph.MaxZ : graph.MinZ);
    if (span > 0) {
        double lastY = bar.bottom() + 1;
        label(lastY, graph.MinZ);
        for (int k = 1; k < bands; ++k) {
            const double y = yOf(graph.MinZ + k * graph.ZAxisLine);
            if (lastY - y >= LabelGap && y - bar.top() >= LabelGap) {
                label(y, graph.MinZ + k * graph.ZAxisLine);
                lastY = y;
            }
        }
    }
    painter.setPen(QColor(128, 128, 128));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
}

class TContourGraph::TImpl {
public:
    QWidget *Canvas = nullptr;
    QCustomPlot *Plot = nullptr;
    TCellsPlottable *Cells = nullptr;
    TLegendStrip *Legend = nullptr;
    QCPTextElement *Title = nullptr;
    QDialog *FullScreen = nullptr;
    QLabel *FullScreenCaption = nullptr;
    QCPRange XRange{0, 1}, YRange{0, 1};
    // Positions changed since the axes were fitted to the cells.
    bool GeometryDirty = false;
};

TContourGraph::TContourGraph(QWidget *parent) : QWidget(parent), D(std::make_unique<TImpl>())
{
    setObjectName(QStringLiteral("PESGraph1"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    D->Canvas = new QWidget(this);
    D->Canvas->setObjectName(QStringLiteral("Canvas"));
    auto *row = new QHBoxLayout(D->Canvas);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    D->Legend = new TLegendStrip(*this, D->Canvas);
    D->Plot = new QCustomPlot(D->Canvas);
    D->Plot->setObjectName(QStringLiteral("Plot"));
    row->addWidget(D->Legend);
    row->addWidget(D->Plot, 1);
    outer->addWidget(D->Canvas);

    QCustomPlot *plot = D->Plot;
    plot->setBackground(Qt::white);
    plot->xAxis->setVisible(false);
    plot->xAxis2->setVisible(true);
    plot->yAxis->setVisible(true);
    for (QCPAxis *a : {plot->xAxis2, plot->yAxis}) {
        a->setBasePen(QPen(Qt::black));
        a->setTickPen(QPen(Qt::black));
        a->setSubTickPen(QPen(Qt::black));
        a->grid()->setPen(QPen(QColor(192, 192, 192), 0, Qt::DotLine));
        a->grid()->setVisible(true);
    }
    // Grid lines under the cells would be hidden: they go above them, and
    // the markers above both.
    plot->addLayer(QStringLiteral("cellgrid"), plot->layer(QStringLiteral("main")), QCustomPlot::limAbove);
    plot->addLayer(QStringLiteral("markers"), plot->layer(QStringLiteral("cellgrid")), QCustomPlot::limAbove);
    plot->xAxis2->grid()->setLayer(QStringLiteral("cellgrid"));
    plot->yAxis->grid()->setLayer(QStringLiteral("cellgrid"));
    plot->setSelectionRectMode(QCP::srmZoom);
    plot->setInteractions(QCP::iRangeZoom);
    plot->axisRect()->setRangeZoomAxes(plot->xAxis2, plot->yAxis);
    plot->axisRect()->setRangeZoom(Qt::Horizontal | Qt::Vertical);
    D->Cells = new TCellsPlottable(*this, plot->xAxis2, plot->yAxis);
    D->Cells->setName(QStringLiteral("Rho"));
    auto *markers = new TMarkersPlottable(*this, plot->xAxis2, plot->yAxis);
    markers->setLayer(QStringLiteral("markers"));
    if (plot->legend)
        plot->legend->setVisible(false);
    // Positions written since the last picture: the axes take in the new cells.
    connect(plot, &QCustomPlot::beforeReplot, this, [this] {
        if (D->GeometryDirty)
            FitAxes();
    });
    TContourGraph::Changed();
}

TContourGraph::~TContourGraph() = default;

void TContourGraph::Changed()
{
    D->Plot->replot(QCustomPlot::rpQueuedReplot);
    D->Legend->update();
}

int TContourGraph::BandEntry(double v, double zmin, double zmax, double step)
{
    const int bands = BandCount(zmin, zmax, step);
    if (bands == 0)
        return 0;
    const int band = std::clamp(int(std::floor(std::clamp((v - zmin) / step, -1.0, double(bands)))), 0, bands - 1);
    const double span = zmax - zmin;
    if (span <= 0)
        return 25;
    return std::clamp(int(std::floor((band + 0.5) * step / span * 51.0)), 0, 50);
}

QColor TContourGraph::CellColor(int s, int p) const
{
    if (s < 0 || s >= Subsets() || p < 0 || p >= Points())
        return {};
    const float x = XData(s, p), y = YData(s, p), z = ZData(s, p);
    // Null positions and the not-yet-measured marker are left blank.
    if (x == float(NullX) || y == float(NullY) || z == NoValue || std::isnan(z))
        return {};
    if (BandCount(MinZ, MaxZ, ZAxisLine) == 0)
        return {};
    return FromGraphColor(Colors[std::size_t(BandEntry(z, MinZ, MaxZ, ZAxisLine))]);
}

void TContourGraph::Subsets(int count)
{
    TMemoryGraph2D::Subsets(count);
    D->GeometryDirty = true;
    Changed();
}
void TContourGraph::Points(int count)
{
    TMemoryGraph2D::Points(count);
    D->GeometryDirty = true;
    Changed();
}
void TContourGraph::XData(int s, int p, float v)
{
    TMemoryGraph2D::XData(s, p, v);
    D->GeometryDirty = true;
    Changed();
}
void TContourGraph::YData(int s, int p, float v)
{
    TMemoryGraph2D::YData(s, p, v);
    D->GeometryDirty = true;
    Changed();
}
void TContourGraph::ZData(int s, int p, float v)
{
    TMemoryGraph2D::ZData(s, p, v);
    Changed();
}

void TContourGraph::MainTitle(const QString &text)
{
    TMemoryGraph2D::MainTitle(text);
    // A blank title takes no room above the plot.
    const bool shown = !text.trimmed().isEmpty();
    if (shown && !D->Title) {
        D->Plot->plotLayout()->insertRow(0);
        D->Title = new QCPTextElement(D->Plot, text, QFont(font().family(), 10, QFont::Bold));
        D->Plot->plotLayout()->addElement(0, 0, D->Title);
    } else if (shown) {
        D->Title->setText(text);
    } else if (D->Title) {
        D->Plot->plotLayout()->remove(D->Title);
        D->Plot->plotLayout()->simplify();
        D->Title = nullptr;
    }
    Changed();
}
void TContourGraph::SubTitle(const QString &text)
{
    TMemoryGraph2D::SubTitle(text);
    Changed();
}
void TContourGraph::XAxisLabel(const QString &text)
{
    TMemoryGraph2D::XAxisLabel(text);
    D->Plot->xAxis2->setLabel(text);
    Changed();
}
void TContourGraph::YAxisLabel(const QString &text)
{
    TMemoryGraph2D::YAxisLabel(text);
    D->Plot->yAxis->setLabel(text);
    Changed();
}

void TContourGraph::ManualScaleControlX(TScaleControl c)
{
    TMemoryGraph2D::ManualScaleControlX(c);
    RangesChanged();
}
void TContourGraph::ManualScaleControlY(TScaleControl c)
{
    TMemoryGraph2D::ManualScaleControlY(c);
    RangesChanged();
}
void TContourGraph::ManualMinX(double v)
{
    TMemoryGraph2D::ManualMinX(v);
    RangesChanged();
}
void TContourGraph::ManualMaxX(double v)
{
    TMemoryGraph2D::ManualMaxX(v);
    RangesChanged();
}
void TContourGraph::ManualMinY(double v)
{
    TMemoryGraph2D::ManualMinY(v);
    RangesChanged();
}
void TContourGraph::ManualMaxY(double v)
{
    TMemoryGraph2D::ManualMaxY(v);
    RangesChanged();
}
void TContourGraph::ManualMinZ(double v)
{
    TMemoryGraph2D::ManualMinZ(v);
    Changed();
}
void TContourGraph::ManualMaxZ(double v)
{
    TMemoryGraph2D::ManualMaxZ(v);
    Changed();
}
void TContourGraph::ManualZAxisLine(double step)
{
    TMemoryGraph2D::ManualZAxisLine(step);
    Changed();
}
void TContourGraph::InvertedYAxis(bool inverted)
{
    TMemoryGraph2D::InvertedYAxis(inverted);
    RangesChanged();
}
void TContourGraph::SubsetColors(int index, TGraphColor color)
{
    TMemoryGraph2D::SubsetColors(index, color);
    Changed();
}
void TContourGraph::GraphAnnotationX(int i, double v)
{
    TMemoryGraph2D::GraphAnnotationX(i, v);
    Changed();
}
void TContourGraph::GraphAnnotationY(int i, double v)
{
    TMemoryGraph2D::GraphAnnotationY(i, v);
    Changed();
}
void TContourGraph::GraphAnnotationType(int i, int type)
{
    TMemoryGraph2D::GraphAnnotationType(i, type);
    Changed();
}
void TContourGraph::GraphAnnotationColor(int i, TGraphColor color)
{
    TMemoryGraph2D::GraphAnnotationColor(i, color);
    Changed();
}
void TContourGraph::GraphAnnotationText(int i, const QString &text)
{
    TMemoryGraph2D::GraphAnnotationText(i, text);
    Changed();
}

void TContourGraph::Appearance(const QString &name, const QVariant &value)
{
    TMemoryGraph2D::Appearance(name, value);
    if (name == QLatin1String("YAxisUp"))
        RangesChanged();
    else if (name == QLatin1String("Caption") && D->FullScreenCaption)
        D->FullScreenCaption->setText(value.toString());
}

QString TContourGraph::Caption() const { return Setting(QStringLiteral("Caption")).toString(); }

void TContourGraph::RangesChanged()
{
    FitAxes();
    Changed();
}

// The axes follow the manual ranges (or the cells) and take in every cell
// whole, so that the top and bottom rows are not cut in half. An inverted Y
// axis reads the negated values; it grows downwards (depths) unless the
// vertical is a position drawn north up.
void TContourGraph::FitAxes()
{
    D->GeometryDirty = false;
    QCustomPlot *plot = D->Plot;
    bool found = false;
    QCPRange x(MinX, MaxX);
    if (ScaleX == TScaleControl::sgAutoScale) {
        const QCPRange r = D->Cells->getKeyRange(found, QCP::sdBoth);
        if (found)
            x = r;
    }
    QCPRange y(MinY, MaxY);
    if (ScaleY == TScaleControl::sgAutoScale) {
        const QCPRange r = D->Cells->getValueRange(found, QCP::sdBoth, QCPRange());
        if (found)
            y = QCPRange(D->Cells->Sign() * r.lower, D->Cells->Sign() * r.upper);
    }
    if (Inverted)
        y = QCPRange(-y.upper, -y.lower);
    x.normalize();
    y.normalize();
    QRectF cells;
    if (D->Cells->Extent(cells)) {
        const auto take = [](QCPRange &r, double lo, double hi, bool valid) {
            if (!valid)
                r = QCPRange(lo, hi);
            r.expand(QCPRange(lo, hi));
        };
        const bool xValid = std::isfinite(x.lower) && std::isfinite(x.upper) && std::abs(x.lower) < 1e29;
        const bool yValid = std::isfinite(y.lower) && std::isfinite(y.upper) && std::abs(y.lower) < 1e29;
        take(x, cells.left(), cells.right(), xValid);
        take(y, cells.top(), cells.bottom(), yValid);
        // A single row (or column) is a strip across the view, not half of it.
        const TCellsPlottable::THalf half = D->Cells->Fallback();
        bool any = false;
        const QCPRange rows = D->Cells->getValueRange(any, QCP::sdBoth, QCPRange());
        if (any && rows.size() < 1e-9)
            y.expand(QCPRange(rows.center() - 4 * half.Y, rows.center() + 4 * half.Y));
        const QCPRange columns = D->Cells->getKeyRange(any, QCP::sdBoth);
        if (any && columns.size() < 1e-9)
            x.expand(QCPRange(columns.center() - 4 * half.X, columns.center() + 4 * half.X));
    }
    // A section on one depth or one position still needs an axis to draw on.
    for (QCPRange *r : {&x, &y})
        if (!(r->size() > 1e-6))
            *r = QCPRange(r->center() - 1, r->center() + 1);
    D->XRange = x;
    D->YRange = y;
    plot->xAxis2->setRange(x);
    plot->yAxis->setRange(y);
    plot->yAxis->setRangeReversed(Inverted && !Setting(QStringLiteral("YAxisUp")).toBool());
}

void TContourGraph::PEactions(TGraph2DAction action)
{
    TMemoryGraph2D::PEactions(action);
    switch (action) {
    case TGraph2DAction::sgReinitAndReset:
        Changed();
        break;
    case TGraph2DAction::sgUndoZoom:
        D->Plot->xAxis2->setRange(D->XRange);
        D->Plot->yAxis->setRange(D->YRange);
        Changed();
        break;
    case TGraph2DAction::sgExportDialog:
        ShowExportDialog();
        break;
    case TGraph2DAction::sgMaximize:
        ShowMaximized();
        break;
    case TGraph2DAction::sgPrintDialog:
        ShowPrintDialog();
        break;
    }
}

QRectF TContourGraph::VisibleRange() const
{
    if (D->GeometryDirty)
        const_cast<TContourGraph *>(this)->FitAxes();
    const QCPRange x = D->Plot->xAxis2->range(), y = D->Plot->yAxis->range();
    return QRectF(QPointF(x.lower, y.lower), QPointF(x.upper, y.upper));
}

QPoint TContourGraph::PixelOf(double x, double y) const
{
    if (D->GeometryDirty)
        const_cast<TContourGraph *>(this)->FitAxes();
    const double v = Inverted ? -y : y;
    const QPointF inPlot(D->Plot->xAxis2->coordToPixel(x), D->Plot->yAxis->coordToPixel(v));
    return D->Plot->mapTo(this, inPlot.toPoint());
}

QWidget *TContourGraph::MaximizedView() const { return D->FullScreen; }

void TContourGraph::Render(QPaintDevice *device, QSize size)
{
    QCPPainter painter(device);
    if (!painter.isActive())
        return;
    RenderOn(painter, QRect(QPoint(0, 0), size), true);
}

void TContourGraph::RenderOn(QCPPainter &painter, const QRect &area, bool withCaption)
{
    if (D->GeometryDirty)
        FitAxes();
    painter.save();
    painter.translate(area.topLeft());
    QSize size = area.size();
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    const QString caption = Caption();
    if (withCaption && !caption.isEmpty()) {
        painter.setPen(Qt::black);
        painter.setFont(QFont(font().family(), 11, QFont::Bold));
        painter.drawText(QRect(0, 0, size.width(), CaptionHeight), Qt::AlignCenter, caption);
        painter.translate(0, CaptionHeight);
        size.rheight() -= CaptionHeight;
    }
    TLegendStrip::Paint(*this, painter, QRect(0, 0, LegendWidth, size.height()));
    painter.translate(LegendWidth, 0);
    D->Plot->toPainter(&painter, std::max(1, size.width() - LegendWidth), std::max(1, size.height()));
    painter.restore();
}

bool TContourGraph::PrintPage(QPaintDevice *device, const QRect &page)
{
    QCPPainter painter(device);
    if (!painter.isActive())
        return false;
    const QLocale locale = QLocale::system();
    const QString file = DocumentName ? DocumentName() : QString();
    const QStringList header = {
        Caption().isEmpty() ? QStringLiteral("Rho pseudo section") : Caption(),
        file.isEmpty() ? QString() : QStringLiteral("File: ") + file,
        locale.toString(QDateTime::currentDateTime(), locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ')
                                                          + locale.timeFormat(QLocale::LongFormat)),
    };
    painter.save();
    painter.setPen(Qt::black);
    int y = page.top();
    for (int k = 0; k < header.size(); ++k) {
        painter.setFont(QFont(font().family(), k == 0 ? 12 : 9, k == 0 ? QFont::Bold : QFont::Normal));
        const int h = QFontMetrics(painter.font(), painter.device()).height();
        painter.drawText(QRect(page.left(), y, page.width(), h), Qt::AlignLeft | Qt::AlignVCenter, header[k]);
        y += h + 2;
    }
    painter.restore();
    RenderOn(painter, QRect(page.left(), y + 6, page.width(), std::max(1, page.bottom() - y - 6)), false);
    return true;
}

bool TContourGraph::ExportTo(const QString &path, TExportFormat format, QString *error)
{
    const QSize size = D->Canvas->size().expandedTo(QSize(400, 300));
    QString reason;
    switch (format) {
    // Each picture is drawn into memory first, then written through the safe
    // writer: a full disk never leaves a half picture over an earlier one.
    case TExportFormat::Png: {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        Render(&image, size);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG"))
            reason = QStringLiteral("cannot encode the picture");
        else
            reason = TSafeFile::Write(path, buffer.data());
        break;
    }
    case TExportFormat::Pdf: {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        {
            QPdfWriter pdf(&buffer);
            pdf.setResolution(96);
            pdf.setPageSize(QPageSize(QSizeF(size), QPageSize::Point));
            pdf.setPageMargins(QMarginsF());
            pdf.setTitle(QStringLiteral("Rho pseudo section"));
            Render(&pdf, QSize(pdf.width(), pdf.height()));
        }
        reason = TSafeFile::Write(path, buffer.data());
        break;
    }
    case TExportFormat::Svg: {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        {
            QSvgGenerator svg;
            svg.setOutputDevice(&buffer);
            svg.setSize(size);
            svg.setViewBox(QRect(QPoint(0, 0), size));
            svg.setTitle(QStringLiteral("Rho pseudo section"));
            Render(&svg, size);
        }
        reason = TSafeFile::Write(path, buffer.data());
        break;
    }
    case TExportFormat::Csv: {
        // One line per cell with the positions as the survey has them (the
        // vertical values come negated); no value where the cell holds none.
        // The second copy of a single row is not written again.
        const QString columns = Setting(QStringLiteral("CsvColumns")).toString();
        QByteArray out = "row,column," + (columns.isEmpty() ? QByteArray("x,y") : columns.toLatin1()) + ",rho\r\n";
        const float sign = Inverted ? -1.0f : 1.0f;
        for (int s = 0; s < Subsets(); ++s) {
            if (s > 0 && SameRow(s - 1, s))
                continue;
            for (int p = 0; p < Points(); ++p) {
                const float x = XData(s, p), y = YData(s, p), z = ZData(s, p);
                const bool positioned = x != float(NullX) && y != float(NullY);
                out += QByteArray::number(s) + ',' + QByteArray::number(p) + ',';
                if (positioned)
                    out += FormatFileReal(x, 7).toLatin1() + ',' + FormatFileReal(y == 0 ? 0.0f : sign * y, 7).toLatin1();
                else
                    out += ',';
                out += ',';
                if (positioned && z != NoValue)
                    out += FormatFileReal(z, 7).toLatin1();
                out += "\r\n";
            }
        }
        reason = TSafeFile::Write(path, out);
        break;
    }
    }
    if (!reason.isEmpty() && error)
        *error = reason;
    return reason.isEmpty();
}

bool TContourGraph::SameRow(int a, int b) const
{
    for (int p = 0; p < Points(); ++p)
        if (XData(a, p) != XData(b, p) || YData(a, p) != YData(b, p) || ZData(a, p) != ZData(b, p))
            return false;
    return true;
}

void TContourGraph::ShowExportDialog()
{
    // Not modal to the application: an acquisition keeps measuring meanwhile.
    auto *dialog = new QFileDialog(window(), QStringLiteral("Export"));
    dialog->setObjectName(QStringLiteral("ExportDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    // Pictures belong beside the data, not in whatever folder the program started in.
    dialog->setDirectory(DataFolder());
    const QStringList filters = {QStringLiteral("PNG picture (*.png)"), QStringLiteral("PDF document (*.pdf)"),
                                 QStringLiteral("SVG drawing (*.svg)"), QStringLiteral("Section cells, CSV (*.csv)")};
    dialog->setNameFilters(filters);
    dialog->setDefaultSuffix(QStringLiteral("png"));
    connect(dialog, &QFileDialog::filterSelected, dialog, [dialog, filters](const QString &f) {
        static const char *const suffixes[] = {"png", "pdf", "svg", "csv"};
        dialog->setDefaultSuffix(QString::fromLatin1(suffixes[std::max<qsizetype>(0, filters.indexOf(f))]));
    });
    connect(dialog, &QFileDialog::fileSelected, this, [this, dialog, filters](const QString &path) {
        TExportFormat format = TExportFormat(std::max<qsizetype>(0, filters.indexOf(dialog->selectedNameFilter())));
        const QString suffix = QFileInfo(path).suffix().toLower();
        if (suffix == QLatin1String("pdf"))
            format = TExportFormat::Pdf;
        else if (suffix == QLatin1String("svg"))
            format = TExportFormat::Svg;
        else if (suffix == QLatin1String("csv"))
            format = TExportFormat::Csv;
        else if (suffix == QLatin1String("png"))
            format = TExportFormat::Png;
        QString error;
        if (!ExportTo(path, format, &error))
            emit ExportFailed(QStringLiteral("Export failed: %1 (%2)").arg(path, error));
    });
    dialog->open();
}

void TContourGraph::ShowPrintDialog()
{
    // Screen resolution: the page is laid out in the same units as the
    // screen, so fonts and dots print at the size they are seen.
    auto *printer = new QPrinter(QPrinter::ScreenResolution);
    printer->setPageOrientation(QPageLayout::Landscape);
    printer->setDocName(Caption().isEmpty() ? QStringLiteral("Rho pseudo section") : Caption());
    auto *dialog = new QPrintDialog(printer, window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this, [printer](int) { delete printer; });
    connect(dialog, &QDialog::accepted, this, [this, printer] { PrintTo(printer); });
    dialog->open();
}

void TContourGraph::PrintTo(QPrinter *printer)
{
    const QRect page = printer->pageLayout().paintRectPixels(printer->resolution());
    if (!PrintPage(printer, QRect(QPoint(0, 0), page.size())))
        emit ExportFailed(QStringLiteral("Print failed: the printer could not be opened"));
}

void TContourGraph::ShowMaximized()
{
    if (D->FullScreen) {
        D->FullScreen->raise();
        return;
    }
    // The same canvas moves into a full-screen window and back when it closes,
    // so what the acquisition draws meanwhile shows there.
    auto *view = new QDialog(window());
    view->setObjectName(QStringLiteral("FullScreenView"));
    view->setWindowTitle(QStringLiteral("Rho pseudo section"));
    view->setAttribute(Qt::WA_DeleteOnClose);
    if (!Caption().isEmpty())
        view->setWindowTitle(Caption());
    auto *l = new QVBoxLayout(view);
    l->setContentsMargins(0, 0, 0, 0);
    D->FullScreenCaption = new QLabel(Caption(), view);
    D->FullScreenCaption->setObjectName(QStringLiteral("FullScreenCaption"));
    D->FullScreenCaption->setAlignment(Qt::AlignCenter);
    D->FullScreenCaption->setStyleSheet(QStringLiteral("background: white; font-weight: bold; padding: 4px"));
    l->addWidget(D->FullScreenCaption);
    l->addWidget(D->Canvas);
    D->FullScreen = view;
    connect(view, &QObject::destroyed, this, [this] {
        D->FullScreen = nullptr;
        D->FullScreenCaption = nullptr;
    });
    connect(view, &QDialog::finished, this, [this] {
        layout()->addWidget(D->Canvas);
        D->Canvas->show();
    });
    view->showFullScreen();
    Changed();
}
