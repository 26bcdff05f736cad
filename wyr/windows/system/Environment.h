#pragma once

#include <string>

namespace wyr::windows::system {

// Replaces every %NAME% whose variable is set by its value; a name that is not set
// stays as written, percent signs included. %TEMP% and %TMP% fall back to $TMPDIR,
// then /tmp.
std::wstring expandEnvironmentStrings(const std::wstring& text);

} // namespace wyr::windows::system
