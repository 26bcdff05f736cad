#pragma once

#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/TextConversion.h"

#include <ostream>

// Lets test failures show a value in its text form; boost's own printer cannot
// print the wide string alternative to a narrow stream.
namespace boost {
inline void PrintTo(const wyr::windows::config::ConfigValue& value, std::ostream* out) {
    *out << wyr::windows::system::toNarrow(wyr::windows::config::ConfigMgr::format(value));
}
} // namespace boost
