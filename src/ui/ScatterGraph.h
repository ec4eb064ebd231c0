#pragma once
// The progress graph on screen: quadripoles and electrode nodes as points in
// 3-D, rotated with the mouse. It keeps everything it is told and rebuilds
// the view when asked to repaint or when it is shown. Without an OpenGL
// context (the offscreen platform) it keeps the data and shows nothing.
#include "graph/MemoryGraph.h"

#include <QWidget>

#include <memory>
#include <vector>

class TScatterGraph : public QWidget, public TGraphDataImpl<TGraph3D> {
    Q_OBJECT
public:
    // What a point looks like for a type code of the progress graph.
    struct TPointStyle {
        int Mesh; // QAbstract3DSeries::Mesh
        float Size;
    };
    static TPointStyle StyleOf(int type);
    // Axis ticks on round values (1, 2, 2.5 or 5 times a power of ten)
    // covering lo..hi in about `segments` steps.
    struct TTicks {
        double Lo = 0, Hi = 0, Step = 1;
        int Segments = 1, Decimals = 0;
    };
    static TTicks RoundTicks(double lo, double hi, int segments);
    // Points holding this in X, Y or Z are not drawn.
    static constexpr float NullValue = 99999.0f;

    explicit TScatterGraph(QWidget *parent = nullptr);
    ~TScatterGraph() override;

    using TGraphDataImpl<TGraph3D>::Points;
    using TGraphDataImpl<TGraph3D>::Subsets;
    void Subsets(int count) override;
    void Points(int count) override;
    void XAxisLabel(const QString &text) override;
    void YAxisLabel(const QString &text) override;
    void ZAxisLabel(const QString &text) override;

    void SubsetPointTypes(int subset, int type) override;
    void PointTypes(int subset, int point, int type) override;
    void PointColors(int subset, int point, TGraphColor color) override;
    void ZDistance(float distance) override;
    void ShowZAxis(TZAxisStyle style) override;
    void PEactions(TGraph3DAction action) override;

    int PointType(int subset, int point) const;
    TGraphColor PointColor(int subset, int point) const;

    // True when the 3-D view can render (an OpenGL context exists).
    bool CanRender() const;
    // Brings the view up to date with the data now rather than on the next turn.
    void RebuildNow();
    // Number of drawn points per series, for the checks of what is shown.
    int SeriesCount() const;
    int DrawnPoints() const;
    // A picture of the view; a null image without OpenGL.
    QImage Picture(QSize size);
    // Turns the camera by degrees around the vertical axis (for measurements).
    void Rotate(float degrees);
    // Frame rate of the view as it renders (for measurements).
    void MeasureFps(bool on);
    double CurrentFps() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    class TImpl;
    std::unique_ptr<TImpl> D;
    std::vector<int> SubsetType;
    std::vector<int> Types;           // -1: the subset's type
    std::vector<TGraphColor> Colours; // red in the low byte
    float Distance = 1.0f;
    TZAxisStyle ZAxis = TZAxisStyle::tdNone;
    bool RebuildQueued = false;

    void ResizeAppearance();
    void QueueRebuild();
    std::size_t Index(int subset, int point) const;
};
