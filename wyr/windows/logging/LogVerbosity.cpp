#include "wyr/windows/logging/LogVerbosity.h"

namespace wyr::windows::logging {

const LogVerbosity LogVerbosity::DebugLevel1{0x0001, L"Debug Level 1"};
const LogVerbosity LogVerbosity::DebugLevel2{0x0002, L"Debug Level 2"};
const LogVerbosity LogVerbosity::DebugLevel3{0x0004, L"Debug Level 3"};
const LogVerbosity LogVerbosity::DebugLevel4{0x0008, L"Debug Level 4"};
const LogVerbosity LogVerbosity::Information{0x0010, L"Information"};
const LogVerbosity LogVerbosity::Warning{0x0020, L"Warning"};
const LogVerbosity LogVerbosity::Error{0x0040, L"Error"};
const LogVerbosity LogVerbosity::UIInfo{0x0080, L"UI Info"};
const LogVerbosity LogVerbosity::AppSpecific1{0x0100, L"App Specific 1"};
const LogVerbosity LogVerbosity::AppSpecific2{0x0200, L"App Specific 2"};
const LogVerbosity LogVerbosity::AppSpecific3{0x0400, L"App Specific 3"};
const LogVerbosity LogVerbosity::AppSpecific4{0x0800, L"App Specific 4"};

} // namespace wyr::windows::logging
