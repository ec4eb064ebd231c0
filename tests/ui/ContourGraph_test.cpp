// The pseudo-section graph as drawn: pixels of cells coloured by the table,
// blank no-value cells, the markers, zoom and export.
#include "ui/ContourGraph.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

namespace {
constexpr float Null = -9e30f;

// Every table entry a distinct colour, so a pixel names its entry.
TGraphColor Entry(int i) { return PEargb(255, std::uint8_t(i * 5), 40, std::uint8_t(250 - i * 5)); }
QColor EntryColor(int i) { return QColor(i * 5, 40, 250 - i * 5); }

// Two rows at depths 2 m and 6 m, three columns at 10, 20, 30 m.
struct TSection {
    TContourGraph Graph;
    TSection()
    {
        Graph.resize(700, 420);
        Graph.NullDataValueX(Null);
        Graph.NullDataValueY(Null);
        Graph.InvertedYAxis(true);
        Graph.ManualScaleControlX(TScaleControl::sgManualMinAndMax);
        Graph.ManualScaleControlY(TScaleControl::sgManualMinAndMax);
        Graph.ManualMinX(5);
        Graph.ManualMaxX(35);
        Graph.ManualMinY(-8);
        Graph.ManualMaxY(0);
        Graph.ManualScaleControlZ(TScaleControl::sgManualMinAndMax);
        Graph.ManualMinZ(0);
        Graph.ManualMaxZ(500);
        Graph.ManualZAxisLine(10);
        for (int i = 0; i < 51; ++i)
            Graph.SubsetColors(i, Entry(i));
        Graph.Subsets(2);
        Graph.Points(3);
        const float z[2][3] = {{5, 250, 495}, {Null, 120, 600}};
        for (int s = 0; s < 2; ++s)
            for (int p = 0; p < 3; ++p) {
                Graph.XData(s, p, 10.0f * float(p + 1));
                Graph.YData(s, p, s == 0 ? -2.0f : -6.0f);
                Graph.ZData(s, p, z[s][p]);
            }
        Graph.show();
    }
    QImage Picture()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
        return Graph.grab().toImage();
    }
    QColor At(const QImage &image, double x, double y, QPoint offset = {})
    {
        return image.pixelColor(Graph.PixelOf(x, y) + offset);
    }
};
} // namespace

TEST(ContourGraph, bandEntryFollowsTheStepAcrossTheRange)
{
    struct {
        double v, zmin, zmax, step;
        int entry;
    } cases[] = {
        {5, 0, 500, 10, 0},     {250, 0, 500, 10, 26},  {495, 0, 500, 10, 50},
        {-40, 0, 500, 10, 0},   {9000, 0, 500, 10, 50}, {12, 12, 488, 10, 0},
        {487.9, 12, 488, 10, 50}, {100, 0, 1000, 21, 4},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TContourGraph::BandEntry(c.v, c.zmin, c.zmax, c.step), c.entry) << c.v << " in " << c.zmin << ".." << c.zmax;
}

TEST(ContourGraph, cellsTakeTheirTableEntryAndNoValueCellsStayBlank)
{
    TSection t;
    const QImage image = t.Picture();
    // Off the marker, a little to the right of each cell's centre.
    const QPoint aside(12, 6);
    EXPECT_EQ(t.At(image, 10, -2, aside), EntryColor(0));
    EXPECT_EQ(t.At(image, 20, -2, aside), EntryColor(26));
    EXPECT_EQ(t.At(image, 30, -2, aside), EntryColor(50));
    EXPECT_EQ(t.At(image, 30, -6, aside), EntryColor(50)); // above the range: the top entry
    EXPECT_EQ(t.At(image, 20, -6, aside), EntryColor(12));
    // Not yet measured: nothing painted there.
    EXPECT_EQ(t.At(image, 10, -6, aside), QColor(Qt::white));
    // Depth grows downwards: the deeper row is lower on screen.
    EXPECT_GT(t.Graph.PixelOf(20, -6).y(), t.Graph.PixelOf(20, -2).y());

    t.Graph.XData(0, 1, Null);
    const QImage blank = t.Picture();
    EXPECT_EQ(t.At(blank, 20, -2, QPoint(0, 6)), QColor(Qt::white)) << "a cell at the null position is not drawn";
}

TEST(ContourGraph, markersAreDrawnOverTheCellsAndClearedWithIndexMinusOne)
{
    TSection t;
    t.Graph.GraphAnnotationX(0, 20);
    t.Graph.GraphAnnotationY(0, -2);
    t.Graph.GraphAnnotationType(0, 1);
    t.Graph.GraphAnnotationColor(0, PEargb(255, 0, 0, 0));
    t.Graph.GraphAnnotationText(0, QString());
    EXPECT_EQ(t.At(t.Picture(), 20, -2), QColor(Qt::black));

    t.Graph.GraphAnnotationX(-1, 0);
    EXPECT_NE(t.At(t.Picture(), 20, -2), QColor(Qt::black));
}

