#include "sim/FactoryFirmware.h"

#include "bootloader/InfoBlockField.h"
#include "sim/EmulatedFlash.h"

#include <algorithm>
#include <charconv>

namespace sim {

using bootloader::InfoBlockField;
using namespace wyr::windows::system;

namespace {

// The start of the application: enough bytes to tell an erased area from a programmed one.
constexpr std::uint32_t kCodeSize = 256;

} // namespace

std::array<std::uint8_t, 4> FactoryFirmware::versionBytes(const std::string& text) {
    std::array<unsigned, 4> parts{};
    std::size_t start = 0;
    for (unsigned& part : parts) {
        if (start > text.size()) {
            break;
        }
        const std::size_t dot = std::min(text.find('.', start), text.size());
        std::from_chars(text.data() + start, text.data() + dot, part);
        start = dot + 1;
    }
    return {static_cast<std::uint8_t>(parts[3] & 0xFFU), static_cast<std::uint8_t>((parts[2] & 0x3U) << 6),
            static_cast<std::uint8_t>(parts[1] & 0xFFU), static_cast<std::uint8_t>((parts[0] & 0xFU) << 4)};
}

std::vector<std::uint8_t> FactoryFirmware::infoBlock(const InstrumentSettings& settings) {
    const BootloaderSettings& device = settings.bootloader;
    std::vector<std::uint8_t> block(InfoBlockField::kBlockSize, 0);
    block[InfoBlockField::InfoBlockLength.offset()] = static_cast<std::uint8_t>(InfoBlockField::kBlockSize);
    block[InfoBlockField::ProductCode.offset()] = device.productCode;
    block[InfoBlockField::BootLoadType.offset()] = device.bootloaderType;
    block[InfoBlockField::FlashPageSizeCode.offset()] = device.pageSizeCode;
    block[InfoBlockField::PacketBufferSizeCode.offset()] =
        static_cast<std::uint8_t>((device.packetSizeCode << 4) | (device.bufferSizeCode & 0x0F));
    block[InfoBlockField::CRCTypeCode.offset()] = device.crcType;
    const auto version = versionBytes(settings.firmwareVersion);
    std::copy(version.begin(), version.end(), block.begin() + InfoBlockField::AppFWVersionLow.offset());
    const auto serial = static_cast<std::uint16_t>(settings.serialNumber);
    block[InfoBlockField::SerialNo.offset()] = static_cast<std::uint8_t>(serial & 0xFF);
    block[InfoBlockField::SerialNo.offset() + 1] = static_cast<std::uint8_t>(serial >> 8);
    return block;
}

ErrorCode FactoryFirmware::install(EmulatedFlash& flash, const InstrumentSettings& settings) {
    // The block lies at the top of the area, its first byte highest.
    std::vector<std::uint8_t> top = infoBlock(settings);
    std::reverse(top.begin(), top.end());
    const auto topSize = static_cast<std::uint32_t>(top.size());
    ErrorCode error = flash.program(flash.end() + 1 - topSize, top);

    const std::uint32_t codeSize = std::min(kCodeSize, flash.end() + 1 - topSize - flash.start());
    std::vector<std::uint8_t> code(codeSize);
    for (std::uint32_t i = 0; i < codeSize; ++i) {
        code[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    if (error == ERROR_SUCCESS && codeSize > 0) {
        error = flash.program(flash.start(), code);
    }
    return error == ERROR_SUCCESS ? flash.setSignature(true) : error;
}

} // namespace sim
