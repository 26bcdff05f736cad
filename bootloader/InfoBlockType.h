#pragma once

#include "wyr/NamedEnum.h"

#include <string>

namespace bootloader {

// Which of the three info blocks a record holds: the bootloader's own, the
// application's as the bootloader reports it, or the one embedded in an image.
class InfoBlockType : public wyr::NamedEnum<InfoBlockType> {
public:
    static const InfoBlockType Unknown;
    static const InfoBlockType BootloaderInfoBlock;
    static const InfoBlockType TargetInfoBlock;
    static const InfoBlockType SourceInfoBlock;

    // The registered name of a value, "UNKNOWN" for any other.
    static const std::wstring& displayName(int value);

private:
    InfoBlockType(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace bootloader
