#include "instrument/LineLayout.h"

#include <algorithm>
#include <cmath>

namespace {
double Horizontal(const TLineLayout::TPosition &a, const TLineLayout::TPosition &b)
{
    return std::hypot(double(b[0]) - double(a[0]), double(b[1]) - double(a[1]));
}

QString Place(const TLineLayout::TPosition &p)
{
    return QStringLiteral("%1, %2").arg(double(p[0]), 0, 'f', 2).arg(double(p[1]), 0, 'f', 2);
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
        double S;
        TPosition P;
    };
    std::vector<TPlaced> placed;
    for (const TPosition &p : positions) {
        const double dx = double(p[0]) - double(positions[first][0]);
        const double dy = double(p[1]) - double(positions[first][1]);
        placed.push_back({dx * ux + dy * uy, p});
    }
    std::sort(placed.begin(), placed.end(), [](const TPlaced &a, const TPlaced &b) { return a.S < b.S; });

    std::vector<double> along(placed.size(), 0.0);
    for (std::size_t i = 1; i < placed.size(); ++i) {
        const double step = Horizontal(placed[i - 1].P, placed[i].P);
        if (step <= 1e-6 * length) {
            Why = QStringLiteral("two electrodes share the horizontal place %1").arg(Place(placed[i].P));
            return;
        }
        along[i] = along[i - 1] + step;
    }
    // Every pair, not only neighbours: a grid or two parallel lines put in
    // projection order zigzag, and a corner or a bend shows between
    // electrodes some way apart.
    double worst = 0;
    std::size_t worstI = 0, worstJ = 0;
    for (std::size_t i = 0; i < placed.size(); ++i)
        for (std::size_t j = i + 2; j < placed.size(); ++j) {
            const double straight = Horizontal(placed[i].P, placed[j].P);
            if (straight <= 1e-6 * length) {
                Why = QStringLiteral("two electrodes share the horizontal place %1").arg(Place(placed[j].P));
                return;
            }
            const double stretch = (along[j] - along[i]) / straight - 1.0;
            if (stretch > worst) {
                worst = stretch;
                worstI = i;
                worstJ = j;
            }
        }
    if (worst > MaxStretch) {
        Why = QStringLiteral("from the electrode at %1 to the one at %2 the way along the electrodes is %3 % longer "
                             "than the straight distance; a line allows %4 %")
                  .arg(Place(placed[worstI].P), Place(placed[worstJ].P))
                  .arg(100.0 * worst, 0, 'f', 1)
                  .arg(100.0 * MaxStretch, 0, 'f', 0);
        return;
    }
    for (std::size_t i = 0; i < placed.size(); ++i) {
        Sorted.push_back(placed[i].P);
        Along.push_back(along[i]);
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

void TLineLayout::Reverse()
{
    if (Sorted.size() < 2)
        return;
    std::reverse(Sorted.begin(), Sorted.end());
    // Summed again from the new first electrode rather than subtracted from
    // the total: the same line read from either end gives the same numbers.
    std::vector<double> along(Sorted.size(), 0.0);
    for (std::size_t i = 1; i < Sorted.size(); ++i)
        along[i] = along[i - 1] + Horizontal(Sorted[i - 1], Sorted[i]);
    Along = along;
    for (std::size_t i = 0; i < Sorted.size(); ++i)
        Index[i] = {Sorted[i], int(i)};
    std::sort(Index.begin(), Index.end());
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
