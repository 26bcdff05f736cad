#pragma once

#include <cstdint>

// The serial driver's vocabulary: comm-event bits, purge and error flags, and the
// line-settings, time-out and status records, with the platform's numeric values
// (they travel in logs, configuration and notification records).
namespace wyr::windows::communication {

// Comm-event mask bits.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;

// Purge flags.
inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;

// Line error flags reported (and cleared) by clearCommError.
inline constexpr std::uint32_t CE_RXOVER = 0x0001;
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;
inline constexpr std::uint32_t CE_FRAME = 0x0008;
inline constexpr std::uint32_t CE_BREAK = 0x0010;

// Parity and stop-bit codes of the line settings.
inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t MARKPARITY = 3;
inline constexpr std::uint8_t SPACEPARITY = 4;
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t ONE5STOPBITS = 1;
inline constexpr std::uint8_t TWOSTOPBITS = 2;

// DTR and RTS control modes.
inline constexpr std::uint8_t DTR_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t DTR_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t DTR_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint8_t RTS_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t RTS_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint8_t RTS_CONTROL_TOGGLE = 3;

inline constexpr std::uint32_t MAXDWORD = 0xFFFFFFFF;

// The line settings, as far as this system uses them.
struct DCB {
    std::uint32_t BaudRate = 0;
    bool fBinary = true;
    bool fParity = false;      // check parity on input
    bool fOutxCtsFlow = false; // hold output while CTS is low
    bool fOutxDsrFlow = false; // hold output while DSR is low
    std::uint8_t fDtrControl = DTR_CONTROL_ENABLE;
    std::uint8_t fRtsControl = RTS_CONTROL_ENABLE;
    bool fOutX = false; // XON/XOFF on output
    bool fInX = false;  // XON/XOFF on input
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = NOPARITY;
    std::uint8_t StopBits = ONESTOPBIT;
    char XonChar = 0x11;
    char XoffChar = 0x13;
    char EvtChar = 0;
};

struct COMMTIMEOUTS {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

struct COMSTAT {
    std::uint32_t cbInQue = 0;  // bytes received and not yet read
    std::uint32_t cbOutQue = 0; // bytes written and not yet sent
};

} // namespace wyr::windows::communication
