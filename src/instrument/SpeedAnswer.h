#pragma once
// Layout of the High speed answer of an instrument with N channels, shared by
// the decoder and the simulator: 2 × (N + 1) float32 values, the N channel
// voltages and the current of the positive pulse, then the same for the
// negative pulse.
#include <cstddef>

struct TSpeedAnswer {
    int Channels = 0;

    int ValueCount() const { return 2 * (Channels + 1); }
    std::size_t ByteCount() const { return std::size_t(ValueCount()) * 4; }
    // Index of channel k's voltage during the positive / negative pulse.
    int Positive(int k) const { return k; }
    int Negative(int k) const { return Channels + 1 + k; }
    int CurrentPositive() const { return Channels; }
    int CurrentNegative() const { return 2 * Channels + 1; }
};
