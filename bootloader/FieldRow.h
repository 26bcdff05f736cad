#pragma once

#include "wyr/NamedEnum.h"

#include <string>

namespace bootloader {

// The rows of the update's comparison table, one per info-block field shown, in
// display order.
class FieldRow : public wyr::NamedEnum<FieldRow> {
public:
    static const FieldRow ProductCode;
    static const FieldRow BootloaderType;
    static const FieldRow FlashPageSize;
    static const FieldRow PacketSize;
    static const FieldRow BufferSize;
    static const FieldRow CrcType;
    static const FieldRow Version;
    static const FieldRow StartAddress;
    static const FieldRow EndAddress;
    static const FieldRow SerialNo;

    // Defined beside the enumerators, so that whoever lists them also links them in.
    static const Registry& registry();

private:
    FieldRow(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace bootloader
