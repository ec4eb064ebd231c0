#pragma once
// One record of the acquisition data file, also the form in which a measured
// group is handed to the live display and the pseudo-section.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

struct TDataRecord {
    std::uint16_t Ten = 0;
    std::uint16_t Version = 0;        // 3 second generation, 2 first
    float PulseTime = 0;              // ms
    float WindowDelay = 0;            // ms
    std::uint16_t One = 0;
    std::uint16_t Zero = 0;
    std::array<float, 12> Coords = {}; // X of A B M N, then Y, then Z
    float Sp = 0;                     // mV
    float Vp = 0;                     // mV
    float In = 0;                     // mA
    float Rho = 0;                    // Ohm.m
    float M = 0;                      // mV/V
    float Q = 0;                      // %
    std::array<float, 20> Windows = {};       // ms
    std::array<float, 20> Chargeabilities = {}; // mV/V
    std::uint8_t Channel = 0;         // bits 0-3 index, 4-7 group size
    std::uint8_t Flags = 2;           // bit 3: quadripole with a negative Level
    std::uint16_t Counter = 0;
    std::array<std::uint8_t, 12> Spare = {};
    float Latitude = 0;
    float Longitude = 0;
    float Value = 0;
    float LineResistance = 0;         // kOhm, M plus N
    float Vab = 0;                    // V
    float TxBattery = 0;              // V
    float RxBattery = 0;              // V
    float Temperature = 0;
    double Date = 0;                  // days since 1899-12-30

    static constexpr std::uint8_t LevelFlag = 0x08;
};

static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(TDataRecord) == 304);
static_assert(offsetof(TDataRecord, PulseTime) == 4);
static_assert(offsetof(TDataRecord, One) == 12);
static_assert(offsetof(TDataRecord, Coords) == 16);
static_assert(offsetof(TDataRecord, Sp) == 64);
static_assert(offsetof(TDataRecord, Rho) == 76);
static_assert(offsetof(TDataRecord, Windows) == 88);
static_assert(offsetof(TDataRecord, Chargeabilities) == 168);
static_assert(offsetof(TDataRecord, Channel) == 248);
static_assert(offsetof(TDataRecord, Flags) == 249);
static_assert(offsetof(TDataRecord, Counter) == 250);
static_assert(offsetof(TDataRecord, Latitude) == 264);
static_assert(offsetof(TDataRecord, Value) == 272);
static_assert(offsetof(TDataRecord, LineResistance) == 276);
static_assert(offsetof(TDataRecord, Vab) == 280);
static_assert(offsetof(TDataRecord, Temperature) == 292);
static_assert(offsetof(TDataRecord, Date) == 296);

// The caller's buffer of one measured group.
using TRecordArray = std::array<TDataRecord, 10>;
