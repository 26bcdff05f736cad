#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>
#include <string>

namespace bootloader {

// The transport a bootloader listens on, by its 8-bit code.
class BootloaderType : public wyr::NamedEnum<BootloaderType> {
public:
    static const BootloaderType Reserved;
    static const BootloaderType UserDefined;
    static const BootloaderType Uart;
    static const BootloaderType Can;
    static const BootloaderType Lin;
    static const BootloaderType I2c;
    static const BootloaderType Spi;

    // The registered name of a code; codes below 0x80 are the maker's own
    // ("User Defined"), codes above the last transport are "Reserved".
    static const std::wstring& displayName(std::uint8_t code);

private:
    BootloaderType(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace bootloader
