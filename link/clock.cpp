#include "clock.h"

#include <chrono>
#include <thread>

SystemClock::SystemClock() = default;

std::uint32_t SystemClock::milliseconds()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    // Truncation to 32 bits is the wrap-around the frame layer expects.
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SystemClock::sleep(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
