#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace bootloader {

// A firmware version as the instrument packs it: four version bytes b0..b3 folded
// into two 16-bit words. Only the bits that survive the packing are shown, so the
// display form is always (b3 >> 4).b2.(b1 >> 6).b0.
class FirmwareVersion {
public:
    FirmwareVersion() = default;
    FirmwareVersion(std::uint16_t word0, std::uint16_t word1) : _word0(word0), _word1(word1) {}

    // Packs b0..b3 in the order they were read. Anything but four bytes fails and
    // leaves the version as it was.
    bool pack(std::span<const std::uint8_t> bytes) noexcept;

    std::uint16_t word0() const noexcept { return _word0; }
    std::uint16_t word1() const noexcept { return _word1; }

    // The four numbers of the display form, in display order.
    std::array<unsigned, 4> parts() const noexcept;

    // The bytes of the two words as they lie in memory: word0 low, word0 high,
    // word1 low, word1 high.
    std::array<std::uint8_t, 4> memoryBytes() const noexcept;

    // "%u.%u.%u.%u" of parts().
    std::wstring text() const;

    friend bool operator==(const FirmwareVersion&, const FirmwareVersion&) = default;

private:
    std::uint16_t _word0 = 0;
    std::uint16_t _word1 = 0;
};

} // namespace bootloader
