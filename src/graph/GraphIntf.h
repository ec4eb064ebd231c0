#pragma once
// The two graph controls the pseudo-section and the progress view draw with:
// a 2-D contour graph and a 3-D scatter graph. The models talk to these
// interfaces only; the window provides widgets, tests a recording fake.
#include <QString>
#include <QVariant>

#include <cstdint>

using TGraphColor = std::uint32_t;

// A 32-bit colour: alpha in the top byte, then blue, green, red in the low byte.
constexpr TGraphColor PEargb(std::uint8_t alpha, std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return (TGraphColor(alpha) << 24) | (TGraphColor(blue) << 16) | (TGraphColor(green) << 8) | TGraphColor(red);
}
constexpr std::uint8_t ColorAlpha(TGraphColor c) { return std::uint8_t(c >> 24); }
constexpr std::uint8_t ColorBlue(TGraphColor c) { return std::uint8_t(c >> 16); }
constexpr std::uint8_t ColorGreen(TGraphColor c) { return std::uint8_t(c >> 8); }
constexpr std::uint8_t ColorRed(TGraphColor c) { return std::uint8_t(c); }

enum class TScaleControl { sgAutoScale, sgManualMinAndMax };
enum class TPlottingMethod { sgContourColors };
enum class TGraph2DAction { sgReinitAndReset, sgUndoZoom, sgExportDialog, sgMaximize, sgPrintDialog };
enum class TGraph3DAction { tdReinitAndReset, tdInvalidateImage };
enum class TZAxisStyle { tdNone, tdGridPlusAxisLabels };

// Operations both graphs share: the data grid and the titles.
class TGraphData {
public:
    virtual ~TGraphData() = default;

    // The data grid is resized to subsets x points.
    virtual void Subsets(int count) = 0;
    virtual int Subsets() const = 0;
    virtual void Points(int count) = 0;
    virtual int Points() const = 0;

    // Cell values; point index -1 resets the whole array to value.
    virtual void XData(int subset, int point, float value) = 0;
    virtual void YData(int subset, int point, float value) = 0;
    virtual void ZData(int subset, int point, float value) = 0;
    virtual float XData(int subset, int point) const = 0;
    virtual float YData(int subset, int point) const = 0;
    virtual float ZData(int subset, int point) const = 0;

    virtual void MainTitle(const QString &text) = 0;
    virtual void SubTitle(const QString &text) = 0;
    virtual void XAxisLabel(const QString &text) = 0;
    virtual void YAxisLabel(const QString &text) = 0;
    virtual void ZAxisLabel(const QString &text) = 0;

    // Appearance settings that only change the look (font sizes, render
    // engine, anti-aliasing, legend style...), by name.
    virtual void Appearance(const QString &name, const QVariant &value) = 0;
};

// The pseudo-section graph: Z drawn as colour contours over X and Y.
class TGraph2D : public TGraphData {
public:
    virtual void ManualScaleControlX(TScaleControl control) = 0;
    virtual void ManualScaleControlY(TScaleControl control) = 0;
    virtual void ManualScaleControlZ(TScaleControl control) = 0;
    virtual void ManualMinX(double v) = 0;
    virtual void ManualMaxX(double v) = 0;
    virtual void ManualMinY(double v) = 0;
    virtual void ManualMaxY(double v) = 0;
    virtual void ManualMinZ(double v) = 0;
    virtual void ManualMaxZ(double v) = 0;
    // Step between contour lines; with the Z range it defines the bands.
    virtual void ManualZAxisLine(double step) = 0;
    // Cells holding these values are not plotted.
    virtual void NullDataValueX(double v) = 0;
    virtual void NullDataValueY(double v) = 0;
    virtual void InvertedYAxis(bool inverted) = 0;
    virtual void PlottingMethod(TPlottingMethod method) = 0;
    // The colour table; index 0 is the lowest band, up to 50.
    virtual void SubsetColors(int index, TGraphColor color) = 0;

    // One marker per index; index -1 clears the list.
    virtual void GraphAnnotationX(int index, double v) = 0;
    virtual void GraphAnnotationY(int index, double v) = 0;
    virtual void GraphAnnotationType(int index, int type) = 0;
    virtual void GraphAnnotationColor(int index, TGraphColor color) = 0;
    virtual void GraphAnnotationText(int index, const QString &text) = 0;

    virtual void PEactions(TGraph2DAction action) = 0;
};

// The progress graph: quadripoles and nodes as points in 3-D.
class TGraph3D : public TGraphData {
public:
    // Every point of the subset takes this type; earlier point types are dropped.
    virtual void SubsetPointTypes(int subset, int type) = 0;
    virtual void PointTypes(int subset, int point, int type) = 0;
    virtual void PointColors(int subset, int point, TGraphColor color) = 0;
    virtual void ZDistance(float distance) = 0;
    virtual void ShowZAxis(TZAxisStyle style) = 0;

    virtual void PEactions(TGraph3DAction action) = 0;
};
