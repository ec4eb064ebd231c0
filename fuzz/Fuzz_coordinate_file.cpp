// Any bytes as a coordinate file (a point or a comma as decimal separator,
// either encoding), then the defined-node walk and the node lookups.
#include "survey/Sequence.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const auto sequence = std::make_unique<TSequence>();
    TSequence &s = *sequence;
    const TLoadReport report = s.ReadCoordinateText(QByteArrayView(data, qsizetype(size)));
    const int count = report.Count;
    if (count < 0 || count != s.NodeCount)
        __builtin_trap();
    if (report.Failed && report.Error.isEmpty())
        __builtin_trap();

    Node node{};
    for (int number = -1; s.NextDefinedNode(number, node);)
        if (number < 0 || number > TSequence::MaxNodeNumber || !std::isfinite(node.X) || !std::isfinite(node.Y)
            || !std::isfinite(node.Z))
            __builtin_trap();
    for (int number : {-1, 0, 2001, 2047, 2048})
        if (s.GetNode(number, node) != (number >= 0 && number < TSequence::NodeTableSize))
            __builtin_trap();
    return 0;
}
