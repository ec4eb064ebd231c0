#include "ui/ScatterGraph.h"

#include <QtDataVisualization/Q3DCamera>
#include <QtDataVisualization/Q3DInputHandler>
#include <QtDataVisualization/Q3DScatter>
#include <QtDataVisualization/Q3DScene>
#include <QtDataVisualization/Q3DTheme>
#include <QtDataVisualization/QScatter3DSeries>
#include <QtDataVisualization/QScatterDataProxy>
#include <QtDataVisualization/QValue3DAxis>

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <map>

namespace {
constexpr int LabelPointSize = 16;

// Extent of the drawn values along one axis.
struct TAxisSpan {
    double Lo = 0, Hi = 0;
    bool Any = false;
    void Take(double v)
    {
        Lo = Any ? std::min(Lo, v) : v;
        Hi = Any ? std::max(Hi, v) : v;
        Any = true;
    }
    double Size() const { return Any ? Hi - Lo : 0; }
    // Widened around its middle to at least this size.
    void AtLeast(double size)
    {
        if (Size() >= size)
            return;
        const double mid = Any ? (Lo + Hi) / 2 : 0;
        Lo = mid - size / 2;
        Hi = mid + size / 2;
        Any = true;
    }
};

// Rotation follows the left button as well as the right one.
class TRotateHandler : public Q3DInputHandler {
public:
    using Q3DInputHandler::Q3DInputHandler;
    void mousePressEvent(QMouseEvent *event, const QPoint &pos) override
    {
        if (event->button() == Qt::LeftButton) {
            QMouseEvent right(event->type(), event->position(), event->scenePosition(), event->globalPosition(),
                              Qt::RightButton, Qt::RightButton, event->modifiers());
            Q3DInputHandler::mousePressEvent(&right, pos);
            return;
        }
        Q3DInputHandler::mousePressEvent(event, pos);
    }
};

QColor FromGraphColor(TGraphColor c) { return QColor(ColorRed(c), ColorGreen(c), ColorBlue(c)); }

// Without a real display server the 3-D view cannot get an OpenGL context.
bool PlatformHasGl()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}
} // namespace

class TScatterGraph::TImpl {
public:
    Q3DScatter *Graph = nullptr;
    QWidget *Container = nullptr;
    std::map<std::pair<int, TGraphColor>, QScatter3DSeries *> Series;
    int Drawn = 0;
};

TScatterGraph::TPointStyle TScatterGraph::StyleOf(int type)
{
    // Many points (the whole survey) stay flat points, which software OpenGL
    // draws fast; the few highlighted ones get shapes that stand out.
    switch (type) {
    case 0:
        return {QAbstract3DSeries::MeshPoint, 0.08f};
    case 3:
        // A quadripole kept out of the section: a shape and size of its own.
        return {QAbstract3DSeries::MeshArrow, 0.13f};
    case 5:
        return {QAbstract3DSeries::MeshSphere, 0.06f};
    case 11:
        return {QAbstract3DSeries::MeshPyramid, 0.09f};
    default:
        return {QAbstract3DSeries::MeshPoint, 0.10f};
    }
}

