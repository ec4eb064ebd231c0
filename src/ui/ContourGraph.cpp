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
constexpr int MarkerRadius = 2;

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
                const double v = keys ? Graph.XData(s, p) : Graph.YData(s, p);
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
    const double sign = Graph.Inverted ? -1.0 : 1.0;
    // A cell with no neighbour of another position spans half the grid's
    // mean spacing each way; with a single row or column, the whole view.
    bool found = false;
    const QCPRange spanX = Range(true, found), spanY = Range(false, found);
    const int subsets = Graph.Subsets(), points = Graph.Points();
    const double fallbackX = points > 1 && spanX.size() > 0 ? spanX.size() / (points - 1) / 2 : kx->range().size() / 2;
    const double fallbackY = subsets > 1 && spanY.size() > 0 ? spanY.size() / (subsets - 1) / 2 : vy->range().size() / 2;
    painter->setPen(Qt::NoPen);
    painter->setRenderHint(QPainter::Antialiasing, false);
    for (int s = 0; s < subsets; ++s) {
        for (int p = 0; p < points; ++p) {
            const QColor color = Graph.CellColor(s, p);
            if (!color.isValid())
                continue;
            const double x = Graph.XData(s, p), y = sign * Graph.YData(s, p);
            const bool hasX[2] = {Valid(s, p - 1), Valid(s, p + 1)};
            const bool hasY[2] = {Valid(s - 1, p), Valid(s + 1, p)};
            const double nx[2] = {hasX[0] ? Graph.XData(s, p - 1) : 0.0, hasX[1] ? Graph.XData(s, p + 1) : 0.0};
            const double ny[2] = {hasY[0] ? sign * Graph.YData(s - 1, p) : 0.0, hasY[1] ? sign * Graph.YData(s + 1, p) : 0.0};
            double left = 0, right = 0, top = 0, bottom = 0;
            Edges(x, nx, hasX, fallbackX, left, right);
            Edges(y, ny, hasY, fallbackY, top, bottom);
            const QPointF a(kx->coordToPixel(left), vy->coordToPixel(top));
            const QPointF b(kx->coordToPixel(right), vy->coordToPixel(bottom));
            painter->fillRect(QRectF(a, b).normalized(), color);
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
        painter->setRenderHint(QPainter::Antialiasing, true);
        for (const TAnnotation &a : Graph.Annotations) {
            if (a.Type == 0)
                continue;
            const QPointF at(kx->coordToPixel(a.X), vy->coordToPixel(sign * a.Y));
            painter->setPen(Qt::NoPen);
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
    const double h = double(bar.height()) / bands;
    const int labelEvery = std::max(1, int(std::ceil(14.0 / std::max(h, 0.01))));
    for (int k = 0; k < bands; ++k) {
        const double lo = graph.MinZ + k * graph.ZAxisLine;
        const int entry = TContourGraph::BandEntry(lo, graph.MinZ, graph.MaxZ, graph.ZAxisLine);
        const QRectF box(bar.left(), bar.bottom() + 1 - (k + 1) * h, bar.width(), h);
        painter.fillRect(box, FromGraphColor(graph.Colors[std::size_t(entry)]));
        if (k % labelEvery == 0)
            painter.drawText(QRectF(bar.right() + 4, box.bottom() - 7, area.width() - bar.width() - 12, 14),
                             Qt::AlignLeft | Qt::AlignVCenter, LegendNumber(lo));
    }
    const double top = graph.MinZ + bands * graph.ZAxisLine;
    painter.drawText(QRectF(bar.right() + 4, bar.top() - 7, area.width() - bar.width() - 12, 14),
                     Qt::AlignLeft | Qt::AlignVCenter, LegendNumber(top));
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
    QCPRange XRange{0, 1}, YRange{0, 1};
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
    Changed();
}
void TContourGraph::Points(int count)
{
    TMemoryGraph2D::Points(count);
    Changed();
}
void TContourGraph::XData(int s, int p, float v)
{
    TMemoryGraph2D::XData(s, p, v);
    Changed();
}
void TContourGraph::YData(int s, int p, float v)
{
    TMemoryGraph2D::YData(s, p, v);
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

// The axes follow the manual ranges (or the cells); an inverted Y axis reads
// the negated values and grows downwards, so negated depths read as depths.
void TContourGraph::RangesChanged()
{
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
            y = r;
    }
    if (Inverted)
        y = QCPRange(-y.upper, -y.lower);
    x.normalize();
    y.normalize();
    // A section on one depth or one position still needs an axis to draw on.
    for (QCPRange *r : {&x, &y})
        if (!(r->size() > 1e-6))
            *r = QCPRange(r->center() - 1, r->center() + 1);
    D->XRange = x;
    D->YRange = y;
    plot->xAxis2->setRange(x);
    plot->yAxis->setRange(y);
    plot->yAxis->setRangeReversed(Inverted);
    Changed();
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
    const QCPRange x = D->Plot->xAxis2->range(), y = D->Plot->yAxis->range();
    return QRectF(QPointF(x.lower, y.lower), QPointF(x.upper, y.upper));
}

QPoint TContourGraph::PixelOf(double x, double y) const
{
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
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    TLegendStrip::Paint(*this, painter, QRect(0, 0, LegendWidth, size.height()));
    painter.translate(LegendWidth, 0);
    D->Plot->toPainter(&painter, std::max(1, size.width() - LegendWidth), size.height());
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
        // One line per cell; no value where the cell holds none.
        QByteArray out = "subset,point,x,y,rho\r\n";
        for (int s = 0; s < Subsets(); ++s)
            for (int p = 0; p < Points(); ++p) {
                const float x = XData(s, p), y = YData(s, p), z = ZData(s, p);
                const bool positioned = x != float(NullX) && y != float(NullY);
                out += QByteArray::number(s) + ',' + QByteArray::number(p) + ',';
                if (positioned)
                    out += FormatFileReal(x, 7).toLatin1() + ',' + FormatFileReal(y, 7).toLatin1();
                else
                    out += ',';
                out += ',';
                if (positioned && z != NoValue)
                    out += FormatFileReal(z, 7).toLatin1();
                out += "\r\n";
            }
        reason = TSafeFile::Write(path, out);
        break;
    }
    }
    if (!reason.isEmpty() && error)
        *error = reason;
    return reason.isEmpty();
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
    auto *printer = new QPrinter(QPrinter::HighResolution);
    auto *dialog = new QPrintDialog(printer, window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this, [printer](int) { delete printer; });
    connect(dialog, &QDialog::accepted, this, [this, printer] {
        printer->setPageOrientation(QPageLayout::Landscape);
        const QRect page = printer->pageLayout().paintRectPixels(printer->resolution());
        Render(printer, page.size());
    });
    dialog->open();
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
    auto *l = new QVBoxLayout(view);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(D->Canvas);
    D->FullScreen = view;
    connect(view, &QObject::destroyed, this, [this] { D->FullScreen = nullptr; });
    connect(view, &QDialog::finished, this, [this] {
        layout()->addWidget(D->Canvas);
        D->Canvas->show();
    });
    view->showFullScreen();
    Changed();
}
