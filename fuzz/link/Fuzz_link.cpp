// Arbitrary instrument bytes into the receiving side of the link: block
// transfer (both roles), ReadLine, Identify and the command handshake.
#include "FakePort.h"

#include "base/TarnelError.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    TScriptedUi ui;
    TFakeClock clock;
    TFakePort port(ui, clock);
    port.DropWhenDry = true;
    port.KeepOnFlush = true;
    port.Feed(QByteArrayView(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)));
    try {
        switch (data[0] % 6) {
        case 0:
            port.ReceiveBlock(TBlockProgress::ProgressBar, TBlockErrors::ErrorIndicator);
            break;
        case 1: {
            std::array<std::uint8_t, 260> records{};
            const int n = port.ReceiveBlockInto(records, TBlockProgress::None, TBlockErrors::ErrorIndicator);
            if (n < 0 || n > int(records.size()))
                __builtin_trap();
            break;
        }
        case 2: {
            QByteArray line;
            port.ReadLine(line, 40, 15000);
            if (line.size() > 40)
                __builtin_trap();
            break;
        }
        case 3: {
            QByteArray second, first;
            port.Identify(second, first);
            if (second.size() > 40 || first.size() > 40)
                __builtin_trap();
            break;
        }
        case 4: {
            std::array<std::uint8_t, 600> payload{};
            payload.fill(0x5A);
            port.SendBlockFrom(std::span<const std::uint8_t>(payload), TBlockErrors::ErrorIndicator,
                               TBlockProgress::ProgressBar);
            break;
        }
        default:
            if (port.SendCommand(data[0], 2000))
                port.WaitPrompt();
            break;
        }
    } catch (const ETarnelError &) {
    }
    return 0;
}
