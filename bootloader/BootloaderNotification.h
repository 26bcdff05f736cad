#pragma once

#include "bootloader/BootloaderNotifyState.h"
#include "bootloader/BootloaderNotifyType.h"

#include <cstdint>

namespace bootloader {

// A bootloader notification: what step it reports on, where that step stands and
// its result (0, or a platform error number). Records are made on the heap by the
// worker and belong to the broadcast window once posted; subscribers get a pointer
// valid only during their call.
struct tagBLNHDR {
    tagBLNHDR(const BootloaderNotifyType& notifyType, const BootloaderNotifyState& notifyState,
              std::uint32_t code = 0) noexcept
        : type(notifyType), state(notifyState), result(code) {}
    virtual ~tagBLNHDR() = default;
    tagBLNHDR(const tagBLNHDR&) = delete;
    tagBLNHDR& operator=(const tagBLNHDR&) = delete;

    const BootloaderNotifyType& type;
    const BootloaderNotifyState& state;
    std::uint32_t result;
};

// The record of the long steps ("Load Source", "Erase Target", "Write Target"):
// how far the step got out of how much.
struct BootloaderProgress : tagBLNHDR {
    BootloaderProgress(const BootloaderNotifyType& notifyType, const BootloaderNotifyState& notifyState,
                       std::uint32_t code = 0, std::uint32_t currentCount = 0,
                       std::uint32_t totalCount = 0) noexcept
        : tagBLNHDR(notifyType, notifyState, code), current(currentCount), total(totalCount) {}

    // Whether records of this type are progress records.
    static bool carries(const BootloaderNotifyType& t) noexcept {
        return t == BootloaderNotifyType::LoadSource || t == BootloaderNotifyType::EraseTarget ||
               t == BootloaderNotifyType::WriteTarget;
    }
    // The progress record behind a header, or null when it is none.
    static const BootloaderProgress* of(const tagBLNHDR* header) noexcept {
        return dynamic_cast<const BootloaderProgress*>(header);
    }

    std::uint32_t current;
    std::uint32_t total;
};

} // namespace bootloader
