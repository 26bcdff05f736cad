#pragma once

#include "wyr/NamedEnum.h"

#include <string>

namespace bootloader {

// The steps of a firmware update, in the order they are reached. A notification
// says which step it reports on, and the update keeps the last step that
// succeeded; callers compare steps by value.
class BootloaderNotifyType : public wyr::NamedEnum<BootloaderNotifyType> {
public:
    static const BootloaderNotifyType None;
    static const BootloaderNotifyType EnteredBootloadMode;
    static const BootloaderNotifyType ReceivedTargetInfo;
    static const BootloaderNotifyType LoadSource;
    static const BootloaderNotifyType EraseTarget;
    static const BootloaderNotifyType WriteTarget;
    static const BootloaderNotifyType ResetTarget;

    // The registered step with this value, None for any other.
    static const BootloaderNotifyType& fromValueOrNone(int value);

private:
    BootloaderNotifyType(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

inline bool operator<(const BootloaderNotifyType& a, const BootloaderNotifyType& b) noexcept {
    return a.value() < b.value();
}

} // namespace bootloader
