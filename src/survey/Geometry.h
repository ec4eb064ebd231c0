#pragma once
// Geometry of one quadripole from the survey tables: geometric factor, the
// electrode coordinates a data record stores, and the pseudo-section point.
#include <array>

class TSequence;

// X of A, B, M, N, then their Y, then their Z, in metres.
using ElectrodeCoords = std::array<float, 12>;
static_assert(sizeof(ElectrodeCoords) == 48);

// Offsets of the axes inside ElectrodeCoords.
constexpr int AxisX = 0;
constexpr int AxisY = 4;
constexpr int AxisZ = 8;

// K in metres, such that apparent resistivity = K * V / I, for a half-space
// with electrode elevations taken into account. Node 0 is the electrode at
// infinity. 1 when the geometry gives no usable factor (coincident or all
// remote electrodes) or when quad is outside the table.
double GeometricFactor(const TSequence &sequence, int quad);

// Coordinates of the four electrodes of a quadripole; node 0 keeps its remote
// marker values. All zero when quad is outside the table.
ElectrodeCoords GetQuadCoords(const TSequence &sequence, int quad);

// Position along one axis (AxisX or AxisY) of the pseudo-section point: the
// middle of the current and the potential electrode centres, ignoring remote
// electrodes. 0 for any other offset.
double MidPoint(const ElectrodeCoords &coords, int axis);

// Pseudo-depth in metres from the horizontal electrode distances.
double PseudoDepth(const ElectrodeCoords &coords);
