#include "wyr/windows/system/registry/RegDisposition.h"

namespace wyr::windows::system {

const RegDisposition RegDisposition::REG_CREATED_NEW_KEY{0x00000001, L"REG_CREATED_NEW_KEY"};
const RegDisposition RegDisposition::REG_OPENED_EXISTING_KEY{0x00000002, L"REG_OPENED_EXISTING_KEY"};

} // namespace wyr::windows::system