TEST(ContourGraph, unZoomReturnsToTheRangesSet)
{
    TSection t;
    t.Picture();
    const QRectF full = t.Graph.VisibleRange();
    auto *plot = t.Graph.findChild<QWidget *>(QStringLiteral("Plot"));
    ASSERT_NE(plot, nullptr);
    const QPoint from = plot->mapFrom(&t.Graph, t.Graph.PixelOf(12, -1));
    const QPoint to = plot->mapFrom(&t.Graph, t.Graph.PixelOf(22, -4));
    auto send = [plot](QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent e(type, QPointF(at), plot->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
        QApplication::sendEvent(plot, &e);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    const QRectF zoomed = t.Graph.VisibleRange();
    EXPECT_NEAR(zoomed.left(), 12, 0.5);
    EXPECT_NEAR(zoomed.right(), 22, 0.5);

    t.Graph.PEactions(TGraph2DAction::sgUndoZoom);
    EXPECT_EQ(t.Graph.VisibleRange(), full);
    EXPECT_NEAR(full.left(), 5, 1e-9);
    EXPECT_NEAR(full.right(), 35, 1e-9);
}

TEST(ContourGraph, exportWritesEachFormatAndReportsAFileItCannotWrite)
{
    TSection t;
    t.Picture();
    QTemporaryDir dir;
    using F = TContourGraph::TExportFormat;
    const struct {
        const char *name;
        F format;
        QByteArray start;
    } files[] = {{"v.png", F::Png, "\x89PNG"}, {"v.pdf", F::Pdf, "%PDF"}, {"v.svg", F::Svg, "<?xml"}, {"v.csv", F::Csv, "row,"}};
    for (const auto &f : files) {
        const QString path = dir.filePath(QString::fromLatin1(f.name));
        ASSERT_TRUE(t.Graph.ExportTo(path, f.format)) << f.name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().startsWith(f.start)) << f.name;
    }
    QFile csv(dir.filePath(QStringLiteral("v.csv")));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    // Depths as the survey has them, not as handed to the graph (negated).
    EXPECT_EQ(lines[0].trimmed(), "row,column,x,y,rho");
    EXPECT_EQ(lines[1].trimmed(), "0,0,10,2,5");
    EXPECT_EQ(lines[4].trimmed(), "1,0,10,6,") << "a cell not measured has no value";

    QString error;
    for (F format : {F::Png, F::Pdf, F::Svg, F::Csv}) {
        EXPECT_FALSE(t.Graph.ExportTo(dir.filePath(QStringLiteral("missing/v.out")), format, &error));
        EXPECT_FALSE(error.isEmpty());
        error.clear();
    }
}

TEST(ContourGraph, fullScreenViewShowsTheSameGraphAndGivesItBack)
{
    TSection t;
    auto *canvas = t.Graph.findChild<QWidget *>(QStringLiteral("Canvas"));
    ASSERT_NE(canvas, nullptr);
    t.Graph.Appearance("Caption", "Rho pseudo section, XZ plane, Y 0");
    t.Graph.PEactions(TGraph2DAction::sgMaximize);
    QWidget *view = t.Graph.MaximizedView();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    auto *caption = view->findChild<QLabel *>("FullScreenCaption");
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->text(), "Rho pseudo section, XZ plane, Y 0");
    t.Graph.Appearance("Caption", "Rho pseudo section, XZ plane, Y 4");
    EXPECT_EQ(caption->text(), "Rho pseudo section, XZ plane, Y 4") << "follows the section drawn";
    EXPECT_EQ(canvas->window(), view);
    // Values drawn meanwhile show there.
    t.Graph.ZData(0, 0, 250);
    EXPECT_EQ(t.Graph.CellColor(0, 0), EntryColor(26));
    view->close();
    QApplication::processEvents();
    EXPECT_EQ(t.Graph.MaximizedView(), nullptr);
    EXPECT_EQ(canvas->parentWidget(), &t.Graph);
}

TEST(ContourGraph, sectionOnASingleDepthStillGetsAnAxisAndItsCells)
{
    TSection t;
    // One row handed over twice, as the section does; both at 2 m.
    for (int p = 0; p < 3; ++p)
        t.Graph.YData(1, p, -2.0f);
    t.Graph.ManualMinY(-2);
    t.Graph.ManualMaxY(-2);
    const QRectF range = t.Graph.VisibleRange();
    EXPECT_GT(range.height(), 0.5);
    const QImage image = t.Picture();
    EXPECT_EQ(t.At(image, 20, -2, QPoint(12, 30)), EntryColor(12)) << "the later row wins where both cover";
}

TEST(ContourGraph, csvOfASingleRowMapKeepsTheSignOfYAndWritesTheRowOnce)
{
    TSection t;
    // A depth slice along the line y = -5 m: one row, handed over twice and
    // negated, drawn north up.
    for (int s = 0; s < 2; ++s)
        for (int p = 0; p < 3; ++p) {
            t.Graph.YData(s, p, 5.0f);
            t.Graph.ZData(s, p, 100.0f * float(p + 1));
        }
    t.Graph.Appearance("YAxisUp", true);
    t.Graph.Appearance("CsvColumns", "x,y");
    QTemporaryDir dir;
    const QString path = dir.filePath("map.csv");
    ASSERT_TRUE(t.Graph.ExportTo(path, TContourGraph::TExportFormat::Csv));
    QFile csv(path);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QByteArray text = csv.readAll();
    EXPECT_EQ(text, "row,column,x,y,rho\r\n0,0,10,-5,100\r\n0,1,20,-5,200\r\n0,2,30,-5,300\r\n");
    // North up: a larger y is higher on screen.
    EXPECT_LT(t.Graph.PixelOf(20, -6).y(), t.Graph.PixelOf(20, -4).y());
}

