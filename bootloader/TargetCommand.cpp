#include "bootloader/TargetCommand.h"

namespace bootloader {

const TargetCommand TargetCommand::EnterBootloadMode{1, L"TGT_CMD_ENTER_BL_MODE", {0x10, 0x52}, 1};
const TargetCommand TargetCommand::GetInfo{2, L"TGT_CMD_GET_INFO", {0x20}, 0};
const TargetCommand TargetCommand::ResetMcu{3, L"TGT_CMD_RESET_MCU", {0x50}, 1};
const TargetCommand TargetCommand::EraseFlashPage{4, L"TGT_CMD_ERASE_FLASH_PAGE", {0x30}, 1};
const TargetCommand TargetCommand::WriteSignature{5, L"TGT_CMD_WRITE_SIGNATURE", {0x40}, 1};
const TargetCommand TargetCommand::GetPageCrc16{6, L"TGT_CMD_GET_PAGE_CRC", {0x60}, 3};
const TargetCommand TargetCommand::GetPageCrc32{7, L"TGT_CMD_GET_PAGE_CRC", {0x60}, 5};
const TargetCommand TargetCommand::WriteFlashBytes{8, L"TGT_CMD_WRITE_FLASH_BYTES", {0x70}, 1};

} // namespace bootloader
