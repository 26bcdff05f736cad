#include "wyr/windows/communication/TtyLineSettings.h"

// termios2 constants (BOTHER, CMSPAR ...) from the kernel's headers; <termios.h>
// cannot share a translation unit with them.
#include <asm/termbits.h>

namespace wyr::windows::communication {

namespace {

struct StandardRate {
    std::uint32_t rate;
    tcflag_t code;
};

// Rates with their own code are set through it, others through BOTHER.
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

tcflag_t speedCode(std::uint32_t rate) {
    for (const auto& standard : kStandardRates) {
        if (standard.rate == rate) {
            return standard.code;
        }
    }
    return BOTHER;
}

tcflag_t sizeFlag(std::uint8_t bits) {
    switch (bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

tcflag_t parityFlags(std::uint8_t code) {
    switch (code) {
    case ODDPARITY:
        return PARENB | PARODD;
    case EVENPARITY:
        return PARENB;
    case MARKPARITY:
        return PARENB | CMSPAR | PARODD;
    case SPACEPARITY:
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

bool validFraming(const DCB& dcb) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.fDtrControl > DTR_CONTROL_HANDSHAKE || dcb.fRtsControl > RTS_CONTROL_TOGGLE) {
        return false;
    }
    switch (dcb.StopBits) {
    case ONESTOPBIT:
        return true;
    case ONE5STOPBITS:
        return dcb.ByteSize == 5;
    case TWOSTOPBITS:
        return dcb.ByteSize != 5;
    default:
        return false;
    }
}

} // namespace

system::ErrorCode TtyLineSettings::apply(const DCB& dcb, Terminal& terminal) {
    if (!validFraming(dcb)) {
        return system::ERROR_INVALID_PARAMETER;
    }
    if (dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
        return system::ERROR_NOT_SUPPORTED;
    }
    // The input speed follows the output speed (no separate input code).
    terminal.cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | PARODD | CMSPAR |
                                             CSTOPB | CRTSCTS);
    terminal.cflag |= speedCode(dcb.BaudRate) | sizeFlag(dcb.ByteSize) | parityFlags(dcb.Parity);
    if (dcb.StopBits != ONESTOPBIT) {
        terminal.cflag |= CSTOPB;
    }
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        terminal.cflag |= CRTSCTS;
    }
    terminal.speed = dcb.BaudRate;
    terminal.iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY);
    if (dcb.fParity) {
        terminal.iflag |= INPCK;
    }
    if (dcb.fOutX) {
        terminal.iflag |= IXON;
    }
    if (dcb.fInX) {
        terminal.iflag |= IXOFF;
    }
    terminal.startChar = dcb.XonChar;
    terminal.stopChar = dcb.XoffChar;
    return system::ERROR_SUCCESS;
}

void TtyLineSettings::describe(const Terminal& terminal, DCB& dcb) {
    dcb.BaudRate = terminal.speed;
    switch (terminal.cflag & CSIZE) {
    case CS5:
        dcb.ByteSize = 5;
        break;
    case CS6:
        dcb.ByteSize = 6;
        break;
    case CS7:
        dcb.ByteSize = 7;
        break;
    default:
        dcb.ByteSize = 8;
        break;
    }
    if ((terminal.cflag & PARENB) == 0) {
        dcb.Parity = NOPARITY;
    } else {
        const bool odd = (terminal.cflag & PARODD) != 0;
        if ((terminal.cflag & CMSPAR) != 0) {
            dcb.Parity = odd ? MARKPARITY : SPACEPARITY;
        } else {
            dcb.Parity = odd ? ODDPARITY : EVENPARITY;
        }
    }
    if ((terminal.cflag & CSTOPB) == 0) {
        dcb.StopBits = ONESTOPBIT;
    } else {
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    }
    dcb.fParity = (terminal.iflag & INPCK) != 0;
    dcb.fOutX = (terminal.iflag & IXON) != 0;
    dcb.fInX = (terminal.iflag & IXOFF) != 0;
    dcb.XonChar = terminal.startChar;
    dcb.XoffChar = terminal.stopChar;
}

bool TtyLineSettings::hardwareHandshake(const Terminal& terminal) {
    return (terminal.cflag & CRTSCTS) != 0;
}

} // namespace wyr::windows::communication
