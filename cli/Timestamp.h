#pragma once

#include <chrono>
#include <string>

namespace cli {

// Local time as ISO 8601 with milliseconds and the offset from UTC in force then,
// so that a line read later, elsewhere or across a change of summer time still
// names one instant: "2026-12-10T14:05:09.123+01:00".
class Timestamp {
public:
    static std::string local(std::chrono::system_clock::time_point when);
    static std::string now() { return local(std::chrono::system_clock::now()); }
};

} // namespace cli
