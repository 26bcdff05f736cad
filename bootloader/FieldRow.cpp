#include "bootloader/FieldRow.h"

namespace bootloader {

const FieldRow FieldRow::ProductCode{1, L"Product Code"};
const FieldRow FieldRow::BootloaderType{2, L"Bootloader Type"};
const FieldRow FieldRow::FlashPageSize{3, L"Flash Page Size"};
const FieldRow FieldRow::PacketSize{4, L"Packet Size"};
const FieldRow FieldRow::BufferSize{5, L"Buffer Size"};
const FieldRow FieldRow::CrcType{6, L"CRC Type"};
const FieldRow FieldRow::Version{7, L"Version"};
const FieldRow FieldRow::StartAddress{8, L"Start Address"};
const FieldRow FieldRow::EndAddress{9, L"End Address"};
const FieldRow FieldRow::SerialNo{10, L"Serial No"};

const FieldRow::Registry& FieldRow::registry() {
    return NamedEnum::registry();
}

} // namespace bootloader
