#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>

namespace wyr::windows::system {

// The predefined root keys, with the platform's handle values. Names and numbers are the platform's published
// ones.
class RegRootKey : public NamedEnum<RegRootKey, std::uint32_t> {
public:
    static const RegRootKey HKEY_CLASSES_ROOT;
    static const RegRootKey HKEY_CURRENT_USER;
    static const RegRootKey HKEY_LOCAL_MACHINE;
    static const RegRootKey HKEY_USERS;
    static const RegRootKey HKEY_PERFORMANCE_DATA;
    static const RegRootKey HKEY_CURRENT_CONFIG;
    static const RegRootKey HKEY_DYN_DATA;
    static const RegRootKey HKEY_CURRENT_USER_LOCAL_SETTINGS;
    static const RegRootKey HKEY_PERFORMANCE_TEXT;
    static const RegRootKey HKEY_PERFORMANCE_NLSTEXT;

private:
    RegRootKey(std::uint32_t value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::system
