#pragma once
// The instrument's side of every exchange, over one byte connection.
#include <QByteArray>
#include <QString>

#include "sim/EarthModel.h"

#include <array>
#include <cstdint>
#include <random>
#include <vector>

// One connection to the program (pty master or accepted TCP client).
class TSimWire {
public:
    virtual ~TSimWire() = default;
    // A byte, -1 after timeoutMs (negative: wait for ever), -2 when the peer is gone.
    virtual int ReadByte(int timeoutMs) = 0;
    virtual bool Write(const QByteArray &bytes) = 0;
    // Ends the connection from the instrument's side.
    virtual void HangUp() = 0;
};

struct TSimFaults {
    int CrcEvery = 0;
    int FfReplies = 0;
    int SilentWakeUps = 0;
    int DropAfterGroups = 0;
    int BatteryLowAtGroup = 0;
    int OverheatAtGroup = 0;
    int BadTokenEvery = 0;
    double Noise = 0;
    int SlowMs = 0;
    // Per-group faults of the measurement (1 = the first group measured).
    int CountInflateAtGroup = 0; // "GO" announces more records than the group holds
    int ShortBlockAtGroup = 0;   // the record transfer ends after half the payload
    int CrcForeverAtGroup = 0;   // every block of that record transfer is corrupt
    // After the identification answer the instrument floods garbage / says nothing.
    bool GarbageAfterIdentify = false;
    bool SilentAfterIdentify = false;
    // Says nothing more once this many groups were measured (when the PC next speaks).
    int SilentAfterGroups = 0;
    // Every Nth block the PC sends is rejected and asked for again.
    int PcCrcEvery = 0;
};

struct TSimOptions {
    int Generation = 2;
    std::uint32_t TypeCode = 0x10000002;
    int Channels = 10;
    double TimeScale = 1.0;
    int Baud = 0;
    unsigned Seed = 1;
    TEarthModel Earth;
    // Relative noise of every stack (%) and the voltage floor of each stack (mV).
    double NoisePercent = 1;
    double NoiseFloorMv = 0.001;
    double TxBattery = 12.4, RxBattery = 12.1, Temperature = 35;
    std::vector<int> BadElectrodes;
    // Node positions (x, y, z) by node number; empty: node n at x = n metres.
    std::vector<std::array<float, 3>> Nodes;
    TSimFaults Faults;
};

class TSimInstrument {
public:
    explicit TSimInstrument(TSimOptions options);

    // Serves one connection until the peer goes or the instrument hangs up.
    void Serve(TSimWire &wire);

    int RecordSize() const { return Opt.Generation == 1 ? 224 : 260; }
    int ParameterSize() const { return Opt.Generation == 1 ? 196 : 216; }

private:
    enum class TState { Identification, Remote };

    bool Handle(int command);
    bool Send(const QByteArray &bytes);
    bool Prompt() { return Send(":>"); }
    QByteArray ReadN(int count, int timeoutMs);
    void Pause(int ms);
    // Block transfer with the instrument as sender / receiver.
    enum class TBlockFault { None, Short, CrcForever };
    bool SendBlock(const QByteArray &payload, TBlockFault fault = TBlockFault::None);
    bool ReceiveBlock(QByteArray &payload);
    bool RunMeasurement();
    // Reads the next byte: one put back first, else from the wire.
    int NextByte(int timeoutMs);
    // Never answers again on this connection: says nothing or floods garbage.
    void Misbehave();
    // Reads and drops whatever arrives until the line stays quiet for quietMs.
    void Drain(int quietMs);
    // The records of the group the electrodes hold, stacked as the
    // parameters ask; speedVolts > 0: the transmitter voltage of a speed start.
    QByteArray Records(double speedVolts = 0);
    // Contact resistance (kOhm) of one electrode.
    double ContactKOhm(int node) const;
    struct TInjection {
        double Volts = 0;
        double Milliamps = 0;
    };
    // What the transmitter drives through A and B: the configured Vab, or the
    // Vab that gives the trigger channel (transfer resistance triggerOhm) the
    // target Vp, within the voltage and current limits.
    TInjection Inject(const TEarthModel::TPoint *a, const TEarthModel::TPoint *b, double triggerOhm,
                      double speedVolts) const;
    QByteArray Description() const;
    float Float(double v) const { return static_cast<float>(v); }
    std::array<double, 3> NodePos(int node) const;
    // The random stream of one quadripole's values.
    std::mt19937 QuadRandom(int a, int b, int m, int n, unsigned stream) const;

    // The transmitter's limits and its lowest step.
    static constexpr double TxMaxVolts = 800, TxMaxMilliamps = 2500, MinVolts = 12;
    // A stake's contact: about 0.6 kOhm in 100 Ohm.m (a hemisphere of 2.7 cm),
    // a bad one 250 kOhm.
    static constexpr double ContactKOhmPerOhmM = 0.006, BadContactKOhm = 250;

    TSimOptions Opt;
    TSimWire *Wire = nullptr;
    TState State = TState::Identification;
    std::mt19937 Random;
    // Faults draw from their own stream: the measured values stay the same with or without them.
    std::mt19937 FaultRandom;
    QByteArray Parameters;
    std::array<std::int16_t, 13> Electrodes{};
    int Groups = 0;
    int Measurement = 0;
    int StacksMade = 0; // by the last Records()
    int Wakeups = 0;
    int CommandPairs = 0;
    int BlocksSent = 0;
    int BlocksReceived = 0;
    int PutBack = -1;
    bool Dropped = false;
};
