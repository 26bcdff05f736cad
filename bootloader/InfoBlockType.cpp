#include "bootloader/InfoBlockType.h"

namespace bootloader {

const InfoBlockType InfoBlockType::Unknown{0, L"UNKNOWN"};
const InfoBlockType InfoBlockType::BootloaderInfoBlock{1, L"BootloaderInfoBlock"};
const InfoBlockType InfoBlockType::TargetInfoBlock{2, L"TargetInfoBlock"};
const InfoBlockType InfoBlockType::SourceInfoBlock{3, L"SourceInfoBlock"};

const std::wstring& InfoBlockType::displayName(int value) {
    const InfoBlockType* type = fromValue(value);
    return type != nullptr ? type->name() : Unknown.name();
}

} // namespace bootloader
