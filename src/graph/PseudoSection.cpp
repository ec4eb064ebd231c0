#include "graph/PseudoSection.h"

#include "survey/Geometry.h"
#include "survey/Sequence.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr float Largest = std::numeric_limits<float>::max();

int QuadTotal(const TSequence &s)
{
    return std::clamp(int(s.QuadCount), 0, TSequence::QuadTableSize);
}

void Extend(std::array<float, 2> &lo, std::array<float, 2> &hi, double horizontal, double vertical)
{
    const float h = static_cast<float>(horizontal), v = static_cast<float>(vertical);
    lo[0] = std::min(lo[0], h);
    hi[0] = std::max(hi[0], h);
    lo[1] = std::min(lo[1], v);
    hi[1] = std::max(hi[1], v);
}

void InsertSection(std::vector<TPseudoSection::SlistPoint> &list, std::int32_t key, double position)
{
    const auto at = std::lower_bound(list.begin(), list.end(), key,
                                     [](const TPseudoSection::SlistPoint &p, std::int32_t k) { return p.key < k; });
    if (at == list.end() || at->key != key)
        list.insert(at, TPseudoSection::SlistPoint{key, 0, 0, position});
}

template <class T>
int IndexOf(const std::vector<T> &sorted, const T &value)
{
    return static_cast<int>(std::lower_bound(sorted.begin(), sorted.end(), value) - sorted.begin());
}

} // namespace

std::int32_t TPseudoSection::Key(double metres)
{
    const long double v = static_cast<long double>(metres) * 100.0L + 0.5L;
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<long double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (v <= static_cast<long double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v); // truncates toward zero
}

TPseudoSection::TGeometry TPseudoSection::GeometryOf(int i) const
{
    const ElectrodeCoords c = GetQuadCoords(Survey, i);
    return {MidPoint(c, AxisX), MidPoint(c, AxisY), PseudoDepth(c)};
}

TPseudoSection::TPosition TPseudoSection::PositionIn(const TGeometry &g, int plane)
{
    switch (plane) {
    case PlaneYZ:
        return {g.MidY, g.Depth};
    case PlaneXZ:
        return {g.MidX, g.Depth};
    default:
        return {g.MidX, g.MidY};
    }
}

double TPseudoSection::SectionPositionIn(const TGeometry &g, int plane)
{
    switch (plane) {
    case PlaneYZ:
        return g.MidX;
    case PlaneXZ:
        return g.MidY;
    default:
        return g.Depth;
    }
}

std::int32_t TPseudoSection::SectionKeyIn(const TGeometry &g, int plane)
{
    switch (plane) {
    case PlaneYZ:
        return Key(g.MidX);
    case PlaneXZ:
        return Key(g.MidY);
    default:
        return Key(g.Depth);
    }
}

bool TPseudoSection::InPlane(int i, int plane) const
{
    if (i < 0 || i >= QuadTotal(Survey) || Survey.Quads[std::size_t(i)].Level < 0)
        return false;
    if (plane == PlaneXY)
        return true;
    if (plane != PlaneYZ && plane != PlaneXZ)
        return false;
    if (std::size_t(i) >= quadCoords.size())
        return false;
    const QuadCoord &k = quadCoords[std::size_t(i)];
    // Only the X keys mark a far electrode, in both vertical planes.
    if (std::any_of(k.begin(), k.begin() + 4, [](std::int32_t x) { return x >= FarKey; }))
        return true;
    const int first = plane == PlaneYZ ? 0 : 4;
    return k[std::size_t(first)] == k[std::size_t(first + 1)] && k[std::size_t(first)] == k[std::size_t(first + 2)]
           && k[std::size_t(first)] == k[std::size_t(first + 3)];
}

TPseudoSection::TPosition TPseudoSection::Position(int i, int plane) const
{
    return PositionIn(GeometryOf(i), plane);
}

bool TPseudoSection::HasSections() const
{
    return std::any_of(sectionLists.begin(), sectionLists.end(), [](const auto &l) { return !l.empty(); });
}

bool TPseudoSection::HasPlacement() const
{
    return std::all_of(planePoints.begin(), planePoints.end(),
                       [this](const auto &p) { return p.size() == quadCoords.size(); });
}

const char *TPseudoSection::CaptionPrefix(int plane)
{
    switch (plane) {
    case PlaneYZ:
        return "X ";
    case PlaneXZ:
        return "Y ";
    default:
        return "Z ";
    }
}

