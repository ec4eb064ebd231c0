#include "sim/SimInstrument.h"

#include "instrument/SpeedAnswer.h"

#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

namespace {
constexpr int ExchangeTimeoutMs = 5000;
constexpr int DescriptionSize = 176;
constexpr int MaxBlock = 528;

QByteArray Le16(unsigned v)
{
    QByteArray b(2, 0);
    qToLittleEndian<quint16>(static_cast<quint16>(v), b.data());
    return b;
}
QByteArray Le32(std::uint32_t v)
{
    QByteArray b(4, 0);
    qToLittleEndian<quint32>(v, b.data());
    return b;
}
QByteArray F32(float v)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    return Le32(bits);
}
void PutF32(QByteArray &b, int offset, float v) { b.replace(offset, 4, F32(v)); }
void PutU16(QByteArray &b, int offset, unsigned v) { b.replace(offset, 2, Le16(v)); }
// Values outside the bytes read as 0.
template <class T>
T ValueAt(const QByteArray &b, int offset)
{
    T v{};
    if (offset >= 0 && offset + qsizetype(sizeof(T)) <= b.size())
        std::memcpy(&v, b.constData() + offset, sizeof(T));
    return v;
}
std::int32_t I32At(const QByteArray &b, int offset) { return ValueAt<std::int32_t>(b, offset); }
unsigned U16At(const QByteArray &b, int offset) { return ValueAt<std::uint16_t>(b, offset); }
float F32At(const QByteArray &b, int offset) { return ValueAt<float>(b, offset); }
unsigned Sum16(QByteArrayView b)
{
    unsigned s = 0;
    for (char c : b)
        s += static_cast<std::uint8_t>(c);
    return s & 0xFFFF;
}
unsigned Next(unsigned n) { return n >= 127 ? 1 : n + 1; }
} // namespace

TSimInstrument::TSimInstrument(TSimOptions options)
    : Opt(std::move(options)), Random(Opt.Seed), FaultRandom(Opt.Seed ^ 0x5A5A5A5Au)
{
    Parameters = QByteArray(ParameterSize(), 0);
    Parameters.replace(0, 4, Le32(std::uint32_t(Opt.Channels)));
    Parameters.replace(4, 4, Le32(1));
    Parameters.replace(8, 4, Le32(1023));
    Parameters.replace(12, 4, Le32(4));
    Parameters.replace(16, 4, Le32(16));
    PutF32(Parameters, 20, 1.0f);
    Parameters.replace(24, 4, Le32(328225));
    PutU16(Parameters, 32, 200);
    PutU16(Parameters, 34, 126);
    PutU16(Parameters, 36, 24);
    for (int w = 0; w < 20; ++w)
        PutU16(Parameters, 38 + 2 * w, 8);
    // The instrument's own part of the block, echoed back by the program untouched.
    for (int i = 92; i < Parameters.size(); ++i)
        Parameters[i] = char(i & 0xFF);
}

