#include "survey/SequenceGenerator.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <tuple>

namespace {

constexpr int MinElectrodes = 4;
constexpr int Remote = 0;

// Keeps at most `Cap` readings but counts them all, so that a survey far
// beyond the file's capacity is measured without being held.
struct TSink {
    TSink(std::vector<Quadripole> &out, std::size_t cap) : Out(out), Cap(cap) {}

    std::vector<Quadripole> &Out;
    std::size_t Cap;
    long long Count = 0;

    void operator()(int a, int b, int m, int n)
    {
        ++Count;
        if (Out.size() < Cap)
            Out.push_back({a, b, m, n, 0});
    }
};

void Build(TArrayKind array, int e, int k, int nMax, int dMax, TSink &add)
{
    switch (array) {
    case TArrayKind::DipoleDipole:
        // n ascending: each M is the previous N, one chain per injection.
        for (int a = 1; a <= k; ++a)
            for (int A = 1; A + 3 * a <= e; ++A)
                for (int n = 1; n <= nMax && A + 2 * a + n * a <= e; ++n)
                    add(A, A + a, A + a + n * a, A + 2 * a + n * a);
        break;
    case TArrayKind::Wenner:
        for (int a = 1; a <= k; ++a)
            for (int A = 1; A + 3 * a <= e; ++A)
                add(A, A + 3 * a, A + a, A + 2 * a);
        break;
    case TArrayKind::Schlumberger:
        // A M N B with MN = d and AM = NB = n d; d = 1 is the classic
        // Wenner-Schlumberger line.
        for (int d = 1; d <= dMax; ++d)
            for (int M = 2; M + d < e; ++M)
                for (int n = 1; n <= k && M - n * d >= 1 && M + d + n * d <= e; ++n)
                    add(M - n * d, M + d + n * d, M, M + d);
        break;
    case TArrayKind::Gradient:
        // Current electrodes at the ends of sections of the line, the dipoles between them.
        for (int len = e - 1; len >= 3; len /= 2)
            for (int A = 1; A + len <= e; A += len)
                for (int s = 1; s <= k; ++s)
                    for (int M = A + 1; M + s < A + len; M += s)
                        add(A, A + len, M, M + s);
        break;
    case TArrayKind::PoleDipole:
        // B at infinity. Both sides of A, each side one chain (M nearer A than
        // N), so that the line's ends are covered as well as its middle.
        for (int a = 1; a <= k; ++a)
            for (int A = 1; A <= e; ++A) {
                for (int n = 1; n <= nMax && A + n * a + a <= e; ++n)
                    add(A, Remote, A + n * a, A + n * a + a);
                for (int n = 1; n <= nMax && A - n * a - a >= 1; ++n)
                    add(A, Remote, A - n * a, A - n * a - a);
            }
        break;
    case TArrayKind::PolePole:
        // B and N at infinity; M beyond A only, the other side being the reciprocal.
        for (int A = 1; A < e; ++A)
            for (int s = 1; s <= k && A + s <= e; ++s)
                add(A, Remote, A + s, Remote);
        break;
    }
}

QString OptionName(TArrayKind array)
{
    switch (array) {
    case TArrayKind::DipoleDipole: return QStringLiteral("dd");
    case TArrayKind::Wenner: return QStringLiteral("wenner");
    case TArrayKind::Schlumberger: return QStringLiteral("schlumberger");
    case TArrayKind::Gradient: return QStringLiteral("gradient");
    case TArrayKind::PoleDipole: return QStringLiteral("pole-dipole");
    case TArrayKind::PolePole: return QStringLiteral("pole-pole");
    }
    return {};
}

} // namespace

std::optional<TArrayKind> TSequenceGenerator::ArrayNamed(const QString &name)
{
    for (TArrayKind a : {TArrayKind::DipoleDipole, TArrayKind::Wenner, TArrayKind::Schlumberger,
                         TArrayKind::Gradient, TArrayKind::PoleDipole, TArrayKind::PolePole})
        if (name == OptionName(a))
            return a;
    return std::nullopt;
}

QString TSequenceGenerator::CheckRequest() const
{
    const TSequenceRequest &r = Request;
    if (r.Electrodes < MinElectrodes)
        return QStringLiteral("%1 electrodes: a sequence needs at least %2").arg(r.Electrodes).arg(MinElectrodes);
    if (r.Electrodes > TSequence::MaxNodeNumber)
        return QStringLiteral("%1 electrodes: a survey numbers its electrodes 1 to %2 at most")
            .arg(r.Electrodes)
            .arg(TSequence::MaxNodeNumber);
    if (r.Channels < 1 || r.Channels > TSequence::MaxChannels)
        return QStringLiteral("--channels %1: the instrument measures 1 to %2 channels")
            .arg(r.Channels)
            .arg(TSequence::MaxChannels);
    const struct {
        const char *Name;
        const std::optional<int> &Value;
        bool Applies;
        const char *Arrays;
    } options[] = {
        {"--spacing-max", r.SpacingMax, true, ""},
        {"--n-max", r.NMax, r.Array == TArrayKind::DipoleDipole || r.Array == TArrayKind::PoleDipole,
         "dd and pole-dipole"},
        {"--dipole-max", r.DipoleMax, r.Array == TArrayKind::Schlumberger, "schlumberger"},
    };
    for (const auto &o : options) {
        if (!o.Value)
            continue;
        if (!o.Applies)
            return QStringLiteral("%1 applies to %2 only, not to %3")
                .arg(QLatin1String(o.Name), QLatin1String(o.Arrays), OptionName(r.Array));
        if (*o.Value < 1)
            return QStringLiteral("%1 %2: the smallest is 1").arg(QLatin1String(o.Name)).arg(*o.Value);
    }
    return {};
}

