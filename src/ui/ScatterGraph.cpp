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
#include <map>

namespace {
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
        return {QAbstract3DSeries::MeshCube, 0.06f};
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
    QFont font = theme->font();
    font.setPointSize(28);
    theme->setFont(font);
    for (QValue3DAxis *axis : {graph->axisX(), graph->axisY(), graph->axisZ()}) {
        axis->setTitleVisible(true);
        axis->setLabelFormat(QStringLiteral("%.1f"));
    }
    // Positions are handed over negated; the X and Z axes run reversed so
    // that they read the way the survey is laid out.
    graph->axisX()->setReversed(true);
    graph->axisZ()->setReversed(true);
    // Nearly along the lines, a little from above: a line's section shows.
    graph->scene()->activeCamera()->setCameraPosition(-25.0f, 15.0f, 120.0f);
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
        D->Graph->axisZ()->setLabelFormat(style == TZAxisStyle::tdNone ? QStringLiteral(" ") : QStringLiteral("%.1f"));
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
            array->append(QScatterDataItem(QVector3D(x, y, z)));
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
    // An axis over a single value (a line along X has one Y) gets a unit
    // range around it; the others follow the data.
    for (int a = 0; a < 3; ++a) {
        QValue3DAxis *axis = a == 0 ? D->Graph->axisX() : a == 1 ? D->Graph->axisY() : D->Graph->axisZ();
        float lo = 0, hi = 0;
        bool any = false;
        for (int s = 0; s < SubsetCount; ++s)
            for (int p = 0; p < PointCount; ++p) {
                const float x = XData(s, p), y = YData(s, p), z = ZData(s, p);
                if (x == NullValue || y == NullValue || z == NullValue)
                    continue;
                const float v = a == 0 ? x : a == 1 ? y : z;
                lo = any ? std::min(lo, v) : v;
                hi = any ? std::max(hi, v) : v;
                any = true;
            }
        if (any && hi - lo < 1e-3f) {
            axis->setRange(lo - 1.0f, hi + 1.0f);
            axis->setSegmentCount(2);
        } else {
            axis->setAutoAdjustRange(true);
            axis->setSegmentCount(5);
        }
    }
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
