#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>

namespace wyr::windows::logging {

// The foreground colour bits of a console text attribute; blue, green and red
// are its bits 0, 1 and 2.
class ConsoleForeground : public NamedEnum<ConsoleForeground> {
public:
    static const ConsoleForeground Black;
    static const ConsoleForeground Blue;
    static const ConsoleForeground Green;
    static const ConsoleForeground Cyan;
    static const ConsoleForeground Red;
    static const ConsoleForeground Purple;
    static const ConsoleForeground Yellow;
    static const ConsoleForeground White;

    std::uint16_t bits() const noexcept { return static_cast<std::uint16_t>(value()); }

private:
    ConsoleForeground(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::logging
