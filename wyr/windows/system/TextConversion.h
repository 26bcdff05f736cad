#pragma once

#include <string>
#include <string_view>

namespace wyr::windows::system {

// Narrow text is UTF-8 throughout; a byte sequence that is not UTF-8 becomes
// U+FFFD rather than being dropped.
std::wstring toWide(std::string_view narrow);
std::string toNarrow(std::wstring_view wide);

} // namespace wyr::windows::system
