#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>

namespace wyr::windows::logging {

// The intensity bits of a console text attribute: bright foreground, bright
// background.
class ConsoleIntensity : public NamedEnum<ConsoleIntensity> {
public:
    static const ConsoleIntensity None;
    static const ConsoleIntensity Foreground;
    static const ConsoleIntensity Background;

    std::uint16_t bits() const noexcept { return static_cast<std::uint16_t>(value()); }

private:
    ConsoleIntensity(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::logging
