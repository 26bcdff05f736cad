#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>

namespace wyr::windows::system {

// What creating a key did. Names and numbers are the platform's published ones.
class RegDisposition : public NamedEnum<RegDisposition, std::uint32_t> {
public:
    static const RegDisposition REG_CREATED_NEW_KEY;
    static const RegDisposition REG_OPENED_EXISTING_KEY;

private:
    RegDisposition(std::uint32_t value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::system