void TPseudoSection::Classify()
{
    lastPlane = -1;
    lastSection = -1;
    rhoMax = NoValue;
    rhoMin = -NoValue;
    const int count = QuadTotal(Survey);
    rhoValues.resize(std::size_t(count), 0.0f);
    qcFlags.resize(std::size_t(count), 0u);
    for (int p = 0; p < PlaneCount; ++p) {
        planeMin[std::size_t(p)] = {Largest, Largest};
        planeMax[std::size_t(p)] = {-Largest, -Largest};
        sectionLists[std::size_t(p)].clear();
    }
    quadCoords.clear();
    quadCoords.reserve(std::size_t(count));
    for (auto &points : planePoints)
        points.clear();

    for (int i = 0; i < count; ++i) {
        const ElectrodeCoords c = GetQuadCoords(Survey, i);
        QuadCoord keys;
        for (std::size_t k = 0; k < 4; ++k) {
            keys[k] = Key(c[AxisX + k]);
            keys[4 + k] = Key(c[AxisY + k]);
        }
        quadCoords.push_back(keys);
        if (Survey.Quads[std::size_t(i)].Level < 0)
            continue;
        const TGeometry g{MidPoint(c, AxisX), MidPoint(c, AxisY), PseudoDepth(c)};
        for (int plane : {PlaneYZ, PlaneXZ, PlaneXY}) {
            if (!InPlane(i, plane))
                continue;
            const TPosition pos = PositionIn(g, plane);
            Extend(planeMin[std::size_t(plane)], planeMax[std::size_t(plane)], pos.Horizontal, pos.Vertical);
            InsertSection(sectionLists[std::size_t(plane)], SectionKeyIn(g, plane), SectionPositionIn(g, plane));
        }
    }
}

void TPseudoSection::Place()
{
    const int count = std::min(QuadTotal(Survey), static_cast<int>(quadCoords.size()));
    // The geometry of each quadripole once for the three planes, rather than
    // once per section.
    std::vector<TGeometry> geometry(std::size_t(count), TGeometry{0, 0, 0});
    for (int i = 0; i < count; ++i)
        if (Survey.Quads[std::size_t(i)].Level >= 0)
            geometry[std::size_t(i)] = GeometryOf(i);

    struct TMember {
        int Section;
        std::int32_t Row, Column; // vertical and horizontal keys
        int Quad;
    };
    std::vector<TMember> members;
    std::vector<std::int32_t> columns;
    std::vector<std::pair<std::int32_t, std::int32_t>> cells; // (row key, column key), sorted
    std::vector<std::int32_t> rows, ends;
    std::vector<std::size_t> rowStart; // into cells, per row, plus the end

    for (int plane = 0; plane < PlaneCount; ++plane) {
        auto &points = planePoints[std::size_t(plane)];
        points.assign(std::size_t(count), GraphPoint{});
        auto &sections = sectionLists[std::size_t(plane)];

        members.clear();
        for (int i = 0; i < count; ++i) {
            if (!InPlane(i, plane))
                continue;
            const TGeometry &g = geometry[std::size_t(i)];
            const std::int32_t key = SectionKeyIn(g, plane);
            const auto at = std::lower_bound(sections.begin(), sections.end(), key,
                                             [](const SlistPoint &p, std::int32_t k) { return p.key < k; });
            if (at == sections.end() || at->key != key)
                continue; // the survey changed since the classification
            const TPosition pos = PositionIn(g, plane);
            members.push_back({int(at - sections.begin()), Key(pos.Vertical), Key(pos.Horizontal), i});
        }
        std::stable_sort(members.begin(), members.end(),
                         [](const TMember &a, const TMember &b) { return a.Section < b.Section; });

        for (std::size_t from = 0; from < members.size();) {
            std::size_t to = from;
            while (to < members.size() && members[to].Section == members[from].Section)
                ++to;
            SlistPoint &section = sections[std::size_t(members[from].Section)];

            columns.clear();
            cells.clear();
            for (std::size_t m = from; m < to; ++m) {
                columns.push_back(members[m].Column);
                cells.emplace_back(members[m].Row, members[m].Column);
            }
            std::sort(columns.begin(), columns.end());
            columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
            std::sort(cells.begin(), cells.end());
            cells.erase(std::unique(cells.begin(), cells.end()), cells.end());

            rows.clear();
            rowStart.clear();
            for (std::size_t c = 0; c < cells.size(); ++c)
                if (c == 0 || cells[c].first != cells[c - 1].first) {
                    rows.push_back(cells[c].first);
                    rowStart.push_back(c);
                }
            rowStart.push_back(cells.size());
            section.rowCount = static_cast<std::int32_t>(rows.size());
            section.columnCount = static_cast<std::int32_t>(columns.size());

            // End column of each point of each row (same order as cells): a
            // point stretches to the midpoint between it and its right-hand
            // neighbour in the row.
            const int columnCount = section.columnCount;
            ends.assign(cells.size(), 0);
            for (std::size_t r = 0; r < rows.size(); ++r) {
                for (std::size_t c = rowStart[r]; c < rowStart[r + 1]; ++c) {
                    if (c + 1 == rowStart[r + 1]) {
                        ends[c] = columnCount - 1;
                        continue;
                    }
                    const double mid = std::trunc((double(cells[c].second) + double(cells[c + 1].second)) * 0.5);
                    const int below = static_cast<int>(
                        std::upper_bound(columns.begin(), columns.end(), mid,
                                         [](double v, std::int32_t k) { return v < double(k); })
                        - columns.begin());
                    ends[c] = std::max(1, below) - 1;
                }
            }

            for (std::size_t m = from; m < to; ++m) {
                const TMember &q = members[m];
                const int r = IndexOf(rows, q.Row);
                const int c = IndexOf(cells, std::make_pair(q.Row, q.Column));
                GraphPoint &point = points[std::size_t(q.Quad)];
                point.row = r;
                point.firstColumn = std::size_t(c) == rowStart[std::size_t(r)] ? 0 : ends[std::size_t(c) - 1] + 1;
                point.lastColumn = ends[std::size_t(c)];
                rhoValues[std::size_t(q.Quad)] = NoValue;
            }
            from = to;
        }
    }
}

