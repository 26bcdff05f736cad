#pragma once

#include "wyr/windows/communication/CommDefinitions.h"
#include "wyr/windows/system/SystemError.h"

#include <cstdint>

namespace wyr::windows::communication {

// Translates the line settings to a tty's terminal attributes and back: speed,
// character size, parity, stop bits, parity checking, RTS/CTS and XON/XOFF. The
// flag words carry the kernel's termios bits (the same as libc's); the speed is
// the rate in bits per second, including rates without their own speed code.
class TtyLineSettings {
public:
    struct Terminal {
        std::uint32_t iflag = 0;
        std::uint32_t cflag = 0;
        std::uint32_t speed = 0;
        char startChar = 0x11;
        char stopChar = 0x13;
    };

    // Writes the settings into `terminal`, leaving the flags it does not govern.
    // Refuses with ERROR_INVALID_PARAMETER what no line can take (baud rate 0,
    // which a tty takes for "hang up", character sizes other than 5 to 8, parity
    // codes above 4, 1.5 stop bits without 5 data bits, 2 with 5) and with
    // ERROR_NOT_SUPPORTED RTS toggling; `terminal` is unchanged then.
    static system::ErrorCode apply(const DCB& dcb, Terminal& terminal);

    // Fills the fields of `dcb` that the terminal holds; the others stay.
    static void describe(const Terminal& terminal, DCB& dcb);

    // Whether the terminal runs RTS/CTS handshake.
    static bool hardwareHandshake(const Terminal& terminal);
};

} // namespace wyr::windows::communication
