#include "cli/Timestamp.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace cli {

std::string Timestamp::local(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto since = when.time_since_epoch();
    const auto seconds = floor<std::chrono::seconds>(since);
    const auto milliseconds = duration_cast<std::chrono::milliseconds>(since - seconds).count();
    const std::time_t t = static_cast<std::time_t>(seconds.count());
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char calendar[32];
    std::strftime(calendar, sizeof calendar, "%Y-%m-%dT%H:%M:%S", &tm);
    const long offset = tm.tm_gmtoff / 60; // minutes east of UTC
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%c%02ld:%02ld", calendar, static_cast<int>(milliseconds),
                  offset < 0 ? '-' : '+', std::labs(offset) / 60, std::labs(offset) % 60);
    return text;
}

} // namespace cli
