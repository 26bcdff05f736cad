#pragma once

#include <cstdint>
#include <string>

namespace device {

// The instrument's state as its acknowledgement and heartbeat sentences report it.
// A default-constructed state is the empty one: no text, every number 0, no flag set.
struct OrvaneDeviceState {
    // The three status flags sit in the top bits of the flags word; the rest stays 0.
    static constexpr std::uint16_t AntennaDisconnectedFlag = 1U << 13;
    static constexpr std::uint16_t StreamingFlag = 1U << 14;
    static constexpr std::uint16_t Flag3 = 1U << 15;

    std::string model;
    std::int32_t serialNumber = 0;
    // Low word: major (bits 0-3), minor (bits 4-11). High word: release type (bits 0-1),
    // build (bits 2-15).
    std::uint32_t firmwareVersion = 0;
    std::uint16_t flags = 0;
    std::uint8_t frameRate = 0;
    // Measured on the PC from the arrival of readings; NaN while nothing was measured.
    double measuredFrameRate = 0.0;
    std::int32_t gain = 0;
    float voltage = 0.0F;

    bool antennaDisconnected() const noexcept { return (flags & AntennaDisconnectedFlag) != 0; }
    bool streaming() const noexcept { return (flags & StreamingFlag) != 0; }
    bool flag3() const noexcept { return (flags & Flag3) != 0; }

    // Bits 0, 1 and 2 of the device's status number, in that order; higher bits are ignored.
    static constexpr std::uint16_t flagsFromStatus(std::uint32_t status) noexcept {
        return static_cast<std::uint16_t>((status & 0x7U) << 13);
    }

    // Each part keeps only as many low bits as its width.
    static constexpr std::uint32_t packFirmwareVersion(std::uint32_t major, std::uint32_t minor,
                                                       std::uint32_t releaseType,
                                                       std::uint32_t build) noexcept {
        const std::uint32_t low = (major & 0xFU) | ((minor & 0xFFU) << 4);
        const std::uint32_t high = (releaseType & 0x3U) | ((build & 0x3FFFU) << 2);
        return low | (high << 16);
    }

    unsigned firmwareMajor() const noexcept { return firmwareVersion & 0xFU; }
    unsigned firmwareMinor() const noexcept { return (firmwareVersion >> 4) & 0xFFU; }
    // A value of FirmwareReleaseType.
    unsigned firmwareReleaseType() const noexcept { return (firmwareVersion >> 16) & 0x3U; }
    unsigned firmwareBuild() const noexcept { return (firmwareVersion >> 18) & 0x3FFFU; }
};

} // namespace device