int TSequenceGenerator::Spacing() const
{
    const int e = Request.Electrodes;
    if (Request.SpacingMax)
        return std::min(*Request.SpacingMax, e);
    switch (Request.Array) {
    case TArrayKind::DipoleDipole:
    case TArrayKind::Gradient:
    case TArrayKind::PoleDipole:
        return 1;
    case TArrayKind::Wenner:
    case TArrayKind::Schlumberger:
    case TArrayKind::PolePole:
        break;
    }
    return e;
}

int TSequenceGenerator::NLimit() const
{
    // Beyond the line's length a larger value adds nothing; clamping keeps the arithmetic small.
    return std::min(Request.NMax.value_or(Request.Channels), Request.Electrodes);
}

std::vector<Quadripole> TSequenceGenerator::Reciprocals(std::span<const Quadripole> forward)
{
    std::vector<Quadripole> out;
    out.reserve(forward.size());
    for (const Quadripole &q : forward)
        out.push_back({q.M, q.N, q.A, q.B, q.Level});
    // Readings of one injection together, potential dipoles in line order: for
    // a dipole-dipole line each M is then the previous N, as in the forward half.
    std::stable_sort(out.begin(), out.end(), [](const Quadripole &l, const Quadripole &r) {
        return std::tie(l.A, l.B, l.M) < std::tie(r.A, r.B, r.M);
    });
    return out;
}

int TSequenceGenerator::CountGroups(std::span<const Quadripole> quads, int channels)
{
    auto sequence = std::make_unique<TSequence>();
    const std::size_t held = std::min(quads.size(), std::size_t(TSequence::MaxQuadCount));
    std::copy_n(quads.begin(), held, sequence->Quads.begin());
    sequence->QuadCount = std::int32_t(held);
    int groups = 0;
    TSequence::ElectrodeList electrodes{};
    for (int first = 0; first < int(held);) {
        int taken = channels;
        sequence->GroupChannels(first, taken, electrodes);
        if (taken < 1)
            break;
        first += taken;
        ++groups;
    }
    return groups;
}

QByteArray TSequenceGenerator::FileText(std::span<const Quadripole> quads)
{
    QByteArray text("# Num A B M N\r\n");
    text.reserve(qsizetype(quads.size() * 24 + 16));
    std::size_t number = 0;
    for (const Quadripole &q : quads)
        text += QByteArray::number(qulonglong(++number)) + ' ' + QByteArray::number(q.A) + ' ' +
                QByteArray::number(q.B) + ' ' + QByteArray::number(q.M) + ' ' + QByteArray::number(q.N) + "\r\n";
    return text;
}

TSequencePlan TSequenceGenerator::Generate() const
{
    TSequencePlan plan;
    plan.Error = CheckRequest();
    if (!plan.Error.isEmpty())
        return plan;
    constexpr long long Held = TSequence::MaxQuadCount;
    TSink sink(plan.Quads, std::size_t(Held) + 1);
    Build(Request.Array, Request.Electrodes, Spacing(), NLimit(),
          std::min(Request.DipoleMax.value_or(1), Request.Electrodes), sink);
    const long long forward = sink.Count;
    const long long total = Request.Reciprocals ? 2 * forward : forward;
    if (forward == 0) {
        plan.Error = QStringLiteral("no quadripole fits %1 electrodes").arg(Request.Electrodes);
        plan.Quads.clear();
        return plan;
    }
    if (total > Held) {
        // The loader would keep the first 15998 and drop the rest without a word:
        // the reciprocals, or the far end of the line.
        plan.Error = (Request.Reciprocals
                          ? QStringLiteral("%1 quadripoles (%2 and as many reciprocals)").arg(total).arg(forward)
                          : QStringLiteral("%1 quadripoles").arg(total)) +
                     QStringLiteral(", more than the %1 a quadripole file holds; lower the spacings or "
                                    "the electrode count")
                         .arg(Held);
        plan.Quads.clear();
        return plan;
    }
    plan.ForwardCount = int(forward);
    const int channels = Request.Channels;
    plan.Forward = {int(forward), CountGroups(plan.Quads, channels)};
    if (Request.Reciprocals) {
        const std::vector<Quadripole> reciprocal = Reciprocals(plan.Quads);
        plan.Reciprocal = {int(reciprocal.size()), CountGroups(reciprocal, channels)};
        plan.Quads.insert(plan.Quads.end(), reciprocal.begin(), reciprocal.end());
    }
    plan.Total = {int(plan.Quads.size()), CountGroups(plan.Quads, channels)};
    return plan;
}