TEST(ContourGraph, axesTakeInTheWholeTopAndBottomRowsAndASingleRowIsAStrip)
{
    TSection t;
    // The ranges the section hands over: the positions widened by 1 %.
    t.Graph.ManualMinY(-6.04);
    t.Graph.ManualMaxY(-1.96);
    t.Graph.ManualMinX(9.9);
    t.Graph.ManualMaxX(30.1);
    QRectF range = t.Graph.VisibleRange();
    // Rows at 2 and 6 m reach 0 and 8 m, columns 10..30 reach 5..35.
    EXPECT_LE(range.top(), 0.0 + 1e-9);
    EXPECT_GE(range.bottom(), 8.0 - 1e-9);
    EXPECT_LE(range.left(), 5.0 + 1e-9);
    EXPECT_GE(range.right(), 35.0 - 1e-9);

    for (int p = 0; p < 3; ++p)
        t.Graph.YData(1, p, -2.0f);
    t.Graph.ManualMinY(-2);
    t.Graph.ManualMaxY(-2);
    range = t.Graph.VisibleRange();
    const QImage image = t.Picture();
    const int top = t.Graph.PixelOf(20, range.top()).y(), bottom = t.Graph.PixelOf(20, range.bottom()).y();
    int painted = 0;
    for (int y = std::min(top, bottom); y <= std::max(top, bottom); ++y)
        painted += image.pixelColor(t.Graph.PixelOf(20, -2).x() + 12, y) != QColor(Qt::white);
    EXPECT_GT(painted, 4);
    EXPECT_LT(painted, std::abs(bottom - top) / 3) << "a single row takes a strip, not half the view";
}

TEST(ContourGraph, svgKeepsCellsInsideTheAxesAndTheLegendLabelsApart)
{
    TSection t;
    t.Graph.Appearance("Caption", "Rho pseudo section, XZ plane, Y 0");
    // Zoomed in: most cells lie outside the axes.
    t.Graph.ManualMinX(18);
    t.Graph.ManualMaxX(22);
    t.Graph.ManualMinZ(12);
    t.Graph.ManualMaxZ(488);
    QTemporaryDir dir;
    const QString path = dir.filePath("v.svg");
    ASSERT_TRUE(t.Graph.ExportTo(path, TContourGraph::TExportFormat::Svg));
    // The SVG drawn back: between the legend and the y axis (where the
    // tick labels are) no cell colour.
    QSvgRenderer renderer(path);
    ASSERT_TRUE(renderer.isValid());
    QImage image(renderer.defaultSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    auto *plot = t.Graph.findChild<QWidget *>("Plot");
    const int left = plot->mapTo(&t.Graph, QPoint(0, 0)).x() + 2;
    const int y = t.Graph.PixelOf(20, -2).y() + 26; // below the caption strip
    for (int x = left; x < left + 20; ++x) {
        const QColor c = image.pixelColor(x, y);
        EXPECT_EQ(c.red(), c.blue()) << "no cell drawn outside the axes at x " << x;
    }

    QFile svg(path);
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(svg.readAll());
    EXPECT_TRUE(text.contains("Rho pseudo section, XZ plane, Y 0")) << "exports carry the caption";
    // Legend: the maximum is the top label, nothing above it.
    EXPECT_TRUE(text.contains(">488<"));
    EXPECT_FALSE(text.contains(">492<"));
}

TEST(ContourGraph, printedPageShowsHeaderLegendAndDotsAtScreenSize)
{
    TSection t;
    t.Graph.Appearance("Caption", "Rho pseudo section, XZ plane, Y 0");
    t.Graph.DocumentName = [] { return QStringLiteral("/data/line1.bin"); };
    t.Graph.GraphAnnotationX(0, 20);
    t.Graph.GraphAnnotationY(0, -2);
    t.Graph.GraphAnnotationType(0, 1);
    t.Graph.GraphAnnotationColor(0, PEargb(255, 0, 0, 0));
    t.Picture();
    // An A4 landscape page at screen resolution.
    QImage page(1047, 718, QImage::Format_RGB32);
    page.fill(Qt::white);
    ASSERT_TRUE(t.Graph.PrintPage(&page, page.rect()));
    // The legend is as wide as on screen: its colour bar holds many pixels
    // of the table's colours, and the dot is a visible black disc.
    int legend = 0, black = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            if (x < 40 && c.green() == 40 && c.blue() != 40)
                ++legend;
            if (c == QColor(Qt::black))
                ++black;
        }
    EXPECT_GT(legend, 16 * 300);
    EXPECT_GT(black, 30);
}
