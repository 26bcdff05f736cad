#pragma once

#include "wyr/NamedEnum.h"

#include <string>

namespace bootloader {

// The data columns of the update's comparison table: the device's bootloader
// block, the application block it reports, and the image's own block.
class InfoColumn : public wyr::NamedEnum<InfoColumn> {
public:
    static const InfoColumn Bootloader;
    static const InfoColumn Target;
    static const InfoColumn Source;

    // Defined beside the enumerators, so that whoever lists them also links them in.
    static const Registry& registry();

private:
    InfoColumn(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace bootloader
