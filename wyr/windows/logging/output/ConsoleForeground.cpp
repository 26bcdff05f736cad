#include "wyr/windows/logging/output/ConsoleForeground.h"

namespace wyr::windows::logging {

const ConsoleForeground ConsoleForeground::Black{0, L"FG Black"};
const ConsoleForeground ConsoleForeground::Blue{1, L"FG Blue"};
const ConsoleForeground ConsoleForeground::Green{2, L"FG Green"};
const ConsoleForeground ConsoleForeground::Cyan{3, L"FG Cyan"};
const ConsoleForeground ConsoleForeground::Red{4, L"FG Red"};
const ConsoleForeground ConsoleForeground::Purple{5, L"FG Purple"};
const ConsoleForeground ConsoleForeground::Yellow{6, L"FG Yellow"};
const ConsoleForeground ConsoleForeground::White{7, L"FG White"};

} // namespace wyr::windows::logging
