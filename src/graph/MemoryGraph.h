#pragma once
// In-memory graphs that keep everything they are told: the data grid for the
// widgets to draw from, and a record of settings and actions for the tests of
// the graph models.
#include "graph/GraphIntf.h"

#include <QMap>
#include <QString>

#include <map>
#include <vector>

// The data grid and titles shared by every graph implementation.
template <class Base>
class TGraphDataImpl : public Base {
public:
    void Subsets(int count) override { Resize(count, PointCount); }
    int Subsets() const override { return SubsetCount; }
    void Points(int count) override { Resize(SubsetCount, count); }
    int Points() const override { return PointCount; }

    void XData(int s, int p, float v) override { Set(X, s, p, v); }
    void YData(int s, int p, float v) override { Set(Y, s, p, v); }
    void ZData(int s, int p, float v) override { Set(Z, s, p, v); }
    float XData(int s, int p) const override { return Get(X, s, p); }
    float YData(int s, int p) const override { return Get(Y, s, p); }
    float ZData(int s, int p) const override { return Get(Z, s, p); }

    void MainTitle(const QString &t) override { Titles[QStringLiteral("MainTitle")] = t; }
    void SubTitle(const QString &t) override { Titles[QStringLiteral("SubTitle")] = t; }
    void XAxisLabel(const QString &t) override { Titles[QStringLiteral("XAxisLabel")] = t; }
    void YAxisLabel(const QString &t) override { Titles[QStringLiteral("YAxisLabel")] = t; }
    void ZAxisLabel(const QString &t) override { Titles[QStringLiteral("ZAxisLabel")] = t; }
    QString Title(const QString &name) const { return Titles.value(name); }

    void Appearance(const QString &name, const QVariant &value) override { Settings[name] = value; }
    QVariant Setting(const QString &name) const { return Settings.value(name); }

protected:
    int SubsetCount = 1;
    int PointCount = 1;
    std::vector<float> X = std::vector<float>(1), Y = std::vector<float>(1), Z = std::vector<float>(1);
    QMap<QString, QString> Titles;
    QMap<QString, QVariant> Settings;

private:
    void Resize(int subsets, int points)
    {
        SubsetCount = subsets < 1 ? 1 : subsets;
        PointCount = points < 1 ? 1 : points;
        const auto n = static_cast<std::size_t>(SubsetCount) * static_cast<std::size_t>(PointCount);
        X.assign(n, 0.0f);
        Y.assign(n, 0.0f);
        Z.assign(n, 0.0f);
    }
    bool Inside(int s, int p) const { return s >= 0 && s < SubsetCount && p >= 0 && p < PointCount; }
    void Set(std::vector<float> &a, int s, int p, float v)
    {
        if (p == -1) {
            std::fill(a.begin(), a.end(), v);
            return;
        }
        // Out-of-range cells are ignored rather than written past the grid.
        if (Inside(s, p))
            a[static_cast<std::size_t>(s) * static_cast<std::size_t>(PointCount) + static_cast<std::size_t>(p)] = v;
    }
    float Get(const std::vector<float> &a, int s, int p) const
    {
        return Inside(s, p) ? a[static_cast<std::size_t>(s) * static_cast<std::size_t>(PointCount) + static_cast<std::size_t>(p)] : 0.0f;
    }
};

struct TAnnotation {
    double X = 0, Y = 0;
    int Type = 0;
    TGraphColor Color = 0;
    QString Text;
};

class TMemoryGraph2D : public TGraphDataImpl<TGraph2D> {
public:
    void ManualScaleControlX(TScaleControl c) override { ScaleX = c; }
    void ManualScaleControlY(TScaleControl c) override { ScaleY = c; }
    void ManualScaleControlZ(TScaleControl c) override { ScaleZ = c; }
    void ManualMinX(double v) override { MinX = v; }
    void ManualMaxX(double v) override { MaxX = v; }
    void ManualMinY(double v) override { MinY = v; }
    void ManualMaxY(double v) override { MaxY = v; }
    void ManualMinZ(double v) override { MinZ = v; }
    void ManualMaxZ(double v) override { MaxZ = v; }
    void ManualZAxisLine(double step) override { ZAxisLine = step; }
    void NullDataValueX(double v) override { NullX = v; }
    void NullDataValueY(double v) override { NullY = v; }
    void InvertedYAxis(bool inverted) override { Inverted = inverted; }
    void PlottingMethod(TPlottingMethod m) override { Method = m; }
    void SubsetColors(int index, TGraphColor color) override;

    void GraphAnnotationX(int index, double v) override;
    void GraphAnnotationY(int index, double v) override;
    void GraphAnnotationType(int index, int type) override;
    void GraphAnnotationColor(int index, TGraphColor color) override;
    void GraphAnnotationText(int index, const QString &text) override;

    void PEactions(TGraph2DAction action) override { Actions.push_back(action); }

    TScaleControl ScaleX = TScaleControl::sgAutoScale, ScaleY = TScaleControl::sgAutoScale,
                  ScaleZ = TScaleControl::sgAutoScale;
    double MinX = 0, MaxX = 0, MinY = 0, MaxY = 0, MinZ = 0, MaxZ = 0, ZAxisLine = 0;
    double NullX = 0, NullY = 0;
    bool Inverted = false;
    TPlottingMethod Method = TPlottingMethod::sgContourColors;
    std::vector<TGraphColor> Colors = std::vector<TGraphColor>(51, 0);
    std::vector<TAnnotation> Annotations;
    std::vector<TGraph2DAction> Actions;

private:
    TAnnotation *Annotation(int index);
};

class TMemoryGraph3D : public TGraphDataImpl<TGraph3D> {
public:
    void SubsetPointTypes(int subset, int type) override;
    void PointTypes(int subset, int point, int type) override { Types[{subset, point}] = type; }
    void PointColors(int subset, int point, TGraphColor color) override { ColorsOf[{subset, point}] = color; }
    void ZDistance(float distance) override { Distance = distance; }
    void ShowZAxis(TZAxisStyle style) override { ZAxis = style; }
    void PEactions(TGraph3DAction action) override { Actions.push_back(action); }

    // Point colour and type, falling back to the subset's type.
    int PointType(int subset, int point) const;
    TGraphColor PointColor(int subset, int point, TGraphColor fallback) const;

    std::map<int, int> SubsetTypes;
    std::map<std::pair<int, int>, int> Types;
    std::map<std::pair<int, int>, TGraphColor> ColorsOf;
    float Distance = 1.0f;
    TZAxisStyle ZAxis = TZAxisStyle::tdNone;
    std::vector<TGraph3DAction> Actions;
};
