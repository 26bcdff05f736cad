#include "bootloader/BootloaderNotifyType.h"

namespace bootloader {

const BootloaderNotifyType BootloaderNotifyType::None{1, L"None"};
const BootloaderNotifyType BootloaderNotifyType::EnteredBootloadMode{2, L"Entered Bootload Mode"};
const BootloaderNotifyType BootloaderNotifyType::ReceivedTargetInfo{3, L"Received Target Info"};
const BootloaderNotifyType BootloaderNotifyType::LoadSource{4, L"Load Source"};
const BootloaderNotifyType BootloaderNotifyType::EraseTarget{5, L"Erase Target"};
const BootloaderNotifyType BootloaderNotifyType::WriteTarget{6, L"Write Target"};
const BootloaderNotifyType BootloaderNotifyType::ResetTarget{99, L"Reset Target"};

const BootloaderNotifyType& BootloaderNotifyType::fromValueOrNone(int value) {
    const BootloaderNotifyType* type = fromValue(value);
    return type != nullptr ? *type : None;
}

} // namespace bootloader
