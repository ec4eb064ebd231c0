#pragma once
// A clock that only moves when told to or when slept on.
#include "base/Clock.h"

class TFakeClock : public TClock {
public:
    std::int64_t Now = 0;
    std::int64_t Slept = 0;
    std::int64_t Ms() override { return Now; }
    void Sleep(int ms) override { if (ms > 0) { Now += ms; Slept += ms; } }
    void Advance(std::int64_t ms) { Now += ms; }
};
