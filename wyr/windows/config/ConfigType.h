#pragma once

#include "wyr/NamedEnum.h"

namespace wyr::windows::config {

// The type of a configuration value; its number is the type code of the text form
// and the tag of ConfigValue.
class ConfigType : public NamedEnum<ConfigType> {
public:
    static const ConfigType Bool;
    static const ConfigType Int;
    static const ConfigType Double;
    static const ConfigType String;

private:
    ConfigType(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::config
