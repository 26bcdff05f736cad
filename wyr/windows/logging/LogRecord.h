#pragma once

#include "wyr/windows/logging/LogVerbosity.h"
#include "wyr/windows/system/SystemTime.h"

#include <string>

namespace wyr::windows::logging {

// One log message on its way to the user-interface thread; owned by whoever holds
// it last.
struct LogRecord {
    const LogVerbosity* verbosity = nullptr;
    system::SYSTEMTIME time;
    std::wstring context;
    std::wstring message;
};

} // namespace wyr::windows::logging
