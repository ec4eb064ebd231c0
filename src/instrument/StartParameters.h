#pragma once
// The acquisition settings record. Its first 92 bytes are copied into the
// instrument's parameter block, so the layout is fixed to the byte.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "wire images are little-endian");

struct TStartParameters {
    std::int32_t Channel = 10;        // receiving channels used, 1..10
    std::int32_t ChannelSynchro = 1;  // trigger channel - 1
    std::int32_t ChannelMask = 1023;  // all ten channels
    std::int32_t CrenMin = 4;         // minimum stacks
    std::int32_t CrenMax = 16;        // maximum stacks
    float CrenEt = 1.0f;              // Q max, %
    std::array<std::uint8_t, 4> Config = {0x21, 0x02, 0x05, 0x00};
    std::int32_t Reserved = 0;
    std::uint16_t Time = 200;         // pulse, units of 10 ms
    std::uint16_t VDly = 126;         // delay before Vp, units of 10 ms
    std::uint16_t MDly = 24;          // delay before the first IP window, units of 10 ms
    std::array<std::uint16_t, 20> TM = {8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};
    std::array<std::uint8_t, 2> Filler = {0, 0};
    float Latitude = 0.0f;            // +-DDMM.mmm, north positive
    float Longitude = 0.0f;           // +-DDDMM.mmm, east positive
    std::array<std::uint8_t, 48> Reserved2 = {};

    // Config as one little-endian value, as configuration files store it.
    std::uint32_t ConfigValue() const;
    void SetConfigValue(std::uint32_t value);

    // The packed option fields of Config.
    int VpCode() const { return Config[0] >> 5; }
    void SetVpCode(int code) { Config[0] = std::uint8_t((Config[0] & 0x1F) | ((code & 7) << 5)); }
    int TimeIndex() const { return Config[1] & 7; }
    void SetTimeIndex(int index) { Config[1] = std::uint8_t((Config[1] & ~7) | (index & 7)); }
    int IPMode() const { return (Config[1] >> 3) & 7; }
    void SetIPMode(int mode) { Config[1] = std::uint8_t((Config[1] & ~0x38) | ((mode & 7) << 3)); }
    bool RhoOnly() const { return (Config[2] & 3) != 0; }
    void SetRhoOnly(bool on) { Config[2] = std::uint8_t((Config[2] & ~3) | (on ? 1 : 0)); }
    int VabCode() const { return Config[2] >> 4; }
    void SetVabCode(int code) { Config[2] = std::uint8_t((Config[2] & 0x0F) | ((code & 15) << 4)); }
    int VabMax() const { return Config[3] & 0x7F; }
    void SetVabMax(int tens) { Config[3] = std::uint8_t((Config[3] & 0x80) | (tens & 0x7F)); }
};

static_assert(sizeof(TStartParameters) == 136);
static_assert(offsetof(TStartParameters, CrenEt) == 20);
static_assert(offsetof(TStartParameters, Config) == 24);
static_assert(offsetof(TStartParameters, Time) == 32);
static_assert(offsetof(TStartParameters, MDly) == 36);
static_assert(offsetof(TStartParameters, TM) == 38);
static_assert(offsetof(TStartParameters, Latitude) == 80);
static_assert(offsetof(TStartParameters, Longitude) == 84);
static_assert(offsetof(TStartParameters, Reserved2) == 88);

// Bytes of the record that reach the instrument's parameter block.
inline constexpr std::size_t ParameterBytesSent = 92;
