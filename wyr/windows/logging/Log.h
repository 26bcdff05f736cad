#pragma once

#include "wyr/windows/logging/LogVerbosity.h"
#include "wyr/windows/system/SystemError.h"

#include <cstdarg>
#include <cstdint>
#include <span>
#include <string>

namespace wyr::windows::logging {

// Logs a printf-style wide message (use %ls for wide and %s for UTF-8 strings)
// under a context, by convention the caller's "Class::method". The message is
// formatted by system::formatText, so it reads the same in every user locale. A
// verbosity that no connected listener accepts costs a mask test: nothing is
// formatted or posted.
void log(const LogVerbosity& verbosity, const char* context, const wchar_t* format, ...);
void vlog(const LogVerbosity& verbosity, const char* context, const wchar_t* format, va_list args);

// Whether a message of this verbosity would reach any listener; lets a caller skip
// building the arguments of a message nobody reads.
bool logEnabled(const LogVerbosity& verbosity) noexcept;

// Logs at Error the system message text of a code, literally; nothing for a code
// without text.
void logSystemError(system::ErrorCode code, const char* context);

// The entry trace functions of the link and the support library begin with: a
// single space at Debug Level 1.
void trace(const char* context);

// Bytes as the byte dumps show them: "0x02 0x31 0x03".
std::wstring hexBytes(std::span<const std::uint8_t> bytes);

} // namespace wyr::windows::logging
