// tarnelpro-cli sequence: a quadripole file for a line of electrodes, ordered
// so that each injection measures as many chained dipoles as the channels allow.
#include "cli/Commands.h"
#include "cli/Console.h"

#include <array>
#include <cstdio>
#include <vector>

namespace {

using TQuad = std::array<int, 4>;

std::vector<TQuad> Build(const QString &array, int e, int k)
{
    std::vector<TQuad> q;
    if (array == QLatin1String("dd")) {
        for (int a = 1; a <= k; ++a)
            for (int A = 1; A + 3 * a <= e; ++A)
                for (int n = 1; A + a + n * a + a <= e && n <= 8; ++n)
                    q.push_back({A, A + a, A + a + n * a, A + 2 * a + n * a});
    } else if (array == QLatin1String("wenner")) {
        for (int a = 1; a <= k; ++a)
            for (int A = 1; A + 3 * a <= e; ++A)
                q.push_back({A, A + 3 * a, A + a, A + 2 * a});
    } else if (array == QLatin1String("schlumberger")) {
        for (int M = 2; M + 1 < e; ++M)
            for (int n = 1; n <= k && M - n >= 1 && M + 1 + n <= e; ++n)
                q.push_back({M - n, M + 1 + n, M, M + 1});
    } else if (array == QLatin1String("gradient")) {
        // Current electrodes at the ends of sections of the line, the dipoles between them.
        for (int len = e - 1; len >= 3; len /= 2)
            for (int A = 1; A + len <= e; A += len)
                for (int s = 1; s <= k; ++s)
                    for (int M = A + 1; M + s < A + len; M += s)
                        q.push_back({A, A + len, M, M + s});
    }
    return q;
}

// Groups as the acquisition forms them: consecutive quadripoles sharing A and
// B whose M is the previous N, at most `channels` of them.
int Groups(const std::vector<TQuad> &q, int channels)
{
    int groups = 0;
    for (std::size_t i = 0; i < q.size();) {
        std::size_t j = i + 1;
        while (j < q.size() && int(j - i) < channels && q[j][0] == q[i][0] && q[j][1] == q[i][1] &&
               q[j][2] == q[j - 1][3])
            ++j;
        ++groups;
        i = j;
    }
    return groups;
}

} // namespace

int RunSequenceCommand(const QStringList &args)
{
    const auto usage = [] {
        PrintError(QStringLiteral("usage: tarnelpro-cli sequence --electrodes N --array dd|wenner|schlumberger|gradient "
                                  "[--spacing-max K] [--reciprocals] [--channels C] > FILE.txt"));
        return 2;
    };
    int electrodes = 0, spacing = 0, channels = 10;
    bool reciprocals = false;
    QString array;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        bool ok = true;
        if (a == QLatin1String("--reciprocals"))
            reciprocals = true;
        else if (a == QLatin1String("--array") && i + 1 < args.size())
            array = args[++i];
        else if (a == QLatin1String("--electrodes") && i + 1 < args.size())
            electrodes = args[++i].toInt(&ok);
        else if (a == QLatin1String("--spacing-max") && i + 1 < args.size())
            spacing = args[++i].toInt(&ok);
        else if (a == QLatin1String("--channels") && i + 1 < args.size())
            channels = args[++i].toInt(&ok);
        else
            return usage();
        if (!ok)
            return usage();
    }
    if (electrodes < 4 || electrodes > 65535 || channels < 1 || channels > 10 || spacing < 0 ||
        !QStringList{"dd", "wenner", "schlumberger", "gradient"}.contains(array))
        return usage();
    if (spacing == 0)
        spacing = array == QLatin1String("dd") || array == QLatin1String("gradient") ? 1 : electrodes;
    std::vector<TQuad> q = Build(array, electrodes, spacing);
    if (q.empty()) {
        PrintError(QStringLiteral("no quadripole fits %1 electrodes").arg(electrodes));
        return 1;
    }
    if (reciprocals) {
        // (M, N, A, B) of each, after all normal readings, grouped by their own injection.
        const std::size_t n = q.size();
        for (std::size_t i = 0; i < n; ++i)
            q.push_back({q[i][2], q[i][3], q[i][0], q[i][1]});
    }
    std::printf("# Num A B M N\r\n");
    for (std::size_t i = 0; i < q.size(); ++i)
        std::printf("%zu %d %d %d %d\r\n", i + 1, q[i][0], q[i][1], q[i][2], q[i][3]);
    std::fflush(stdout);
    PrintError(QStringLiteral("%1 quadripoles in %2 groups of at most %3 channels")
                   .arg(q.size())
                   .arg(Groups(q, channels))
                   .arg(channels));
    return 0;
}
