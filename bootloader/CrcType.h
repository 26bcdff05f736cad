#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>
#include <string>

namespace bootloader {

// The page checksum a bootloader computes, by its 8-bit code.
class CrcType : public wyr::NamedEnum<CrcType> {
public:
    static const CrcType None;
    static const CrcType UserDefined16;
    static const CrcType Ccitt16;
    static const CrcType UserDefined32;
    static const CrcType Ieee8023;

    // The registered name of a code, "INVALID" for any other.
    static const std::wstring& displayName(std::uint8_t code);

private:
    CrcType(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace bootloader
