#pragma once
// The instrument's side of the command exchanges, on the fake loopback port:
// wake-up echo, command echo, block transfers in both roles and the replies of
// each command, with the bytes the PC sent recorded per command.
#include "link/FakePort.h"

#include <QByteArray>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

inline QByteArray LeBytes(const void *p, int n) { return QByteArray(static_cast<const char *>(p), n); }
template <class T>
QByteArray Le(T v)
{
    return LeBytes(&v, sizeof v);
}

class TFakeInstrument {
public:
    explicit TFakeInstrument(TFakePort &port) : Port(port)
    {
        // A copy runs, so a handler may replace Sink while it executes.
        Port.OnWrite = [this](std::uint8_t b) {
            const TSink current = Sink;
            current(b);
        };
        Idle();
    }

    QByteArray Parameters = QByteArray(216, '\0');
    QByteArray Description = Le<std::int32_t>(10) + QByteArray(172, '\0');
    QByteArray Records;                      // sent for 31, 33 and the run's "OK"
    QByteArray RunScript;                    // run dialogue bytes up to and including "OK" (or the end)
    bool RunSendsRecords = true;             // RunScript ends with "OK": send Records, then "ST:>"
    // Runs answer by themselves: the channel count of the parameter block
    // is announced and that many records (260 bytes) are sent. FailRuns
    // first runs end with a bad token instead.
    bool AutoRun = false;
    int FailRuns = 0;
    int Runs = 0;
    std::function<void()> DuringRun;         // called when a run starts
    // Lets a test falsify what an automatic run announces and sends.
    std::function<void(std::int32_t &count, QByteArray &records)> TamperRun;
    std::vector<float> SpeedAnswer;          // 2 * (N + 1) values
    QByteArray GpsAnswer = Le<std::int32_t>(0);
    std::vector<float> Floats = {1.5f};      // answers of 43/44, in turn
    std::vector<int> Commands;               // command codes accepted, in order
    std::map<int, QByteArray> Sent;          // bytes the PC sent after each command (last time)
    QByteArray LastBlock;                    // payload of the last block the PC sent
    // Identification state: "@" is answered with the identification.
    bool Identifying = false;
    QByteArray FirstLine = "VOLTIX 10 CH V2.31";
    QByteArray SecondLine = "SN 00042";
    std::uint32_t TypeCode = 0x10000002;
    std::vector<float> Health = {12.6f, 12.4f, 31.0f};   // answer of command 45

private:
    using TSink = std::function<void(std::uint8_t)>;

    void Idle()
    {
        Sink = [this](std::uint8_t b) {
            if (b == '@') {
                Port.Feed({'@'});
                if (Identifying) {
                    Identifying = false;
                    Port.Feed(QByteArrayView(FirstLine + "\r\n" + SecondLine + "\r\n"));
                    Port.Feed(QByteArrayView(Le(TypeCode)));
                    Prompt();
                }
                return;
            }
            if (b == 0)
                return; // a stray byte before identification
            const std::uint8_t command = b;
            Sink = [this, command](std::uint8_t c) {
                if (c != std::uint8_t(command ^ 0xFF)) {
                    Idle();
                    return;
                }
                Commands.push_back(command);
                Port.Feed({command});
                Start(command);
            };
        };
    }

    // Collects n bytes the PC sends, then calls then.
    void Expect(int n, std::function<void(QByteArray)> then)
    {
        auto got = std::make_shared<QByteArray>();
        if (n == 0) {
            then({});
            return;
        }
        Sink = [this, n, got, then](std::uint8_t b) {
            got->append(char(b));
            if (got->size() == n)
                then(*got);
        };
    }

    static unsigned Sum(QByteArrayView b)
    {
        unsigned s = 0;
        for (char c : b)
            s += std::uint8_t(c);
        return s & 0xFFFF;
    }

    // The instrument sends payload; the PC receives it.
    void SendBlock(QByteArray payload, std::function<void()> then)
    {
        Sink = [this, payload, then](std::uint8_t b) {
            if (b != 0)
                return;
            Port.Feed({0});
            Port.Feed(QByteArrayView(Le<std::uint32_t>(std::uint32_t(payload.size()))));
            auto offset = std::make_shared<int>(0);
            auto last = std::make_shared<unsigned>(0);
            auto chunk = std::make_shared<QByteArray>();
            SendBlock2(payload, then, offset, last, chunk);
        };
    }
    void SendBlock2(QByteArray payload, std::function<void()> then, std::shared_ptr<int> offset,
                    std::shared_ptr<unsigned> last, std::shared_ptr<QByteArray> chunk)
    {
        Expect(2, [this, payload, then, offset, last, chunk](QByteArray n) {
            const unsigned number = std::uint8_t(n[0]) | std::uint8_t(n[1]) << 8;
            Port.Feed(QByteArrayView(n));
            if (number != *last) {
                if (*offset >= payload.size()) {
                    Idle();
                    then();
                    return;
                }
                *chunk = payload.mid(*offset, 528);
                *offset += int(chunk->size());
                *last = number;
            }
            Port.Feed(QByteArrayView(Le<std::uint16_t>(std::uint16_t(chunk->size() << 6))));
            Port.Feed(QByteArrayView(*chunk));
            Port.Feed(QByteArrayView(
                Le<std::uint16_t>(std::uint16_t(Sum(Le<std::uint16_t>(std::uint16_t(chunk->size()))) + Sum(*chunk)))));
            SendBlock2(payload, then, offset, last, chunk);
        });
    }

