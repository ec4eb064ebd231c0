#pragma once
// The pseudo-section model: which quadripoles appear in which display plane
// and section, where each one sits on its section's grid, and the Rho value
// measured for each. Built from the survey before anything is measured;
// filled while the acquisition runs. No drawing here (see TSectionPresenter).
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class TSequence;

class TPseudoSection {
public:
    // Plane indexes. The operator sees them as the tabs "YZ", "XZ" and "XY".
    enum TPlane : int { PlaneYZ = 0, PlaneXZ = 1, PlaneXY = 2 };
    static constexpr int PlaneCount = 3;

    // A slot not yet measured, and what a measured value equal to it becomes,
    // so that both stay distinguishable.
    static constexpr float NoValue = -9e30f;          // F2E33123
    static constexpr float MeasuredNoValue = -8e30f;  // F2C9F2CA
    // Coordinate keys at or above this (centimetres) mark a remote electrode
    // (placed at 99999 m), which puts a quadripole in both vertical planes.
    // Compared in centimetres, so that a line beyond 1 km (projected
    // coordinates) stays an ordinary line.
    static constexpr std::int32_t FarKey = 9999900;

    // One section of a plane, in its sorted list.
    struct SlistPoint {
        std::int32_t key = 0;          // centimetres
        std::int32_t rowCount = 0;     // distinct vertical keys
        std::int32_t columnCount = 0;  // distinct horizontal keys
        // The section's position in metres as the survey gives it (its first
        // member's), for captions: the key is biased toward zero for
        // negative positions (-5 m has key -499).
        double position = 0;
    };
    // Where a quadripole sits in its section of a plane.
    struct GraphPoint {
        std::int32_t row = 0;
        std::int32_t firstColumn = 0;
        std::int32_t lastColumn = 0;   // below firstColumn: fills nothing
        bool operator==(const GraphPoint &) const = default;
    };
    // Keys of X of A, B, M, N, then Y of A, B, M, N.
    using QuadCoord = std::array<std::int32_t, 8>;
    // Horizontal and vertical coordinate of a quadripole in a plane (metres).
    struct TPosition {
        double Horizontal = 0;
        double Vertical = 0;
    };

    explicit TPseudoSection(const TSequence &survey) : Survey(survey) {}

    // Centimetre key: v x 100 + 0.5 truncated toward zero, so that negative
    // positions are biased toward zero (-1.234 m gives -122). Values beyond
    // the int32 range saturate.
    static std::int32_t Key(double metres);

    // The build, in the two halves the presentation goes between.
    // Reset and classification: extents, section lists, quadCoords; every
    // placement forgotten and the running Rho range restarted.
    void Classify();
    // Section contents and grid placement; every placed quadripole back to
    // NoValue. Runs only when some plane has a section.
    void Place();
    // Both halves, without a presentation. False when no plane has a section
    // (the build then stops before placing anything).
    bool Build();
    bool HasSections() const;
    // True once the grids of the last build are placed.
    bool HasPlacement() const;

    // Plane membership of quadripole i (Level >= 0 and the plane's test).
    bool InPlane(int i, int plane) const;
    TPosition Position(int i, int plane) const;
    // The cells quadripole i fills in a section of a plane; nothing unless it
    // belongs to that plane and section.
    std::optional<GraphPoint> CellsOf(int i, int plane, int section) const;
    // The same with the quadripole's position, computed once for both.
    std::optional<GraphPoint> CellsOf(int i, int plane, int section, TPosition &position) const;

    // Stores a measured value and widens the running range.
    void StoreRho(int i, float value);

    // Section captions: "X " / "Y " / "Z " + the key in metres ("0.##").
    static const char *CaptionPrefix(int plane);

    // --- The model, read by the presentation and the command line.
    std::array<std::vector<SlistPoint>, PlaneCount> sectionLists;
    std::array<std::vector<GraphPoint>, PlaneCount> planePoints;
    std::vector<QuadCoord> quadCoords;
    std::vector<float> rhoValues;
    // Quality flags of each quadripole (TQualityControl), 0 when good or not judged.
    std::vector<unsigned> qcFlags;
    // True when the drawn value changes (a measured record now flagged or cleared).
    bool SetFlags(int i, unsigned flags);
    // What the section shows of quadripole i: nothing for a flagged one when hidden.
    float Shown(int i, bool hideFlagged) const;
    // Per plane: horizontal then vertical extent of the members, in metres.
    std::array<std::array<float, 2>, PlaneCount> planeMin{};
    std::array<std::array<float, 2>, PlaneCount> planeMax{};
    float rhoMin = 0;
    float rhoMax = 0;
    // Plane and section index last drawn; -1: none.
    int lastPlane = -1;
    int lastSection = -1;

    const TSequence &Survey;

private:
    struct TGeometry {
        double MidX, MidY, Depth;
    };
    TGeometry GeometryOf(int i) const;
    static TPosition PositionIn(const TGeometry &g, int plane);
    static std::int32_t SectionKeyIn(const TGeometry &g, int plane);
    static double SectionPositionIn(const TGeometry &g, int plane);
    std::optional<GraphPoint> Cells(int i, int plane, int section, const TGeometry &g) const;
};
