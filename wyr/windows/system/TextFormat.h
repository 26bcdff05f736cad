#pragma once

#include <cstdarg>
#include <cstddef>
#include <locale.h>
#include <string>

namespace wyr::windows::system {

// Every text the program writes for people or files (the settings file, the log,
// the messages it shows) is formatted the same whatever locale the user runs in: a
// full stop as the decimal point, no digit grouping, and narrow %s arguments taken
// as UTF-8. A window toolkit sets the user's locale for its own texts; it never
// reaches these.
//
// printf-style wide formats: %ls for wide strings, %s for UTF-8 ones. A text longer
// than kMaximumTextLength characters is cut there rather than lost.
inline constexpr std::size_t kMaximumTextLength = 64 * 1024;

std::wstring formatText(const wchar_t* format, ...);
std::wstring vformatText(const wchar_t* format, va_list args);

// The locale the formatting runs under: C.UTF-8, or "C" where that is missing.
// Also what case folding and character classes of stored names go by.
locale_t textLocale() noexcept;

} // namespace wyr::windows::system
