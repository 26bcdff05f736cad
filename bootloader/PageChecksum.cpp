#include "bootloader/PageChecksum.h"

#include <array>

namespace bootloader {

namespace {

constexpr std::uint16_t kCcittReflected = 0x8408;
constexpr std::uint32_t kIeeeReflected = 0xEDB88320;

constexpr std::array<std::uint32_t, 256> makeIeeeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1U) != 0 ? (value >> 1) ^ kIeeeReflected : value >> 1;
        }
        table[i] = value;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kIeeeTable = makeIeeeTable();
static_assert(kIeeeTable[1] == 0x77073096);

} // namespace

std::uint16_t PageChecksum::ccitt16(std::span<const std::uint8_t> bytes) noexcept {
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ kCcittReflected)
                                  : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::uint32_t PageChecksum::ieee32(std::span<const std::uint8_t> bytes) noexcept {
    std::uint32_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc = (crc << 8) ^ kIeeeTable[(crc ^ byte) & 0xFFU];
    }
    return ~crc;
}

} // namespace bootloader