void TSimInstrument::Pause(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool TSimInstrument::Send(const QByteArray &bytes)
{
    Pause(Opt.Faults.SlowMs);
    return Wire->Write(bytes);
}

QByteArray TSimInstrument::ReadN(int count, int timeoutMs)
{
    QByteArray out;
    while (out.size() < count) {
        const int b = Wire->ReadByte(timeoutMs);
        if (b < 0)
            return {};
        out.append(char(b));
    }
    return out;
}

int TSimInstrument::NextByte(int timeoutMs)
{
    if (PutBack >= 0)
        return std::exchange(PutBack, -1);
    return Wire->ReadByte(timeoutMs);
}

void TSimInstrument::Drain(int quietMs)
{
    while (Wire->ReadByte(quietMs) >= 0) {
    }
}

void TSimInstrument::Misbehave()
{
    for (;;) {
        const int b = Wire->ReadByte(Opt.Faults.GarbageAfterIdentify ? 20 : -1);
        if (b == -2)
            return;
        if (!Opt.Faults.GarbageAfterIdentify)
            continue;
        // Bytes that never complete an exchange: no wake-up echo, no zero, no prompt.
        QByteArray junk(64, 0);
        for (char &c : junk)
            c = char(0x80 + FaultRandom() % 0x7F);
        if (!Wire->Write(junk))
            return;
    }
}

void TSimInstrument::Serve(TSimWire &wire)
{
    Wire = &wire;
    Dropped = false;
    PutBack = -1;
    std::uniform_real_distribution<double> chance(0, 1);
    for (;;) {
        const int b = NextByte(-1);
        if (b == -2 || Dropped)
            return;
        if (b < 0)
            continue;
        // The line goes dead once the given number of groups has been measured,
        // when the PC next speaks: those groups reached the PC whole.
        if (Opt.Faults.DropAfterGroups > 0 && Groups >= Opt.Faults.DropAfterGroups) {
            Dropped = true;
            Wire->HangUp();
            return;
        }
        if (Opt.Faults.SilentAfterGroups > 0 && Groups >= Opt.Faults.SilentAfterGroups) {
            Misbehave();
            return;
        }
        if (b == '@') {
            if (++Wakeups <= Opt.Faults.SilentWakeUps)
                continue;
            QByteArray answer("@");
            const bool identified = State == TState::Identification;
            if (identified) {
                answer += "VOLTIX PRO " + QByteArray::number(Opt.Channels) + "\r\n";
                answer += "SN 0042 V" + QByteArray::number(Opt.Generation) + ".10 SIM\r\n";
                answer += Le32(Opt.TypeCode);
                answer += ":>";
                State = TState::Remote;
            }
            if (!Send(answer))
                return;
            if (identified && (Opt.Faults.GarbageAfterIdentify || Opt.Faults.SilentAfterIdentify)) {
                Misbehave();
                return;
            }
            continue;
        }
        // The PC's zero before identifying is no command.
        if (b == 0)
            continue;
        // A command: its byte, then the complement.
        const int complement = NextByte(1000);
        if (complement == -2)
            return;
        if (complement != (b ^ 0xFF)) {
            // A stray byte followed by a wake-up: the wake-up still counts.
            if (complement == '@')
                PutBack = complement;
            continue;
        }
        if (++CommandPairs <= Opt.Faults.FfReplies) {
            if (!Send(QByteArray(1, char(0xFF))))
                return;
            continue;
        }
        if (!Send(QByteArray(1, char(b))))
            return;
        if (!Handle(b))
            return;
        if (Opt.Faults.Noise > 0 && chance(FaultRandom) < Opt.Faults.Noise) {
            // A stray byte between exchanges; never a wake-up echo or a zero.
            if (!Wire->Write(QByteArray(1, char(0x80 + FaultRandom() % 64))))
                return;
        }
    }
}

// Returns false when the connection is gone.
bool TSimInstrument::Handle(int command)
{
    switch (command) {
    case 27:
        State = TState::Identification;
        return true;
    case 28:
        return SendBlock(Parameters) && Prompt();
    case 29: {
        QByteArray block;
        if (!ReceiveBlock(block))
            return true; // a broken transfer; a lost peer shows at the next read
        if (block.size() >= ParameterSize())
            Parameters = block.left(ParameterSize());
        return Prompt();
    }
    case 30:
        return SendBlock(Description()) && Prompt();
    case 31:
    case 33:
        return SendBlock(Records()) && Prompt();
    case 32:
        return RunMeasurement();
    case 34: {
        // voltage, time, delay, flag, 26-byte electrode list, 0x55
        const QByteArray head = ReadN(4 + 2 + 2 + 2, ExchangeTimeoutMs);
        if (head.isEmpty())
            return true;
        if (U16At(head, 8) != 0) {
            const QByteArray list = ReadN(26, ExchangeTimeoutMs);
            for (int i = 0; i < 13 && list.size() == 26; ++i)
                Electrodes[i] = static_cast<std::int16_t>(U16At(list, 2 * i));
        }
        if (Wire->ReadByte(ExchangeTimeoutMs) != 0x55)
            return true;
        // The transmitter voltage the PC asks for; 0 leaves the configured injection.
        const QByteArray recs = Records(F32At(head, 0));
        // The values of the model's records: Vp / In of the answer is the
        // record's resistance, so the apparent resistivity is the model's.
        const TSpeedAnswer layout{Opt.Channels};
        std::vector<float> values(std::size_t(layout.ValueCount()), 0.0f);
        const int sp = Opt.Generation == 1 ? 128 : 164;
        double in = 0;
        for (int k = 0; k < Opt.Channels; ++k) {
            const int r = k * RecordSize();
            if (r + RecordSize() > recs.size())
                continue;
            const double spv = F32At(recs, r + sp), vp = F32At(recs, r + sp + 4);
            in = F32At(recs, r + sp + 8);
            values[std::size_t(layout.Positive(k))] = Float(spv + vp);
            values[std::size_t(layout.Negative(k))] = Float(spv - vp);
        }
        values[std::size_t(layout.CurrentPositive())] = Float(in);
        values[std::size_t(layout.CurrentNegative())] = Float(-in);
        QByteArray answer;
        for (float v : values)
            answer += F32(v);
        if (!Send(answer))
            return false;
        // The PC closes with 0x00; the prompt then tells it the next group may come.
        Wire->ReadByte(ExchangeTimeoutMs);
        ++Groups;
        return Prompt();
    }
    case 37: {
        const QByteArray mode = ReadN(4, ExchangeTimeoutMs);
        if (mode.size() == 4 && I32At(mode, 0) != 0)
            ReadN(2, ExchangeTimeoutMs);
        return Prompt();
    }
    case 41: {
        const QByteArray head = ReadN(2 + 26, ExchangeTimeoutMs);
        for (int i = 0; i < 13 && head.size() == 28; ++i)
            Electrodes[i] = static_cast<std::int16_t>(U16At(head, 2 + 2 * i));
        return Prompt();
    }
    case 42: {
        ReadN(5, ExchangeTimeoutMs);
        return Send(Le32(4) + QByteArray("4512")) && Prompt();
    }
    case 43: {
        const QByteArray index = ReadN(4, ExchangeTimeoutMs);
        if (index.size() < 4)
            return true;
        const int i = I32At(index, 0);
        // Contact resistance (kOhm) of the pair the index designates; bad nodes read high.
        // Index i designates the receiving dipole of channel i: M = P(i+1), N = P(i+2).
        const int nodeA = Electrodes[std::clamp(2 + i, 2, 12)], nodeB = Electrodes[std::clamp(3 + i, 2, 12)];
        const double r = ContactKOhm(nodeA) + ContactKOhm(nodeB) + 0.01 * (Random() % 10);
        return Send(F32(Float(r))) && Prompt();
    }
    case 44:
        return Send(F32(Float(ContactKOhm(Electrodes[0]) + ContactKOhm(Electrodes[1])))) && Prompt();
    case 45: {
        double tx = Opt.TxBattery, rx = Opt.RxBattery, temp = Opt.Temperature;
        if (Opt.Faults.BatteryLowAtGroup > 0 && Groups >= Opt.Faults.BatteryLowAtGroup)
            tx = rx = 9.0;
        if (Opt.Faults.OverheatAtGroup > 0 && Groups >= Opt.Faults.OverheatAtGroup)
            temp = 70;
        return Send(F32(Float(tx)) + F32(Float(rx)) + F32(Float(temp))) && Prompt();
    }
    default:
        return true;
    }
}

QByteArray TSimInstrument::Description() const
{
    QByteArray d(DescriptionSize, 0);
    d.replace(0, 4, Le32(std::uint32_t(Opt.Channels)));
    return d;
}

std::array<double, 3> TSimInstrument::NodePos(int node) const
{
    if (node >= 0 && node < int(Opt.Nodes.size()))
        return {Opt.Nodes[node][0], Opt.Nodes[node][1], Opt.Nodes[node][2]};
    if (node == 0)
        return {99999, 99999, 0};
    return {double(node), 0, 0};
}

std::mt19937 TSimInstrument::QuadRandom(int a, int b, int m, int n, unsigned stream) const
{
    std::seed_seq seq{Opt.Seed, unsigned(a), unsigned(b), unsigned(m), unsigned(n), stream};
    return std::mt19937(seq);
}

double TSimInstrument::ContactKOhm(int node) const
{
    if (node > 0 && std::find(Opt.BadElectrodes.begin(), Opt.BadElectrodes.end(), node) != Opt.BadElectrodes.end())
        return BadContactKOhm;
    // A stake's spreading resistance follows the ground it stands in; each
    // stake is planted a little differently, the same way for a given seed.
    std::seed_seq seq{Opt.Seed, unsigned(node), 0xC0u};
    std::mt19937 planted(seq);
    const double spread = std::uniform_real_distribution<double>(0.85, 1.35)(planted);
    return Opt.Earth.RhoAtSurface() * ContactKOhmPerOhmM * spread;
}

TSimInstrument::TInjection TSimInstrument::Inject(const TEarthModel::TPoint *a, const TEarthModel::TPoint *b,
                                                  double triggerOhm, double speedVolts) const
{
    // The transmitter sees both contacts in series with the ground between
    // them, which their mutual resistance lessens.
    double circuit = 1000 * (ContactKOhm(Electrodes[0]) + ContactKOhm(Electrodes[1]));
    if (a && b)
        circuit = std::max(circuit / 2, circuit - 2 * Opt.Earth.Potential(*a, *b));
    const auto byte = [this](int i) { return unsigned(std::uint8_t(Parameters.at(i))); };
    const unsigned vpCode = byte(24) >> 5, vabCode = byte(26) >> 4;
    const double vabMax = (byte(27) & 0x7F) ? std::min(10.0 * (byte(27) & 0x7F), TxMaxVolts) : TxMaxVolts;
    static constexpr double VabSteps[7] = {12, 25, 50, 100, 200, 400, 800};
    static constexpr double VpTargets[4] = {10, 50, 200, 800}; // mV; "Save energy" first
    double volts = MinVolts;
    if (speedVolts > 0) {
        volts = std::min(speedVolts, TxMaxVolts);
    } else if (vabCode >= 1 && vabCode <= 7) {
        volts = VabSteps[vabCode - 1];
    } else if (vabCode >= 8) {
        volts = TxMaxVolts; // "MAX" and the external supply
    } else if (vpCode == 5 || (vpCode >= 1 && triggerOhm == 0)) {
        volts = vabMax;
    } else if (vpCode >= 1) {
        // Raised until the trigger channel sees the target, within the limit.
        const double milliamps = VpTargets[vpCode - 1] / std::abs(triggerOhm);
        volts = std::clamp(milliamps / 1000 * circuit, std::min(MinVolts, vabMax), vabMax);
    }
    TInjection out;
    out.Milliamps = 1000 * volts / circuit;
    if (out.Milliamps > TxMaxMilliamps) {
        out.Milliamps = TxMaxMilliamps;
        volts = out.Milliamps / 1000 * circuit;
    }
    out.Volts = volts;
    return out;
}

QByteArray TSimInstrument::Records(double speedVolts)
{
    const int n = std::clamp(I32At(Parameters, 0), 1, 10);
    const bool gen1 = Opt.Generation == 1;
    QByteArray out(n * RecordSize(), 0);
    const int minStacks = std::clamp(I32At(Parameters, 12), 1, 999);
    const int maxStacks = std::clamp(I32At(Parameters, 16), minStacks, 999);
    const double qMax = F32At(Parameters, 20);
    const bool rhoOnly = (std::uint8_t(Parameters.at(26)) & 0x03) != 0;
    std::normal_distribution<double> jitter(0, 1);

    struct TChannel {
        std::array<TEarthModel::TPoint, 4> At;
        const TEarthModel::TPoint *P[4];
        bool Bad = false;
        double Resistance = 0, VpTrue = 0, RelNoise = 0, FloorMv = 0;
        // Running mean and sum of squared deviations of the stacks (Welford).
        double Mean = 0, M2 = 0;
        std::mt19937 Stacks, Values;
    };
    std::vector<TChannel> ch(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        TChannel &c = ch[std::size_t(k)];
        // Electrode 0 and remote positions (x or y of 99999 or more) are at infinity: their terms vanish.
        const int nodes[4] = {Electrodes[0], Electrodes[1], Electrodes[std::size_t(2 + k)],
                              Electrodes[std::size_t(3 + k < 13 ? 3 + k : 12)]};
        for (int e = 0; e < 4; ++e) {
            c.At[std::size_t(e)] = NodePos(nodes[e]);
            const auto &at = c.At[std::size_t(e)];
            c.P[e] = nodes[e] > 0 && at[0] < 99999 && at[1] < 99999 ? &at : nullptr;
            c.Bad = c.Bad || (nodes[e] > 0 && std::find(Opt.BadElectrodes.begin(), Opt.BadElectrodes.end(),
                                                        nodes[e]) != Opt.BadElectrodes.end());
        }
        c.Resistance = Opt.Earth.Resistance(c.P[0], c.P[1], c.P[2], c.P[3]);
        // Values depend on the seed and the electrodes only, never on how many
        // groups came before: a resumed survey measures what an uninterrupted one does.
        c.Stacks = QuadRandom(nodes[0], nodes[1], nodes[2], nodes[3], 0);
        c.Values = QuadRandom(nodes[0], nodes[1], nodes[2], nodes[3], 1);
        // A bad electrode makes the reading noisier.
        c.RelNoise = Opt.NoisePercent / 100 * (c.Bad ? 10 : 1);
        c.FloorMv = Opt.NoisePercent > 0 ? Opt.NoiseFloorMv * (c.Bad ? 10 : 1) : 0;
    }
    const int trigger = std::clamp(I32At(Parameters, 4), 0, n - 1);
    const TInjection injection = Inject(ch[0].P[0], ch[0].P[1], ch[std::size_t(trigger)].Resistance, speedVolts);
    for (TChannel &c : ch)
        c.VpTrue = c.Resistance * injection.Milliamps;

    // Q: the standard deviation of the mean over the stacks made, in % of the
    // value. The instrument stacks at least the minimum and stops as soon as
    // every channel is below Q max (0: no target, the maximum); one stack has
    // no spread, so Q is then no number, which quality control takes as unmet.
    const auto quality = [](const TChannel &c, int count) {
        if (count < 2)
            return std::numeric_limits<double>::quiet_NaN();
        const double sd = std::sqrt(c.M2 / (count - 1) / count);
        return sd == 0 ? 0.0 : 100 * sd / std::abs(c.Mean);
    };
    int count = 0;
    while (count < maxStacks) {
        ++count;
        for (TChannel &c : ch) {
            const double v = c.VpTrue * (1 + c.RelNoise * jitter(c.Stacks)) + c.FloorMv * jitter(c.Stacks);
            const double delta = v - c.Mean;
            c.Mean += delta / count;
            c.M2 += delta * (v - c.Mean);
        }
        if (count >= minStacks && qMax > 0 &&
            std::all_of(ch.begin(), ch.end(), [&](const TChannel &c) { return quality(c, count) < qMax; }))
            break;
    }
    StacksMade = count;

    for (int k = 0; k < n; ++k) {
        const TChannel &c = ch[std::size_t(k)];
        const int r = k * RecordSize();
        out[r] = char(((n % 16) << 4) | (k % 16));
        out[r + 1] = 0;
        PutU16(out, r + 2, unsigned(Measurement) & 0xFFFF);
        PutU16(out, r + 12, U16At(Parameters, 32));
        // "Rho only" measures no decay: no window, no chargeability.
        if (!rhoOnly) {
            PutU16(out, r + 16, U16At(Parameters, 36));
            for (int w = 0; w < 20; ++w)
                PutU16(out, r + 18 + 2 * w, U16At(Parameters, 38 + 2 * w));
        }
        // The site position the PC sent travels with every record.
        PutF32(out, r + 60, F32At(Parameters, 80));
        PutF32(out, r + 64, F32At(Parameters, 84));
        std::mt19937 values = c.Values;
        const double vp = c.Mean;
        const double sp = 3.0 + 0.5 * jitter(values);
        const double chargeability =
            rhoOnly ? 0.0
                    : Opt.Earth.Chargeability(c.P[0], c.P[1], c.P[2], c.P[3]) *
                          (1 + c.RelNoise * jitter(values) / std::sqrt(double(count)));
        const int base = gen1 ? 112 : 132;
        PutF32(out, r + base, Float(injection.Milliamps != 0 ? vp / injection.Milliamps : 0));
        PutF32(out, r + base + 4, Float(quality(c, count)));
        PutF32(out, r + base + 8, 0);
        PutF32(out, r + base + 12, Float(ContactKOhm(Electrodes[std::size_t(2 + k)]) +
                                         ContactKOhm(Electrodes[std::size_t(3 + k < 13 ? 3 + k : 12)])));
        int values0 = gen1 ? 128 : 164;
        if (!gen1) {
            PutF32(out, r + 148, Float(injection.Volts));
            PutF32(out, r + 152, Float(Opt.TxBattery));
            PutF32(out, r + 156, Float(Opt.RxBattery));
            PutF32(out, r + 160, Float(Opt.Temperature));
        }
        PutF32(out, r + values0, Float(sp));
        PutF32(out, r + values0 + 4, Float(vp));
        PutF32(out, r + values0 + 8, Float(injection.Milliamps));
        PutF32(out, r + values0 + 12, Float(chargeability));
        for (int w = 0; w < 20; ++w)
            PutF32(out, r + values0 + 16 + 4 * w, Float(chargeability * std::exp(-0.15 * w)));
    }
    return out;
}

bool TSimInstrument::RunMeasurement()
{
    const int count = std::clamp(I32At(Parameters, 0), 1, 10);
    const int pulseMs = int(U16At(Parameters, 32)) * 10;
    ++Groups;
    const bool inflate = Opt.Faults.CountInflateAtGroup > 0 && Groups == Opt.Faults.CountInflateAtGroup;
    if (!Send("GO" + Le32(std::uint32_t(inflate ? count + 4 : count))))
        return false;
    // The stacks are known once measured; one "+-" each, as they are made.
    const QByteArray records = Records();
    ++Measurement;
    for (int s = 0; s < StacksMade; ++s) {
        Pause(int(4 * pulseMs * Opt.TimeScale));
        if (!Send("+-"))
            return false;
    }
    TBlockFault fault = TBlockFault::None;
    if (Opt.Faults.ShortBlockAtGroup > 0 && Groups == Opt.Faults.ShortBlockAtGroup)
        fault = TBlockFault::Short;
    if (Opt.Faults.CrcForeverAtGroup > 0 && Groups == Opt.Faults.CrcForeverAtGroup)
        fault = TBlockFault::CrcForever;
    if (!Send("OK") || !SendBlock(records, fault))
        return false;
    const bool badToken = Opt.Faults.BadTokenEvery > 0 && Groups % Opt.Faults.BadTokenEvery == 0;
    return Send(badToken ? "XX" : "ST") && Prompt();
}

bool TSimInstrument::SendBlock(const QByteArray &payload, TBlockFault fault)
{
    // A short transfer announces the whole payload but ends after half of it.
    const qsizetype sent = fault == TBlockFault::Short ? payload.size() / 2 : payload.size();
    bool ended = false;
    // Synchronisation: echo every byte until the zero.
    for (;;) {
        const int b = Wire->ReadByte(ExchangeTimeoutMs);
        if (b < 0)
            return b != -2;
        if (!Wire->Write(QByteArray(1, char(b))))
            return false;
        if (b == 0)
            break;
    }
    if (!Send(Le32(std::uint32_t(payload.size()))))
        return false;
    unsigned expected = 1, last = 0;
    QByteArray chunk;
    int offset = 0;
    for (;;) {
        const QByteArray request = ReadN(2, ExchangeTimeoutMs);
        if (request.size() < 2)
            return true;
        if (!Wire->Write(request))
            return false;
        if (ended)
            return true; // the closing request after the early end
        const unsigned n = U16At(request, 0);
        bool corrupt = fault == TBlockFault::CrcForever;
        if (n == expected && n != last) {
            if (offset >= payload.size())
                return true; // the closing request
            if (offset >= sent) {
                ended = true;
                if (!Wire->Write(Le16(0)))
                    return false;
                continue;
            }
            chunk = payload.mid(offset, std::min<qsizetype>(MaxBlock, sent - offset));
            offset += int(chunk.size());
            last = n;
            expected = Next(n);
            ++BlocksSent;
            corrupt = corrupt || (Opt.Faults.CrcEvery > 0 && BlocksSent % Opt.Faults.CrcEvery == 0);
        } else if (n != last) {
            continue;
        }
        unsigned check = (Sum16(Le16(unsigned(chunk.size()))) + Sum16(chunk)) & 0xFFFF;
        if (corrupt)
            check ^= 0x5A5A;
        if (!Wire->Write(Le16(unsigned(chunk.size()) << 6) + chunk + Le16(check)))
            return false;
    }
}

bool TSimInstrument::ReceiveBlock(QByteArray &payload)
{
    payload.clear();
    // Synchronisation: send zero until it comes back.
    for (int tries = 0;; ++tries) {
        if (tries > 50 || !Wire->Write(QByteArray(1, 0)))
            return false;
        const int b = Wire->ReadByte(2000);
        if (b == -2)
            return false;
        if (b == 0)
            break;
    }
    const QByteArray size = ReadN(4, ExchangeTimeoutMs);
    if (size.size() < 4)
        return false;
    const qint64 total = qFromLittleEndian<quint32>(size.constData());
    unsigned n = 1;
    // Consecutive requests that brought no good block; a PC that never
    // answers right is given up on.
    int failures = 0;
    while (payload.size() < total) {
        if (++failures > 50)
            return false;
        if (!Wire->Write(Le16(n)))
            return false;
        const QByteArray echo = ReadN(2, ExchangeTimeoutMs);
        if (echo.size() < 2)
            return false;
        if (echo != Le16(n)) {
            // The PC answers a request it misread with a block of its own:
            // let it pass, then ask again for the same block.
            Drain(100);
            continue;
        }
        const QByteArray word = ReadN(2, ExchangeTimeoutMs);
        if (word.size() < 2)
            return false;
        const int length = std::min<int>(int(U16At(word, 0) >> 6), MaxBlock);
        const QByteArray data = ReadN(length, ExchangeTimeoutMs);
        const QByteArray check = ReadN(2, ExchangeTimeoutMs);
        if (data.size() < length || check.size() < 2)
            return false;
        const bool rejected = Opt.Faults.PcCrcEvery > 0 && ++BlocksReceived % Opt.Faults.PcCrcEvery == 0;
        if (!rejected && U16At(check, 0) == ((Sum16(Le16(unsigned(length))) + Sum16(data)) & 0xFFFF)) {
            payload += data;
            n = Next(n);
            failures = 0;
        }
    }
    if (!Wire->Write(Le16(n)))
        return false;
    ReadN(2, ExchangeTimeoutMs);
    return true;
}
