#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>

namespace wyr::windows::logging {

// The background colour bits of a console text attribute; blue, green and red
// are its bits 4, 5 and 6.
class ConsoleBackground : public NamedEnum<ConsoleBackground> {
public:
    static const ConsoleBackground Black;
    static const ConsoleBackground Blue;
    static const ConsoleBackground Green;
    static const ConsoleBackground Cyan;
    static const ConsoleBackground Red;
    static const ConsoleBackground Purple;
    static const ConsoleBackground Yellow;
    static const ConsoleBackground White;

    std::uint16_t bits() const noexcept { return static_cast<std::uint16_t>(value()); }

private:
    ConsoleBackground(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::logging
