#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>

namespace wyr::windows::system {

// Access rights for opening a key; the composite rights are unions of the single ones. Names and numbers are
// the platform's published ones.
class RegAccess : public NamedEnum<RegAccess, std::uint32_t> {
public:
    static const RegAccess KEY_QUERY_VALUE;
    static const RegAccess KEY_SET_VALUE;
    static const RegAccess KEY_CREATE_SUB_KEY;
    static const RegAccess KEY_ENUMERATE_SUB_KEYS;
    static const RegAccess KEY_NOTIFY;
    static const RegAccess KEY_CREATE_LINK;
    static const RegAccess KEY_WOW64_64KEY;
    static const RegAccess KEY_WOW64_32KEY;
    static const RegAccess KEY_WRITE;
    static const RegAccess KEY_READ;
    static const RegAccess KEY_ALL_ACCESS;

private:
    RegAccess(std::uint32_t value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::system
