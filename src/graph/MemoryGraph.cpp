#include "graph/MemoryGraph.h"

void TMemoryGraph2D::SubsetColors(int index, TGraphColor color)
{
    if (index >= 0 && index < static_cast<int>(Colors.size()))
        Colors[static_cast<std::size_t>(index)] = color;
}

TAnnotation *TMemoryGraph2D::Annotation(int index)
{
    if (index == -1) {
        Annotations.clear();
        return nullptr;
    }
    // Indexes far beyond the list are refused instead of growing it without bound.
    if (index < 0 || index > 100000)
        return nullptr;
    if (static_cast<std::size_t>(index) >= Annotations.size())
        Annotations.resize(static_cast<std::size_t>(index) + 1);
    return &Annotations[static_cast<std::size_t>(index)];
}

void TMemoryGraph2D::GraphAnnotationX(int index, double v)
{
    if (auto *a = Annotation(index))
        a->X = v;
}
void TMemoryGraph2D::GraphAnnotationY(int index, double v)
{
    if (auto *a = Annotation(index))
        a->Y = v;
}
void TMemoryGraph2D::GraphAnnotationType(int index, int type)
{
    if (auto *a = Annotation(index))
        a->Type = type;
}
void TMemoryGraph2D::GraphAnnotationColor(int index, TGraphColor color)
{
    if (auto *a = Annotation(index))
        a->Color = color;
}
void TMemoryGraph2D::GraphAnnotationText(int index, const QString &text)
{
    if (auto *a = Annotation(index))
        a->Text = text;
}

void TMemoryGraph3D::SubsetPointTypes(int subset, int type)
{
    SubsetTypes[subset] = type;
    std::erase_if(Types, [subset](const auto &entry) { return entry.first.first == subset; });
}

int TMemoryGraph3D::PointType(int subset, int point) const
{
    if (auto it = Types.find({subset, point}); it != Types.end())
        return it->second;
    if (auto it = SubsetTypes.find(subset); it != SubsetTypes.end())
        return it->second;
    return 0;
}

TGraphColor TMemoryGraph3D::PointColor(int subset, int point, TGraphColor fallback) const
{
    if (auto it = ColorsOf.find({subset, point}); it != ColorsOf.end())
        return it->second;
    return fallback;
}
