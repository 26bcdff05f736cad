#pragma once

#include <QColor>
#include <cstdint>

namespace wyr::windows::logging {

// The RGB colours of console text attributes (ConsoleForeground |
// ConsoleBackground | ConsoleIntensity), so the console window shows a line in
// the colours the terminal listener writes it in: eight colours and their bright
// forms, grey for bright black.
class ConsolePalette {
public:
    static QColor foreground(std::uint16_t attribute);
    static QColor background(std::uint16_t attribute);
};

} // namespace wyr::windows::logging
