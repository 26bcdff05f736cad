#include "bootloader/InfoBlock.h"

#include "bootloader/BootloaderType.h"
#include "bootloader/CrcType.h"
#include "wyr/windows/logging/Log.h"

#include <string>

namespace bootloader {

using wyr::windows::logging::log;
using wyr::windows::logging::LogVerbosity;

std::uint32_t sizeFromCode(std::uint8_t code) noexcept {
    return code < 32 ? (std::uint32_t{1} << code) : 0;
}

namespace {

constexpr const char* kContext = "bootloader::dump";
const wchar_t* const kRule = L"============================================================";

unsigned byteOf(std::uint32_t value, unsigned index) {
    return (value >> (8 * index)) & 0xFFU;
}

void logLine(const wchar_t* format, auto... args) {
    log(LogVerbosity::Information, kContext, format, args...);
}

} // namespace

void dump(const InfoBlock& block) {
    if (!wyr::windows::logging::logEnabled(LogVerbosity::Information)) {
        return;
    }
    const auto version = block.version.memoryBytes();
    const auto parts = block.version.parts();

    logLine(kRule);
    logLine(L"                         INFO BLOCK");
    logLine(kRule);
    logLine(L"Type              : [%u] - %ls", static_cast<unsigned>(block.type.value()),
            InfoBlockType::displayName(block.type.value()).c_str());
    logLine(L"Block length      : [0x%02x] %u bytes", unsigned{block.length}, unsigned{block.length});
    logLine(L"Version           : [0x%02x, 0x%02x, 0x%02x, 0x%02x] %u.%u.%u.%u", unsigned{version[0]},
            unsigned{version[1]}, unsigned{version[2]}, unsigned{version[3]}, parts[0], parts[1], parts[2],
            parts[3]);
    logLine(L"Product Code      : [0x%02x] %u", unsigned{block.productCode}, unsigned{block.productCode});
    logLine(L"Bootloader Type   : [0x%02x] %ls", unsigned{block.bootloaderType},
            BootloaderType::displayName(block.bootloaderType).c_str());
    logLine(L"Page Size Code    : [0x%02x] %u bytes", unsigned{block.pageSizeCode}, block.pageSize());
    logLine(L"Packect Size Code : [0x%02x] %u bytes", unsigned{block.packetSizeCode}, block.packetSize());
    logLine(L"Buffer Size Code  : [0x%02x] %u bytes", unsigned{block.bufferSizeCode}, block.bufferSize());
    logLine(L"CRC Type Code     : [0x%02x] %ls", unsigned{block.crcType},
            CrcType::displayName(block.crcType).c_str());
    if (block.type == InfoBlockType::BootloaderInfoBlock) {
        logLine(L"App Start Address : [0x%02x, 0x%02x, 0x%02x] 0x%06x", byteOf(block.appStart, 0),
                byteOf(block.appStart, 1), byteOf(block.appStart, 2), block.appStart);
        logLine(L"App End Address   : [0x%02x, 0x%02x, 0x%02x] 0x%06x", byteOf(block.appEnd, 0),
                byteOf(block.appEnd, 1), byteOf(block.appEnd, 2), block.appEnd);
    } else {
        logLine(L"Serial No         : [0x%02x, 0x%02x] %d", byteOf(block.serialNo, 0),
                byteOf(block.serialNo, 1), int{block.serialNo});
    }
    if (block.type == InfoBlockType::SourceInfoBlock) {
        logLine(L"App Start Address : 0x%06x", block.appStart);
        logLine(L"App End Address   : 0x%06x", block.appEnd);
    }
    logLine(kRule);
}

} // namespace bootloader
