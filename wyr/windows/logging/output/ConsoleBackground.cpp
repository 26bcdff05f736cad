#include "wyr/windows/logging/output/ConsoleBackground.h"

namespace wyr::windows::logging {

const ConsoleBackground ConsoleBackground::Black{0, L"BG Black"};
const ConsoleBackground ConsoleBackground::Blue{16, L"BG Blue"};
const ConsoleBackground ConsoleBackground::Green{32, L"BG Green"};
const ConsoleBackground ConsoleBackground::Cyan{48, L"BG Cyan"};
const ConsoleBackground ConsoleBackground::Red{64, L"BG Red"};
const ConsoleBackground ConsoleBackground::Purple{80, L"BG Purple"};
const ConsoleBackground ConsoleBackground::Yellow{96, L"BG Yellow"};
const ConsoleBackground ConsoleBackground::White{112, L"BG White"};

} // namespace wyr::windows::logging
