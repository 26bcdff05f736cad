#include "device/FirmwareReleaseType.h"

namespace device {

const FirmwareReleaseType FirmwareReleaseType::Alpha{0, L"Alpha"};
const FirmwareReleaseType FirmwareReleaseType::Beta{1, L"Beta"};
const FirmwareReleaseType FirmwareReleaseType::ReleaseCandidate{2, L"ReleaseCandidate"};
const FirmwareReleaseType FirmwareReleaseType::Final{3, L"Final"};

const FirmwareReleaseType& FirmwareReleaseType::ofVersion(std::uint32_t firmwareVersion) noexcept {
    static const FirmwareReleaseType* const kByValue[] = {&Alpha, &Beta, &ReleaseCandidate, &Final};
    return *kByValue[(firmwareVersion >> 16) & 0x3U];
}

} // namespace device
