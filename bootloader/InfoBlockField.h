#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>
#include <string>

namespace bootloader {

// Where each field of an image's embedded info block sits. The block fills the
// image's highest addresses and grows downwards, so a field is placed by its
// distance below the highest address H; a field of several bytes continues
// downwards from there (its first byte at H - offset, the next at H - offset - 1).
class InfoBlockField : public wyr::NamedEnum<InfoBlockField> {
public:
    static const InfoBlockField InfoBlockLength;
    static const InfoBlockField ProductCode;
    static const InfoBlockField BootLoadType;
    static const InfoBlockField FlashPageSizeCode;
    static const InfoBlockField PacketBufferSizeCode;
    static const InfoBlockField CRCTypeCode;
    static const InfoBlockField AppFWVersionLow;
    static const InfoBlockField SerialNo;

    // The number of bytes the whole block occupies below and at H.
    static constexpr std::uint32_t kBlockSize = 12;

    std::uint32_t offset() const noexcept { return _offset; }
    std::uint32_t width() const noexcept { return _width; }

    // The address of byte `index` of the field in an image whose highest address is `top`.
    std::uint32_t address(std::uint32_t top, std::uint32_t index = 0) const noexcept {
        return top - _offset - index;
    }

private:
    InfoBlockField(int id, std::wstring name, std::uint32_t offset, std::uint32_t width)
        : NamedEnum(id, std::move(name)), _offset(offset), _width(width) {}

    std::uint32_t _offset;
    std::uint32_t _width;
};

} // namespace bootloader