TScatterGraph::TScatterGraph(QWidget *parent) : QWidget(parent), D(std::make_unique<TImpl>())
{
    setObjectName(QStringLiteral("Pe3do1"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    ResizeAppearance();
    if (!PlatformHasGl()) {
        auto *note = new QLabel(QStringLiteral("The 3-D view needs OpenGL."), this);
        note->setObjectName(QStringLiteral("NoGlLbl"));
        note->setAlignment(Qt::AlignCenter);
        layout->addWidget(note);
        return;
    }
    auto *graph = new Q3DScatter;
    D->Graph = graph;
    D->Container = QWidget::createWindowContainer(graph, this);
    D->Container->setObjectName(QStringLiteral("Pe3do1View"));
    D->Container->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(D->Container);

    graph->setActiveInputHandler(new TRotateHandler(graph));
    graph->setShadowQuality(QAbstract3DGraph::ShadowQualityNone);
    graph->setSelectionMode(QAbstract3DGraph::SelectionNone);
    graph->setOptimizationHints(QAbstract3DGraph::OptimizationStatic);
    Q3DTheme *theme = graph->activeTheme();
    theme->setType(Q3DTheme::ThemeQt);
    theme->setBackgroundColor(Qt::white);
    theme->setWindowColor(Qt::white);
    theme->setLabelTextColor(Qt::black);
    theme->setLabelBackgroundEnabled(false);
    theme->setLabelBorderEnabled(false);
    theme->setGridLineColor(QColor(192, 192, 192));
    // Flat light: the colours of the points show as given.
    theme->setAmbientLightStrength(1.0f);
    theme->setLightStrength(0.0f);
    theme->setHighlightLightStrength(0.0f);
    theme->setColorStyle(Q3DTheme::ColorStyleUniform);
    // The labels are textures scaled with the view: this size reads like
    // the window's own text at the usual sizes of the page.
    QFont font = theme->font();
    font.setPointSize(LabelPointSize);
    theme->setFont(font);
    for (QValue3DAxis *axis : {graph->axisX(), graph->axisY(), graph->axisZ()}) {
        axis->setTitleVisible(true);
        axis->setLabelFormat(QStringLiteral("%.0f"));
        axis->setLabelAutoRotation(30.0f);
    }
    // Positions are handed over negated (X and Z); they are drawn back at
    // their true values, so the axes read the survey's coordinates.
    // Nearly along the lines, a little from above: a line's section shows.
    // Zoomed out a little and aimed below the middle: the labels under the
    // grid stay in a short view (800 x 600 screens).
    graph->scene()->activeCamera()->setCameraPosition(-30.0f, 22.0f, 88.0f);
    graph->scene()->activeCamera()->setTarget(QVector3D(0.0f, -0.15f, 0.0f));
}

TScatterGraph::~TScatterGraph() = default;

bool TScatterGraph::CanRender() const { return D->Graph && D->Graph->hasContext(); }

std::size_t TScatterGraph::Index(int s, int p) const { return std::size_t(s) * std::size_t(PointCount) + std::size_t(p); }

void TScatterGraph::ResizeAppearance()
{
    SubsetType.assign(std::size_t(SubsetCount), 0);
    Types.assign(std::size_t(SubsetCount) * std::size_t(PointCount), -1);
    Colours.assign(Types.size(), 0);
}

void TScatterGraph::Subsets(int count)
{
    TGraphDataImpl<TGraph3D>::Subsets(count);
    ResizeAppearance();
}

void TScatterGraph::Points(int count)
{
    TGraphDataImpl<TGraph3D>::Points(count);
    ResizeAppearance();
}

void TScatterGraph::XAxisLabel(const QString &text)
{
    TGraphDataImpl<TGraph3D>::XAxisLabel(text);
    if (D->Graph)
        D->Graph->axisX()->setTitle(text);
}
void TScatterGraph::YAxisLabel(const QString &text)
{
    TGraphDataImpl<TGraph3D>::YAxisLabel(text);
    if (D->Graph)
        D->Graph->axisY()->setTitle(text);
}
void TScatterGraph::ZAxisLabel(const QString &text)
{
    TGraphDataImpl<TGraph3D>::ZAxisLabel(text);
    if (D->Graph)
        D->Graph->axisZ()->setTitle(text);
}

void TScatterGraph::SubsetPointTypes(int subset, int type)
{
    if (subset < 0 || subset >= SubsetCount)
        return;
    // The whole subset takes the type: earlier per-point types end here.
    SubsetType[std::size_t(subset)] = type;
    std::fill(Types.begin() + std::ptrdiff_t(Index(subset, 0)), Types.begin() + std::ptrdiff_t(Index(subset + 1, 0)), -1);
}

void TScatterGraph::PointTypes(int subset, int point, int type)
{
    // Writes outside the grid (a node number beyond the points) are dropped.
    if (subset >= 0 && subset < SubsetCount && point >= 0 && point < PointCount)
        Types[Index(subset, point)] = type;
}

void TScatterGraph::PointColors(int subset, int point, TGraphColor color)
{
    if (subset >= 0 && subset < SubsetCount && point >= 0 && point < PointCount)
        Colours[Index(subset, point)] = color;
}

int TScatterGraph::PointType(int subset, int point) const
{
    if (subset < 0 || subset >= SubsetCount || point < 0 || point >= PointCount)
        return -1;
    const int t = Types[Index(subset, point)];
    return t >= 0 ? t : SubsetType[std::size_t(subset)];
}

TGraphColor TScatterGraph::PointColor(int subset, int point) const
{
    if (subset < 0 || subset >= SubsetCount || point < 0 || point >= PointCount)
        return 0;
    return Colours[Index(subset, point)];
}

void TScatterGraph::ZDistance(float distance) { Distance = distance; }

void TScatterGraph::ShowZAxis(TZAxisStyle style)
{
    ZAxis = style;
    if (D->Graph)
        D->Graph->axisZ()->setLabelFormat(style == TZAxisStyle::tdNone ? QStringLiteral(" ") : QStringLiteral("%.0f"));
}

void TScatterGraph::PEactions(TGraph3DAction)
{
    // Both the rebuild and the repaint come down to drawing the data again,
    // once per turn of the event loop however often they are asked for.
    QueueRebuild();
}

void TScatterGraph::QueueRebuild()
{
    if (RebuildQueued || !D->Graph)
        return;
    RebuildQueued = true;
    QTimer::singleShot(0, this, [this] {
        if (RebuildQueued)
            RebuildNow();
    });
}

void TScatterGraph::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QueueRebuild();
}

void TScatterGraph::RebuildNow()
{
    RebuildQueued = false;
    if (!D->Graph)
        return;
    std::map<std::pair<int, TGraphColor>, QScatterDataArray *> groups;
    int drawn = 0;
    for (int s = 0; s < SubsetCount; ++s) {
        for (int p = 0; p < PointCount; ++p) {
            const float x = XData(s, p), y = YData(s, p), z = ZData(s, p);
            if (x == NullValue || y == NullValue || z == NullValue)
                continue;
            const std::pair<int, TGraphColor> key{PointType(s, p), Colours[Index(s, p)] & 0xFFFFFFu};
            QScatterDataArray *&array = groups[key];
            if (!array) {
                array = new QScatterDataArray;
                array->reserve(PointCount);
            }
            array->append(QScatterDataItem(QVector3D(-x, y, -z)));
            ++drawn;
        }
    }
    // Series of combinations no longer present go; the others get new data.
    for (auto it = D->Series.begin(); it != D->Series.end();) {
        if (!groups.count(it->first)) {
            D->Graph->removeSeries(it->second);
            delete it->second;
            it = D->Series.erase(it);
        } else {
            ++it;
        }
    }
    for (auto &[key, array] : groups) {
        QScatter3DSeries *&series = D->Series[key];
        if (!series) {
            series = new QScatter3DSeries;
            const TPointStyle style = StyleOf(key.first);
            series->setMesh(QAbstract3DSeries::Mesh(style.Mesh));
            series->setItemSize(style.Size);
            series->setMeshSmooth(false);
            series->setColorStyle(Q3DTheme::ColorStyleUniform);
            series->setBaseColor(FromGraphColor(key.second));
            series->setItemLabelFormat(QStringLiteral("@xLabel @yLabel @zLabel"));
            D->Graph->addSeries(series);
        }
        series->dataProxy()->resetArray(array);
    }
    D->Drawn = drawn;
    // Round ticks over the true coordinates. The two horizontal axes keep
    // comparable lengths: a line along X (a single Y) would otherwise get a
    // Y axis squeezed to a line with its labels piled on each other.
    TAxisSpan spans[3];
    for (int s = 0; s < SubsetCount; ++s)
        for (int p = 0; p < PointCount; ++p) {
            const float x = XData(s, p), y = YData(s, p), z = ZData(s, p);
            if (x == NullValue || y == NullValue || z == NullValue)
                continue;
            spans[0].Take(-x);
            spans[1].Take(y);
            spans[2].Take(-z);
        }
    const double wide = std::max(spans[0].Size(), spans[2].Size());
    for (int a : {0, 2})
        spans[a].AtLeast(wide / 4);
    // Depths: the ground (0) is always on the axis.
    spans[1].Take(0);
    spans[1].AtLeast(1);
    // The shorter horizontal axis is drawn at least 40 % as long as the
    // other, with room for its labels.
    const double ratio = spans[2].Size() > 0 ? spans[0].Size() / spans[2].Size() : 1.0;
    D->Graph->setHorizontalAspectRatio(float(std::clamp(ratio, 0.4, 2.5)));
    for (int a = 0; a < 3; ++a) {
        QValue3DAxis *axis = a == 0 ? D->Graph->axisX() : a == 1 ? D->Graph->axisY() : D->Graph->axisZ();
        const double size = a == 0 ? spans[0].Size() : spans[2].Size();
        const double other = a == 0 ? spans[2].Size() : spans[0].Size();
        const int segments = a == 1 ? 4 : size < other / 2 ? 2 : 5;
        const TTicks t = RoundTicks(spans[a].Lo, spans[a].Hi, segments);
        axis->setAutoAdjustRange(false);
        axis->setRange(float(t.Lo), float(t.Hi));
        axis->setSegmentCount(t.Segments);
        axis->setSubSegmentCount(1);
        if (a != 2 || ZAxis != TZAxisStyle::tdNone)
            axis->setLabelFormat(t.Decimals > 0 ? QStringLiteral("%.%1f").arg(t.Decimals) : QStringLiteral("%.0f"));
    }
}

TScatterGraph::TTicks TScatterGraph::RoundTicks(double lo, double hi, int segments)
{
    if (!(hi > lo)) {
        lo -= 1;
        hi += 1;
    }
    const double raw = (hi - lo) / std::max(1, segments);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * magnitude >= raw * (1 - 1e-9)) {
            step = m * magnitude;
            break;
        }
    const double first = std::floor(lo / step + 1e-9) * step, last = std::ceil(hi / step - 1e-9) * step;
    TTicks t;
    t.Lo = first;
    t.Hi = last;
    t.Segments = std::max(1, int(std::lround((last - first) / step)));
    t.Step = step;
    // Decimals the step needs (2.5 needs one, 0.25 two).
    t.Decimals = 0;
    while (t.Decimals < 3 && std::abs(step * std::pow(10.0, t.Decimals) - std::round(step * std::pow(10.0, t.Decimals))) > 1e-6)
        ++t.Decimals;
    return t;
}

int TScatterGraph::SeriesCount() const { return int(D->Series.size()); }
int TScatterGraph::DrawnPoints() const { return D->Drawn; }

QImage TScatterGraph::Picture(QSize size)
{
    if (!CanRender())
        return {};
    RebuildNow();
    return D->Graph->renderToImage(0, size);
}

void TScatterGraph::Rotate(float degrees)
{
    if (!D->Graph)
        return;
    Q3DCamera *camera = D->Graph->scene()->activeCamera();
    camera->setXRotation(camera->xRotation() + degrees);
}

void TScatterGraph::MeasureFps(bool on)
{
    if (D->Graph)
        D->Graph->setMeasureFps(on);
}

double TScatterGraph::CurrentFps() const { return D->Graph ? D->Graph->currentFps() : 0.0; }
