#include "wyr/windows/system/registry/RegAccess.h"

namespace wyr::windows::system {

const RegAccess RegAccess::KEY_QUERY_VALUE{0x00000001, L"KEY_QUERY_VALUE"};
const RegAccess RegAccess::KEY_SET_VALUE{0x00000002, L"KEY_SET_VALUE"};
const RegAccess RegAccess::KEY_CREATE_SUB_KEY{0x00000004, L"KEY_CREATE_SUB_KEY"};
const RegAccess RegAccess::KEY_ENUMERATE_SUB_KEYS{0x00000008, L"KEY_ENUMERATE_SUB_KEYS"};
const RegAccess RegAccess::KEY_NOTIFY{0x00000010, L"KEY_NOTIFY"};
const RegAccess RegAccess::KEY_CREATE_LINK{0x00000020, L"KEY_CREATE_LINK"};
const RegAccess RegAccess::KEY_WOW64_64KEY{0x00000100, L"KEY_WOW64_64KEY"};
const RegAccess RegAccess::KEY_WOW64_32KEY{0x00000200, L"KEY_WOW64_32KEY"};
const RegAccess RegAccess::KEY_WRITE{0x00020006, L"KEY_WRITE"};
const RegAccess RegAccess::KEY_READ{0x00020019, L"KEY_READ"};
const RegAccess RegAccess::KEY_ALL_ACCESS{0x000F003F, L"KEY_ALL_ACCESS"};

} // namespace wyr::windows::system
