#pragma once
// The pseudo-section graph on screen: the grid's cells painted in colour bands,
// a marker per annotation, a colour legend, framed zoom, export and a
// full-screen view. It keeps everything it is told (as the in-memory graph
// does) and draws from that on the next repaint.
#include "graph/MemoryGraph.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCPPainter;
class QPainter;
class QPaintDevice;
class QPrinter;

class TContourGraph : public QWidget, public TMemoryGraph2D {
    Q_OBJECT
public:
    enum class TExportFormat { Png, Pdf, Svg, Csv };

    explicit TContourGraph(QWidget *parent = nullptr);
    ~TContourGraph() override;

    using TMemoryGraph2D::Points;
    using TMemoryGraph2D::Subsets;
    using TMemoryGraph2D::XData;
    using TMemoryGraph2D::YData;
    using TMemoryGraph2D::ZData;
    void Subsets(int count) override;
    void Points(int count) override;
    void XData(int subset, int point, float value) override;
    void YData(int subset, int point, float value) override;
    void ZData(int subset, int point, float value) override;
    void MainTitle(const QString &text) override;
    void SubTitle(const QString &text) override;
    void XAxisLabel(const QString &text) override;
    void YAxisLabel(const QString &text) override;

    void ManualScaleControlX(TScaleControl control) override;
    void ManualScaleControlY(TScaleControl control) override;
    void ManualMinX(double v) override;
    void ManualMaxX(double v) override;
    void ManualMinY(double v) override;
    void ManualMaxY(double v) override;
    void ManualMinZ(double v) override;
    void ManualMaxZ(double v) override;
    void ManualZAxisLine(double step) override;
    void InvertedYAxis(bool inverted) override;
    void SubsetColors(int index, TGraphColor color) override;
    void GraphAnnotationX(int index, double v) override;
    void GraphAnnotationY(int index, double v) override;
    void GraphAnnotationType(int index, int type) override;
    void GraphAnnotationColor(int index, TGraphColor color) override;
    void GraphAnnotationText(int index, const QString &text) override;
    void PEactions(TGraph2DAction action) override;
    // Besides the look, "Caption" (exports, prints, full screen), "YAxisUp"
    // (a map drawn north up) and "CsvColumns" (names of the position columns).
    void Appearance(const QString &name, const QVariant &value) override;
    QString Caption() const;

    // Table entry (0..50) of value v: its band floor((v - zmin) / step),
    // placed by the band's middle across zmin..zmax.
    static int BandEntry(double v, double zmin, double zmax, double step);
    // Colour of a cell, or an invalid colour when the cell is not painted.
    QColor CellColor(int subset, int point) const;

    // Writes the view (PNG, PDF, SVG) or the cells (CSV) to path; false with
    // the reason in error when the file cannot be written.
    bool ExportTo(const QString &path, TExportFormat format, QString *error = nullptr);
    // Paints the caption, the legend and the plot onto any paint device of that size.
    void Render(QPaintDevice *device, QSize size);
    // A printed page: caption, file name and date above what the screen shows.
    bool PrintPage(QPaintDevice *device, const QRect &page);
    void PrintTo(QPrinter *printer);
    // The data file the section comes from, for the printed page.
    std::function<QString()> DocumentName;
    // Where a graph position shows, in this widget's coordinates.
    QPoint PixelOf(double x, double y) const;
    // Axis ranges as shown (zoomed or not).
    QRectF VisibleRange() const;
    // The full-screen view while it is open, else nullptr.
    QWidget *MaximizedView() const;

signals:
    void ExportFailed(const QString &message);

private:
    class TImpl;
    std::unique_ptr<TImpl> D;
    void Changed();
    void RangesChanged();
    void FitAxes();
    void RenderOn(QCPPainter &painter, const QRect &area, bool withCaption);
    bool SameRow(int a, int b) const;
    void ShowExportDialog();
    void ShowPrintDialog();
    void ShowMaximized();
};
