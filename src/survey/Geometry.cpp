#include "survey/Geometry.h"

#include "survey/Sequence.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double TwoPi = 6.283185307179586;

bool InTable(int quad)
{
    return quad >= 0 && quad < TSequence::QuadTableSize;
}

// Distances are kept in single precision, as the data file stores them, so
// that a factor computed here matches the one written with the record.
double InverseDistance(const TSequence &sequence, int from, int to)
{
    if (from == 0 || to == 0)
        return 0.0;
    const Node &p = sequence.NodeAt(from);
    const Node &q = sequence.NodeAt(to);
    const float dx = p.X - q.X;
    const float dy = p.Y - q.Y;
    const float dz = p.Z - q.Z;
    const auto d = static_cast<float>(std::sqrt(double(dx) * dx + double(dy) * dy + double(dz) * dz));
    return d != 0.0f ? 1.0 / d : 0.0;
}

float HorizontalDistance(const ElectrodeCoords &c, int from, int to)
{
    const double dx = double(c[std::size_t(AxisX + from)]) - c[std::size_t(AxisX + to)];
    const double dy = double(c[std::size_t(AxisY + from)]) - c[std::size_t(AxisY + to)];
    return static_cast<float>(std::sqrt(dx * dx + dy * dy));
}

double Centre(float first, float second)
{
    const bool useFirst = std::fabs(first) < TSequence::RemoteCoord;
    const bool useSecond = std::fabs(second) < TSequence::RemoteCoord;
    if (useFirst && useSecond)
        return (double(first) + second) / 2.0;
    if (useFirst)
        return first;
    if (useSecond)
        return second;
    return 0.0;
}

} // namespace

double GeometricFactor(const TSequence &sequence, int quad)
{
    if (!InTable(quad))
        return 1.0;
    const Quadripole &q = sequence.Quads[std::size_t(quad)];
    const double am = InverseDistance(sequence, q.A, q.M);
    const double an = InverseDistance(sequence, q.A, q.N);
    const double bm = InverseDistance(sequence, q.B, q.M);
    const double bn = InverseDistance(sequence, q.B, q.N);
    if (am + an + bm + bn == 0.0)
        return 1.0;
    const double g = am - an - bm + bn;
    if (g == 0.0)
        return 1.0;
    return TwoPi / g;
}

ElectrodeCoords GetQuadCoords(const TSequence &sequence, int quad)
{
    ElectrodeCoords c{};
    if (!InTable(quad))
        return c;
    const Quadripole &q = sequence.Quads[std::size_t(quad)];
    const int electrodes[4] = {q.A, q.B, q.M, q.N};
    for (std::size_t k = 0; k < 4; ++k) {
        const Node &n = sequence.NodeAt(electrodes[k]);
        c[AxisX + k] = n.X;
        c[AxisY + k] = n.Y;
        c[AxisZ + k] = n.Z;
    }
    return c;
}

double MidPoint(const ElectrodeCoords &coords, int axis)
{
    if (axis != AxisX && axis != AxisY && axis != AxisZ)
        return 0.0;
    const auto at = [&](int k) { return coords[std::size_t(axis + k)]; };
    const double current = Centre(at(0), at(1));
    const double potential = Centre(at(2), at(3));
    return current + (potential - current) * 0.5;
}

double PseudoDepth(const ElectrodeCoords &coords)
{
    enum { A, B, M, N };
    const float am = HorizontalDistance(coords, A, M);
    const float bm = HorizontalDistance(coords, B, M);
    const float an = HorizontalDistance(coords, A, N);
    const float bn = HorizontalDistance(coords, B, N);
    const float mn = HorizontalDistance(coords, M, N);
    const float ab = HorizontalDistance(coords, A, B);

    // Nearest non-zero current-to-potential distance.
    float dmin = am;
    for (float candidate : {bn, bm, an})
        if ((dmin > candidate || dmin == 0.0f) && candidate != 0.0f)
            dmin = candidate;
    float dmax = std::max({am, bn, an, bm, ab, mn});
    if (ab == 0.0f)
        dmax = mn;
    return 10.0 * dmin >= dmax ? 0.19 * dmax : 0.19 * dmin;
}
