#pragma once
// The electrodes of a 2-D line put in order along it, for the processing
// tools that know only "distance along the line" and "elevation". A line may
// run in any direction and may bend gently; anything else (a grid, two
// parallel lines, a sharp corner, a borehole) is not a line and is reported
// as such.
#include <QString>

#include <array>
#include <utility>
#include <vector>

class TLineLayout {
public:
    using TPosition = std::array<float, 3>;

    // How much longer than the straight horizontal distance between two
    // electrodes the distance along the line between them may be. A bend
    // stretches the distances a 2-D program sees, and with them its
    // geometric factors: 1 % keeps that below the usual data error.
    static constexpr double MaxStretch = 0.01;

    // positions: distinct electrode positions, remote electrodes left out.
    explicit TLineLayout(std::vector<TPosition> positions);

    bool IsLine() const { return Why.isEmpty(); }
    // Why the positions are not one line; empty for a line.
    const QString &NotALine() const { return Why; }

    // The positions from one end of the line to the other. Which end comes
    // first is the caller's choice (Reverse): centimetres of noise must not
    // turn a line around, so no rule of coordinates decides it here.
    const std::vector<TPosition> &Ordered() const { return Sorted; }
    // Cumulative horizontal distance from the first electrode, in metres.
    const std::vector<double> &Distances() const { return Along; }
    // 0-based place of p in Ordered(), -1 when p is not one of them.
    int IndexOf(const TPosition &p) const;
    // Puts the other end first; distances then run from that end.
    void Reverse();
    // Smallest distance between neighbours along the line; 1 when there is
    // no pair.
    double MinSpacing() const;

private:
    std::vector<TPosition> Sorted;
    std::vector<double> Along;
    std::vector<std::pair<TPosition, int>> Index; // sorted by position
    QString Why;
};
