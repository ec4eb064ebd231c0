#include "instrument/LineLayout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
double Horizontal(const TLineLayout::TPosition &a, const TLineLayout::TPosition &b)
{
    return std::hypot(double(b[0]) - double(a[0]), double(b[1]) - double(a[1]));
}
} // namespace

TLineLayout::TLineLayout(std::vector<TPosition> positions)
{
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    if (positions.empty()) {
        Why = QStringLiteral("no electrode outside the remote marker");
        return;
    }
    if (positions.size() == 1) {
        Sorted = positions;
        Along = {0.0};
        Index = {{positions[0], 0}};
        return;
    }

    // The two electrodes farthest apart are the ends; every electrode is
    // placed by its projection on the chord between them.
    std::size_t first = 0, last = 0;
    double length = -1;
    for (std::size_t i = 0; i < positions.size(); ++i)
        for (std::size_t j = i + 1; j < positions.size(); ++j) {
            const double d = Horizontal(positions[i], positions[j]);
            if (d > length) {
                length = d;
                first = i;
                last = j;
            }
        }
    if (length <= 0) {
        Why = QStringLiteral("every electrode is at the same horizontal place");
        return;
    }
    const double ux = (double(positions[last][0]) - double(positions[first][0])) / length;
    const double uy = (double(positions[last][1]) - double(positions[first][1])) / length;
    struct TPlaced {
        double S, Offset;
        TPosition P;
    };
    std::vector<TPlaced> placed;
    for (const TPosition &p : positions) {
        const double dx = double(p[0]) - double(positions[first][0]);
        const double dy = double(p[1]) - double(positions[first][1]);
        placed.push_back({dx * ux + dy * uy, std::fabs(dx * uy - dy * ux), p});
    }
    std::sort(placed.begin(), placed.end(), [](const TPlaced &a, const TPlaced &b) { return a.S < b.S; });

    const double limitCos = std::cos(MaxTurnDegrees * std::numbers::pi / 180.0);
    for (std::size_t i = 0; i < placed.size(); ++i) {
        if (placed[i].Offset > MaxOffsetFraction * length) {
            Why = QStringLiteral("the electrode at %1, %2 lies %3 m off the line between the ends")
                      .arg(double(placed[i].P[0]))
                      .arg(double(placed[i].P[1]))
                      .arg(placed[i].Offset, 0, 'f', 2);
            return;
        }
        if (i > 0 && Horizontal(placed[i - 1].P, placed[i].P) <= 1e-6 * length) {
            Why = QStringLiteral("two electrodes share the horizontal place %1, %2")
                      .arg(double(placed[i].P[0]))
                      .arg(double(placed[i].P[1]));
            return;
        }
        if (i >= 2) {
            const TPosition &a = placed[i - 2].P, &b = placed[i - 1].P, &c = placed[i].P;
            const double ax = double(b[0]) - double(a[0]), ay = double(b[1]) - double(a[1]);
            const double bx = double(c[0]) - double(b[0]), by = double(c[1]) - double(b[1]);
            const double cosTurn = (ax * bx + ay * by) / (std::hypot(ax, ay) * std::hypot(bx, by));
            if (cosTurn < limitCos) {
                Why = QStringLiteral("the electrodes turn by more than %1° at %2, %3")
                          .arg(MaxTurnDegrees)
                          .arg(double(b[0]))
                          .arg(double(b[1]));
                return;
            }
        }
    }
    // Start at the end that comes first in x, then y: a line keeps its
    // direction from one export to the next.
    if (placed.back().P < placed.front().P)
        std::reverse(placed.begin(), placed.end());
    double along = 0;
    for (std::size_t i = 0; i < placed.size(); ++i) {
        if (i > 0)
            along += Horizontal(placed[i - 1].P, placed[i].P);
        Sorted.push_back(placed[i].P);
        Along.push_back(along);
        Index.push_back({placed[i].P, int(i)});
    }
    std::sort(Index.begin(), Index.end());
}

int TLineLayout::IndexOf(const TPosition &p) const
{
    const auto it = std::lower_bound(Index.begin(), Index.end(), p,
                                     [](const std::pair<TPosition, int> &e, const TPosition &q) { return e.first < q; });
    return it != Index.end() && it->first == p ? it->second : -1;
}

double TLineLayout::MinSpacing() const
{
    double spacing = 0;
    for (std::size_t i = 1; i < Along.size(); ++i) {
        const double d = Along[i] - Along[i - 1];
        if (d > 0 && (spacing == 0 || d < spacing))
            spacing = d;
    }
    return spacing > 0 ? spacing : 1.0;
}
