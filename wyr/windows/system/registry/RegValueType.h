#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>

namespace wyr::windows::system {

// Value data types. Names and numbers are the platform's published ones.
class RegValueType : public NamedEnum<RegValueType, std::uint32_t> {
public:
    static const RegValueType REG_NONE;
    static const RegValueType REG_SZ;
    static const RegValueType REG_EXPAND_SZ;
    static const RegValueType REG_BINARY;
    static const RegValueType REG_DWORD;
    static const RegValueType REG_DWORD_BIG_ENDIAN;
    static const RegValueType REG_LINK;
    static const RegValueType REG_MULTI_SZ;
    static const RegValueType REG_RESOURCE_LIST;

private:
    RegValueType(std::uint32_t value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::system
