#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>

namespace wyr::windows::logging {

// Each verbosity is a single bit, so a set of them is a 16-bit mask.
class LogVerbosity : public NamedEnum<LogVerbosity> {
public:
    static const LogVerbosity DebugLevel1;
    static const LogVerbosity DebugLevel2;
    static const LogVerbosity DebugLevel3;
    static const LogVerbosity DebugLevel4;
    static const LogVerbosity Information;
    static const LogVerbosity Warning;
    static const LogVerbosity Error;
    static const LogVerbosity UIInfo;
    static const LogVerbosity AppSpecific1;
    static const LogVerbosity AppSpecific2;
    static const LogVerbosity AppSpecific3;
    static const LogVerbosity AppSpecific4;

    std::uint16_t mask() const noexcept { return static_cast<std::uint16_t>(value()); }

private:
    LogVerbosity(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::logging
