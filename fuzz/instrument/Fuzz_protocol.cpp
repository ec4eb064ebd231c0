// Arbitrary instrument answers to the run dialogue, the fast measurement and
// the GPS command: no crash, no write outside a buffer, no endless wait.
#include "link/FakePort.h"

#include "base/TarnelError.h"
#include "instrument/VoltixProGen.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_protocol";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    if (size < 2)
        return 0;
    const int operation = data[0] % 4;
    const bool firstGeneration = data[1] & 1;
    const QByteArray answers(reinterpret_cast<const char *>(data + 2), static_cast<qsizetype>(size - 2));

    TScriptedUi ui;
    ui.InputAnswers = {"GPGGA"};
    TFakeClock clock;
    TFakePort port(ui, clock);
    // The handshake is answered properly; everything after the command's
    // echo comes from the input, a few bytes for every byte the PC writes.
    qsizetype next = 0;
    int pending = -1;
    bool commanded = false;
    port.OnWrite = [&](std::uint8_t b) {
        if (!commanded) {
            if (b == '@') {
                port.Feed({'@'});
            } else if (pending >= 0 && b == std::uint8_t(pending ^ 0xFF)) {
                port.Feed({pending});
                commanded = true;
                pending = -1;
            } else {
                pending = b;
            }
        }
        if (commanded && next < answers.size()) {
            const qsizetype chunk = std::min<qsizetype>(16, answers.size() - next);
            port.Feed(QByteArrayView(answers.constData() + next, chunk));
            next += chunk;
        }
    };
    // Ten simulated minutes of silence end the exchange as a dropped link would.
    port.OnIdle = [&] {
        if (clock.Now > 600000)
            port.State = 0;
    };

    auto model = std::make_unique<TVoltixPro>(ui, clock);
    model->Port = &port;
    model->QuadCount = 10;
    model->ChooseProtocol(firstGeneration ? TypeCodeV1 : TypeCodeV2);
    auto &gen = static_cast<TVoltixProGen &>(model->Protocol());
    // A description announcing any channel count.
    if (answers.size() >= 4)
        std::memcpy(gen.DescriptionBlock().data(), answers.constData(), 4);
    try {
        switch (operation) {
        case 0:
            gen.RunMeasurement();
            break;
        case 1:
            gen.SpeedMeasure(TElectrodeList{}, true);
            break;
        case 2: {
            std::array<std::uint8_t, 4> gps{};
            gen.GetGpsData(gps);
            break;
        }
        default:
            gen.GetParameters();
            break;
        }
    } catch (const ETarnelError &) {
        // A dropped link ends the exchange with the program's message.
    }
    return 0;
}
