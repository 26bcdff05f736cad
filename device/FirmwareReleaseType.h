#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>

namespace device {

// The two-bit release type inside a packed firmware version.
class FirmwareReleaseType : public wyr::NamedEnum<FirmwareReleaseType, std::uint16_t> {
public:
    static const FirmwareReleaseType Alpha;
    static const FirmwareReleaseType Beta;
    static const FirmwareReleaseType ReleaseCandidate;
    static const FirmwareReleaseType Final;

    FirmwareReleaseType(const FirmwareReleaseType&) = delete;
    FirmwareReleaseType& operator=(const FirmwareReleaseType&) = delete;
    ~FirmwareReleaseType() = default;

    // The release type inside a packed firmware version (bits 16 and 17).
    static const FirmwareReleaseType& ofVersion(std::uint32_t firmwareVersion) noexcept;

private:
    FirmwareReleaseType(std::uint16_t value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace device
