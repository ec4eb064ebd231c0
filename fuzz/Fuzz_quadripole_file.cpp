// Any bytes as a quadripole file, then everything that walks the table it
// leaves: grouping, used-node walk and geometry.
#include "survey/Geometry.h"
#include "survey/Sequence.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const auto sequence = std::make_unique<TSequence>();
    TSequence &s = *sequence;
    const TLoadReport report = s.ReadQuadripoleText(QByteArrayView(data, qsizetype(size)));
    const int count = report.Count;
    if (count < 0 || count > TSequence::MaxQuadCount || count != s.QuadCount)
        __builtin_trap();
    // A refused file leaves nothing to measure and says why; an accepted one
    // holds no quadripole whose electrodes coincide.
    if (report.Failed && (count != 0 || report.Error.isEmpty()))
        __builtin_trap();
    for (int q = 0; q < count; ++q)
        if (s.Quads[std::size_t(q)].A == s.Quads[std::size_t(q)].B || s.Quads[std::size_t(q)].M == s.Quads[std::size_t(q)].N)
            __builtin_trap();

    TSequence::ElectrodeList electrodes{};
    for (int first = 0; first < count;) {
        int channels = TSequence::MaxChannels;
        s.GroupChannels(first, channels, electrodes);
        if (channels < 1 || first + channels > count)
            __builtin_trap();
        first += channels;
    }
    Node node{};
    int previous = -1;
    for (int number = -1; s.NextUsedNode(number, node); previous = number)
        if (number <= previous || number > TSequence::MaxNodeNumber)
            __builtin_trap();
    for (int q = 0; q <= count; ++q) {
        const ElectrodeCoords c = GetQuadCoords(s, q);
        volatile double sink = GeometricFactor(s, q) + MidPoint(c, AxisX) + MidPoint(c, AxisY) + PseudoDepth(c);
        (void)sink;
    }
    return 0;
}
