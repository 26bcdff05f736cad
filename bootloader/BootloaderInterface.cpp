#include "bootloader/BootloaderInterface.h"

#include "wyr/windows/system/RegisteredMessage.h"

namespace bootloader {

using wyr::windows::system::MessageId;
using wyr::windows::system::registerMessage;

const MessageId BootloaderInterface::WM_BL_EXIT_BOOTLOADER =
    registerMessage("WM_BL_EXIT_BOOTLOADER-{8CA9AA68-57E7-4255-8A95-A47A425635E0}");
const MessageId BootloaderInterface::BL_INITIAL_UPDATE =
    registerMessage("BL_INITIAL_UPDATE-{9B033606-6E39-4D3F-89C5-86F8D08E5A9E}");

} // namespace bootloader
