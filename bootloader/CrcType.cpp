#include "bootloader/CrcType.h"

namespace bootloader {

const CrcType CrcType::None{0x00, L"None"};
const CrcType CrcType::UserDefined16{0x01, L"16-bit User Defined CRC"};
const CrcType CrcType::Ccitt16{0x40, L"CRC-16-CCITT"};
const CrcType CrcType::UserDefined32{0x80, L"32-bit User Defined CRC"};
const CrcType CrcType::Ieee8023{0xC0, L"CRC-32-IEEE 802.3"};

const std::wstring& CrcType::displayName(std::uint8_t code) {
    static const std::wstring invalid{L"INVALID"};
    const CrcType* type = fromValue(code);
    return type != nullptr ? type->name() : invalid;
}

} // namespace bootloader
