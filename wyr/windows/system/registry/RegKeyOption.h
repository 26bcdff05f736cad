#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>

namespace wyr::windows::system {

// Options for creating a key. Names and numbers are the platform's published ones.
class RegKeyOption : public NamedEnum<RegKeyOption, std::uint32_t> {
public:
    static const RegKeyOption REG_OPTION_NON_VOLATILE;
    static const RegKeyOption REG_OPTION_VOLATILE;

private:
    RegKeyOption(std::uint32_t value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::system
