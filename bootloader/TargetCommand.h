#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bootloader {

// One command of the bootloader's wire protocol: the fixed leading bytes of its
// frame and how many response bytes the exchange waits for (0 when the response
// says its own length). The page checksum has one entry per checksum width, since
// the two widths answer with different lengths.
class TargetCommand : public wyr::NamedEnum<TargetCommand> {
public:
    static const TargetCommand EnterBootloadMode;
    static const TargetCommand GetInfo;
    static const TargetCommand ResetMcu;
    static const TargetCommand EraseFlashPage;
    static const TargetCommand WriteSignature;
    static const TargetCommand GetPageCrc16;
    static const TargetCommand GetPageCrc32;
    static const TargetCommand WriteFlashBytes;

    std::uint32_t id() const noexcept { return static_cast<std::uint32_t>(value()); }
    std::span<const std::uint8_t> codeBytes() const noexcept { return _codeBytes; }
    std::uint32_t responseLength() const noexcept { return _responseLength; }

private:
    TargetCommand(int id, std::wstring name, std::vector<std::uint8_t> codeBytes,
                  std::uint32_t responseLength)
        : NamedEnum(id, std::move(name)), _codeBytes(std::move(codeBytes)), _responseLength(responseLength) {}

    std::vector<std::uint8_t> _codeBytes;
    std::uint32_t _responseLength;
};

} // namespace bootloader
