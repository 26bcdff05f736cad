#pragma once

#include <cstdint>
#include <span>

namespace bootloader {

// The two page checksums a bootloader can report, computed here over the bytes
// that were written so that the two can be compared.
class PageChecksum {
public:
    // Polynomial 0x1021 processed least significant bit first, register starting
    // at 0, no final XOR.
    static std::uint16_t ccitt16(std::span<const std::uint8_t> bytes) noexcept;

    // The reflected IEEE 802.3 table driven by a register that starts at 0 and
    // shifts left; the result is the complement of the register. This is what the
    // bootloader computes, not the usual CRC-32.
    static std::uint32_t ieee32(std::span<const std::uint8_t> bytes) noexcept;
};

} // namespace bootloader
