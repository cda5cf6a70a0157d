#pragma once

#include <cstdint>

// The millisecond counter and the blocking pause, injectable so tests can run the
// counter's wrap-around and the time-outs without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    // Wraps at 2^32 like the platform's millisecond counter.
    virtual std::uint32_t milliseconds() = 0;
    virtual void sleep(int ms) = 0;
};

class SystemClock final : public Clock {
public:
    SystemClock();
    std::uint32_t milliseconds() override;
    void sleep(int ms) override;
};
