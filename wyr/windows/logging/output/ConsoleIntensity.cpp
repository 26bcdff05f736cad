#include "wyr/windows/logging/output/ConsoleIntensity.h"

namespace wyr::windows::logging {

const ConsoleIntensity ConsoleIntensity::None{0, L"None"};
const ConsoleIntensity ConsoleIntensity::Foreground{8, L"Foreground"};
const ConsoleIntensity ConsoleIntensity::Background{128, L"Background"};

} // namespace wyr::windows::logging
