#include "bootloader/BootloaderType.h"

namespace bootloader {

const BootloaderType BootloaderType::Reserved{0x00, L"Reserved"};
const BootloaderType BootloaderType::UserDefined{0x01, L"User Defined"};
const BootloaderType BootloaderType::Uart{0x80, L"UART"};
const BootloaderType BootloaderType::Can{0x81, L"CAN"};
const BootloaderType BootloaderType::Lin{0x82, L"LIN"};
const BootloaderType BootloaderType::I2c{0x83, L"I2C"};
const BootloaderType BootloaderType::Spi{0x84, L"SPI"};

const std::wstring& BootloaderType::displayName(std::uint8_t code) {
    if (const BootloaderType* type = fromValue(code)) {
        return type->name();
    }
    // Every code from 0x80 to 0x84 is registered, so the rest splits cleanly.
    return code < Uart.value() ? UserDefined.name() : Reserved.name();
}

} // namespace bootloader
