#include "bootloader/FirmwareVersion.h"

#include "wyr/windows/system/TextFormat.h"

namespace bootloader {

bool FirmwareVersion::pack(std::span<const std::uint8_t> bytes) noexcept {
    if (bytes.size() != 4) {
        return false;
    }
    const unsigned b0 = bytes[0];
    const unsigned b1 = bytes[1];
    const unsigned b2 = bytes[2];
    const unsigned b3 = bytes[3];
    _word0 = static_cast<std::uint16_t>((b2 << 4) | (b3 >> 4));
    _word1 = static_cast<std::uint16_t>((b0 << 2) | (b1 >> 6));
    return true;
}

std::array<unsigned, 4> FirmwareVersion::parts() const noexcept {
    return {_word0 & 0xFU, static_cast<unsigned>(_word0 >> 4), _word1 & 0x3U,
            static_cast<unsigned>(_word1 >> 2)};
}

std::array<std::uint8_t, 4> FirmwareVersion::memoryBytes() const noexcept {
    return {static_cast<std::uint8_t>(_word0 & 0xFF), static_cast<std::uint8_t>(_word0 >> 8),
            static_cast<std::uint8_t>(_word1 & 0xFF), static_cast<std::uint8_t>(_word1 >> 8)};
}

std::wstring FirmwareVersion::text() const {
    const auto p = parts();
    return wyr::windows::system::formatText(L"%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
}

} // namespace bootloader
