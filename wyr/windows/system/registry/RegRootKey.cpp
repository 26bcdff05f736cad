#include "wyr/windows/system/registry/RegRootKey.h"

namespace wyr::windows::system {

const RegRootKey RegRootKey::HKEY_CLASSES_ROOT{0x80000000, L"HKEY_CLASSES_ROOT"};
const RegRootKey RegRootKey::HKEY_CURRENT_USER{0x80000001, L"HKEY_CURRENT_USER"};
const RegRootKey RegRootKey::HKEY_LOCAL_MACHINE{0x80000002, L"HKEY_LOCAL_MACHINE"};
const RegRootKey RegRootKey::HKEY_USERS{0x80000003, L"HKEY_USERS"};
const RegRootKey RegRootKey::HKEY_PERFORMANCE_DATA{0x80000004, L"HKEY_PERFORMANCE_DATA"};
const RegRootKey RegRootKey::HKEY_CURRENT_CONFIG{0x80000005, L"HKEY_CURRENT_CONFIG"};
const RegRootKey RegRootKey::HKEY_DYN_DATA{0x80000006, L"HKEY_DYN_DATA"};
const RegRootKey RegRootKey::HKEY_CURRENT_USER_LOCAL_SETTINGS{0x80000007,
                                                              L"HKEY_CURRENT_USER_LOCAL_SETTINGS"};
const RegRootKey RegRootKey::HKEY_PERFORMANCE_TEXT{0x80000050, L"HKEY_PERFORMANCE_TEXT"};
const RegRootKey RegRootKey::HKEY_PERFORMANCE_NLSTEXT{0x80000060, L"HKEY_PERFORMANCE_NLSTEXT"};

} // namespace wyr::windows::system
