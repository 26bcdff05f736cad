#include "bootloader/InfoColumn.h"

namespace bootloader {

const InfoColumn InfoColumn::Bootloader{1, L"Bootloader"};
const InfoColumn InfoColumn::Target{2, L"Target"};
const InfoColumn InfoColumn::Source{3, L"Source"};

const InfoColumn::Registry& InfoColumn::registry() {
    return NamedEnum::registry();
}

} // namespace bootloader
