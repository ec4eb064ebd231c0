#pragma once
// What differs between the two instrument generations, in one table each:
// image sizes, channel record offsets, timeouts and data-file details.
#include <cstdint>

struct TGenerationTable {
    int Generation;
    int RecordSize;       // one channel record
    int ParameterSize;    // parameter block
    // Channel record offsets; -1 where the generation has no such field.
    int OffResistance, OffQ, OffValue, OffRxResistance;
    int OffVab, OffTxBattery, OffRxBattery, OffTemperature;
    int OffSp, OffVp, OffIn, OffM, OffChargeabilities;
    int TokenTimeoutMs;   // run dialogue tokens
    int CountTimeoutMs;   // record count after "GO"
    bool BlockProgress;   // parameter, description and record blocks show the progress bar
    bool RestartFlag;     // SendParameters manages bit 7 of byte 27
    bool RetrySpeedCommand;
    std::uint16_t RecordVersion;
    bool LowCurrentScaling;
    // Rho only when |In| exceeds this; 0 means whenever In is not 0.
    float RhoCurrentThreshold;
    bool WritesInstrumentState; // Vab, batteries, temperature and date in data records
};

// Offsets shared by both generations.
namespace ChannelOffset {
inline constexpr int Channel = 0;
inline constexpr int Flags = 1;
inline constexpr int Counter = 2;
inline constexpr int PulseTime = 12;
inline constexpr int WindowDelay = 16;
inline constexpr int Windows = 18;
inline constexpr int Latitude = 60;
inline constexpr int Longitude = 64;
} // namespace ChannelOffset

inline constexpr int DescriptionSize = 176;
inline constexpr int ChannelRecordCount = 10;

inline constexpr TGenerationTable Generation2 = {
    2, 260, 216,
    132, 136, 140, 144,
    148, 152, 156, 160,
    164, 168, 172, 176, 180,
    50000, 40000,
    false, true, true,
    3, true, 0.0001f, true,
};

inline constexpr TGenerationTable Generation1 = {
    1, 224, 196,
    112, 116, 120, 124,
    -1, -1, -1, -1,
    128, 132, 136, 140, 144,
    40000, 40000,
    true, false, false,
    2, false, 0.0f, false,
};

// Instrument type codes.
inline constexpr std::uint32_t TypeCodeV1 = 0x10000001;
inline constexpr std::uint32_t TypeCodeV2 = 0x10000002;
inline constexpr std::uint32_t TypeCodeV2b = 0x10000003;

// The table of a type code, or nullptr for an unknown instrument.
inline const TGenerationTable *GenerationOf(std::uint32_t typeCode)
{
    if (typeCode == TypeCodeV1)
        return &Generation1;
    if (typeCode == TypeCodeV2 || typeCode == TypeCodeV2b)
        return &Generation2;
    return nullptr;
}
