#include "wyr/windows/system/SystemTime.h"

#include <array>
#include <ctime>

namespace wyr::windows::system {

SYSTEMTIME getLocalTime() {
    return toLocalTime(std::chrono::system_clock::now());
}

SYSTEMTIME toLocalTime(std::chrono::system_clock::time_point when) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when - seconds).count();
    const std::time_t t = std::chrono::system_clock::to_time_t(seconds);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    SYSTEMTIME st;
    st.wYear = static_cast<std::uint16_t>(tm.tm_year + 1900);
    st.wMonth = static_cast<std::uint16_t>(tm.tm_mon + 1);
    st.wDayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    st.wDay = static_cast<std::uint16_t>(tm.tm_mday);
    st.wHour = static_cast<std::uint16_t>(tm.tm_hour);
    st.wMinute = static_cast<std::uint16_t>(tm.tm_min);
    st.wSecond = static_cast<std::uint16_t>(tm.tm_sec);
    st.wMilliseconds = static_cast<std::uint16_t>(millis);
    return st;
}

std::string formatTime(const SYSTEMTIME& time, const char* format) {
    std::tm tm{};
    tm.tm_year = time.wYear - 1900;
    tm.tm_mon = time.wMonth - 1;
    tm.tm_mday = time.wDay;
    tm.tm_wday = time.wDayOfWeek;
    tm.tm_hour = time.wHour;
    tm.tm_min = time.wMinute;
    tm.tm_sec = time.wSecond;
    tm.tm_isdst = -1;
    std::array<char, 256> buffer{};
    const std::size_t n = std::strftime(buffer.data(), buffer.size(), format, &tm);
    return std::string(buffer.data(), n);
}

} // namespace wyr::windows::system
