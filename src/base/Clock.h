#pragma once
// Millisecond tick counter and sleep, injectable so that long timeouts can be
// exercised in tests without waiting.
#include <cstdint>

class TClock {
public:
    virtual ~TClock() = default;
    // Milliseconds since an arbitrary origin; never goes backwards.
    virtual std::int64_t Ms() = 0;
    // Sleeps without processing user-interface events.
    virtual void Sleep(int ms) = 0;
};

class TSystemClock final : public TClock {
public:
    TSystemClock();
    std::int64_t Ms() override;
    void Sleep(int ms) override;
};

// The process-wide clock used when nothing else is injected.
TClock &SystemClock();
