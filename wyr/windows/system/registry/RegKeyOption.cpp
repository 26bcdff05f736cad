#include "wyr/windows/system/registry/RegKeyOption.h"

namespace wyr::windows::system {

const RegKeyOption RegKeyOption::REG_OPTION_NON_VOLATILE{0x00000000, L"REG_OPTION_NON_VOLATILE"};
const RegKeyOption RegKeyOption::REG_OPTION_VOLATILE{0x00000001, L"REG_OPTION_VOLATILE"};

} // namespace wyr::windows::system