    // The PC sends a block; the instrument receives it.
    void ReceiveBlock(std::function<void(QByteArray)> then)
    {
        Port.Feed({0});
        Sink = [this, then](std::uint8_t b) {
            if (b != 0)
                return;
            Expect(4, [this, then](QByteArray size) {
                std::uint32_t total = 0;
                std::memcpy(&total, size.constData(), 4);
                auto received = std::make_shared<QByteArray>();
                ReceiveNext(1, total, received, then);
            });
        };
    }
    void ReceiveNext(unsigned number, std::uint32_t total, std::shared_ptr<QByteArray> received,
                     std::function<void(QByteArray)> then)
    {
        Port.Feed(QByteArrayView(Le<std::uint16_t>(std::uint16_t(number))));
        const bool closing = received->size() >= qsizetype(total);
        Expect(2, [=, this](QByteArray) {
            if (closing) {
                Idle();
                then(*received);
                return;
            }
            Expect(2, [=, this](QByteArray word) {
                const int length = (std::uint8_t(word[0]) | std::uint8_t(word[1]) << 8) >> 6;
                Expect(length + 2, [=, this](QByteArray body) {
                    const QByteArray payload = body.left(length);
                    const unsigned check = std::uint8_t(body[length]) | std::uint8_t(body[length + 1]) << 8;
                    const bool good = check == ((Sum(Le<std::uint16_t>(std::uint16_t(length))) + Sum(payload)) & 0xFFFF);
                    if (good)
                        received->append(payload);
                    ReceiveNext(good ? (number >= 127 ? 1 : number + 1) : number, total, received, then);
                });
            });
        });
    }

    void Prompt() { Port.Feed(QByteArrayView(":>")); }

    void Start(std::uint8_t command)
    {
        switch (command) {
        case 27:
            Identifying = true;
            Idle();
            return;
        case 45: {
            QByteArray answer;
            for (float v : Health)
                answer += Le(v);
            Port.Feed(QByteArrayView(answer));
            Prompt();
            Idle();
            return;
        }
        case 28:
            SendBlock(Parameters, [this] { Prompt(); });
            return;
        case 29:
            ReceiveBlock([this](QByteArray block) {
                LastBlock = block;
                Parameters = block;
                Sent[29] = block;
                Prompt();
            });
            return;
        case 30:
            SendBlock(Description, [this] { Prompt(); });
            return;
        case 31:
        case 33:
            SendBlock(Records, [this] { Prompt(); });
            return;
        case 32:
            ++Runs;
            if (DuringRun)
                DuringRun();
            if (AutoRun) {
                if (FailRuns > 0) {
                    --FailRuns;
                    Port.Feed(QByteArrayView("XX"));
                    Idle();
                    return;
                }
                std::int32_t n = 0;
                std::memcpy(&n, Parameters.constData(), 4);
                Records = QByteArray(260 * 10, '\0');
                for (int k = 0; k < n && k < 10; ++k) {
                    Records[k * 260] = char(n * 16 + k);
                    const float vp = 100.0f, in = 50.0f;
                    std::memcpy(Records.data() + k * 260 + 168, &vp, 4);
                    std::memcpy(Records.data() + k * 260 + 172, &in, 4);
                }
                std::int32_t announced = n;
                if (TamperRun)
                    TamperRun(announced, Records);
                Port.Feed(QByteArrayView(QByteArray("GO") + Le<std::int32_t>(announced) + "+-OK"));
                SendBlock(Records, [this] { Port.Feed(QByteArrayView("ST:>")); });
                return;
            }
            Port.Feed(QByteArrayView(RunScript));
            if (RunSendsRecords)
                SendBlock(Records, [this] { Port.Feed(QByteArrayView("ST:>")); });
            else
                Idle();
            return;
        case 34:
            Expect(4 + 2 + 2 + 2 + 26 + 1, [this](QByteArray got) {
                Sent[34] = got;
                QByteArray answer;
                for (float v : SpeedAnswer)
                    answer += Le(v);
                Port.Feed(QByteArrayView(answer));
                Expect(1, [this](QByteArray end) {
                    Sent[34] += end;
                    Idle();
                });
            });
            return;
        case 37:
            Expect(4, [this](QByteArray mode) {
                Sent[37] = mode;
                std::int32_t m = 0;
                std::memcpy(&m, mode.constData(), 4);
                if (m == 0) {
                    Prompt();
                    Idle();
                    return;
                }
                Expect(2, [this](QByteArray more) {
                    Sent[37] += more;
                    Prompt();
                    Idle();
                });
            });
            return;
        case 41:
            Expect(28, [this](QByteArray got) {
                Sent[41] = got;
                Prompt();
                Idle();
            });
            return;
        case 42:
            Expect(5, [this](QByteArray got) {
                Sent[42] = got;
                Port.Feed(QByteArrayView(GpsAnswer));
                Prompt();
                Idle();
            });
            return;
        case 43:
            Expect(4, [this](QByteArray got) {
                Sent[43] += got;
                Port.Feed(QByteArrayView(Le(NextFloat())));
                Prompt();
                Idle();
            });
            return;
        case 44:
            Port.Feed(QByteArrayView(Le(NextFloat())));
            Prompt();
            Idle();
            return;
        default:
            Idle();
        }
    }

    float NextFloat()
    {
        const float v = Floats.empty() ? 0.0f : Floats.front();
        if (Floats.size() > 1)
            Floats.erase(Floats.begin());
        return v;
    }

    TFakePort &Port;
    TSink Sink;
};
