#pragma once

#include "wyr/NamedEnum.h"

namespace wyr::windows::config {

// Where settings are kept. Only the registry store exists; the INI kind is named
// for completeness and nothing uses it.
class ConfigStorage : public NamedEnum<ConfigStorage> {
public:
    static const ConfigStorage Registry;
    static const ConfigStorage IniFile;

private:
    ConfigStorage(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::config
