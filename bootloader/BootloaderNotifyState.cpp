#include "bootloader/BootloaderNotifyState.h"

namespace bootloader {

const BootloaderNotifyState BootloaderNotifyState::None{1, L"None"};
const BootloaderNotifyState BootloaderNotifyState::Initiated{2, L"Initiated"};
const BootloaderNotifyState BootloaderNotifyState::Running{3, L"Running"};
const BootloaderNotifyState BootloaderNotifyState::Completed{4, L"Completed"};

} // namespace bootloader
