#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace wyr::windows::system {

// Calendar time with milliseconds, in the platform's SYSTEMTIME layout.
struct SYSTEMTIME {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;     // 1..12
    std::uint16_t wDayOfWeek = 0; // 0 = Sunday
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;

    friend bool operator==(const SYSTEMTIME&, const SYSTEMTIME&) = default;
};

SYSTEMTIME getLocalTime();
SYSTEMTIME toLocalTime(std::chrono::system_clock::time_point when);

// strftime() of a SYSTEMTIME ("%Y%m%d_%H%M%S", "%m/%d/%Y|%H:%M:%S" ...); milliseconds
// are the caller's to add.
std::string formatTime(const SYSTEMTIME& time, const char* format);

} // namespace wyr::windows::system
