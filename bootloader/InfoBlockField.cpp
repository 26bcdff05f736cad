#include "bootloader/InfoBlockField.h"

namespace bootloader {

const InfoBlockField InfoBlockField::InfoBlockLength{1, L"InfoBlockLength", 0, 1};
const InfoBlockField InfoBlockField::ProductCode{2, L"ProductCode", 1, 1};
const InfoBlockField InfoBlockField::BootLoadType{3, L"BootLoadType", 2, 1};
const InfoBlockField InfoBlockField::FlashPageSizeCode{4, L"FlashPageSizeCode", 3, 1};
const InfoBlockField InfoBlockField::PacketBufferSizeCode{5, L"PacketBufferSizeCode", 4, 1};
const InfoBlockField InfoBlockField::CRCTypeCode{6, L"CRCTypeCode", 5, 1};
const InfoBlockField InfoBlockField::AppFWVersionLow{7, L"AppFWVersionLow", 6, 4};
const InfoBlockField InfoBlockField::SerialNo{8, L"SerialNo", 10, 2};

} // namespace bootloader