bool TPseudoSection::Build()
{
    Classify();
    if (!HasSections())
        return false;
    Place();
    return true;
}

std::optional<TPseudoSection::GraphPoint> TPseudoSection::Cells(int i, int plane, int section,
                                                                const TGeometry &g) const
{
    if (plane < 0 || plane >= PlaneCount)
        return std::nullopt;
    const auto &sections = sectionLists[std::size_t(plane)];
    const auto &points = planePoints[std::size_t(plane)];
    if (section < 0 || std::size_t(section) >= sections.size() || i < 0 || std::size_t(i) >= points.size())
        return std::nullopt;
    if (!InPlane(i, plane) || SectionKeyIn(g, plane) != sections[std::size_t(section)].key)
        return std::nullopt;
    return points[std::size_t(i)];
}

std::optional<TPseudoSection::GraphPoint> TPseudoSection::CellsOf(int i, int plane, int section) const
{
    TPosition unused;
    return CellsOf(i, plane, section, unused);
}

std::optional<TPseudoSection::GraphPoint> TPseudoSection::CellsOf(int i, int plane, int section,
                                                                  TPosition &position) const
{
    if (!InPlane(i, plane))
        return std::nullopt;
    const TGeometry g = GeometryOf(i);
    position = PositionIn(g, plane);
    return Cells(i, plane, section, g);
}

bool TPseudoSection::SetFlags(int i, unsigned flags)
{
    if (i < 0)
        return false;
    if (std::size_t(i) >= qcFlags.size())
        qcFlags.resize(std::size_t(i) + 1, 0u);
    const bool changed = (qcFlags[std::size_t(i)] != 0) != (flags != 0);
    qcFlags[std::size_t(i)] = flags;
    return changed && std::size_t(i) < rhoValues.size() && rhoValues[std::size_t(i)] != NoValue;
}

float TPseudoSection::Shown(int i, bool hideFlagged) const
{
    const auto k = std::size_t(i);
    return hideFlagged && k < qcFlags.size() && qcFlags[k] ? NoValue : rhoValues[k];
}

void TPseudoSection::StoreRho(int i, float value)
{
    if (i < 0 || std::size_t(i) >= rhoValues.size())
        return;
    if (value == NoValue)
        value = MeasuredNoValue;
    rhoValues[std::size_t(i)] = value;
    // A value that is not a number or infinite would spoil the colour range
    // for the rest of the run; it is kept but does not widen the range.
    if (!std::isfinite(value))
        return;
    if (!(value >= rhoMin))
        rhoMin = value;
    if (value > rhoMax)
        rhoMax = value;
}
