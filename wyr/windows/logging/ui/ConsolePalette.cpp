#include "wyr/windows/logging/ui/ConsolePalette.h"

#include "wyr/windows/logging/output/ConsoleIntensity.h"

#include <array>

namespace wyr::windows::logging {

namespace {

// Indexed by the colour bits (blue 1, green 2, red 4), plus 8 when bright.
constexpr std::array<QRgb, 16> kColours{
    0x000000, 0x2A4FD0, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA, 0xAAAA00, 0xAAAAAA,
    0x555555, 0x5555FF, 0x55FF55, 0x55FFFF, 0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF,
};

QColor colour(unsigned bits, bool bright) {
    return QColor::fromRgb(kColours[(bits & 7U) | (bright ? 8U : 0U)]);
}

} // namespace

QColor ConsolePalette::foreground(std::uint16_t attribute) {
    return colour(attribute, (attribute & ConsoleIntensity::Foreground.bits()) != 0);
}

QColor ConsolePalette::background(std::uint16_t attribute) {
    return colour(static_cast<unsigned>(attribute) >> 4,
                  (attribute & ConsoleIntensity::Background.bits()) != 0);
}

} // namespace wyr::windows::logging
