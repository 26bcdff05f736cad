#include "bootloader/PageChecksum.h"

#include <array>
#include <boost/crc.hpp>

namespace bootloader {

namespace {

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
    // CRC-16 with polynomial 0x1021, reflected in and out, starting at 0, no final XOR.
    boost::crc_optimal<16, 0x1021, 0, 0, true, true> crc;
    crc.process_bytes(bytes.data(), bytes.size());
    return crc.checksum();
}

std::uint32_t PageChecksum::ieee32(std::span<const std::uint8_t> bytes) noexcept {
    std::uint32_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc = (crc << 8) ^ kIeeeTable[(crc ^ byte) & 0xFFU];
    }
    return ~crc;
}

} // namespace bootloader
