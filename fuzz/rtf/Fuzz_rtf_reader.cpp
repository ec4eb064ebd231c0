// Arbitrary bytes as an RTF file: reading must never crash, and what we
// write of the result must read back to the same text.
#include "base/Rtf.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const TRtfText runs = ReadRtf(QByteArrayView(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    QString expected = PlainText(runs);
    // The writer leaves out control characters other than line and tab.
    expected.removeIf([](QChar c) { return c.unicode() < 0x20 && c != '\n' && c != '\t'; });
    if (PlainText(ReadRtf(WriteRtf(runs))) != expected)
        std::abort();
    return 0;
}
