#include "bootloader/InfoBlock.h"

#include "bootloader/BootloaderType.h"
#include "bootloader/CrcType.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/TextFormat.h"

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

// One line of the dump, formatted as the log formats it.
template <typename... Args>
void addLine(std::vector<std::wstring>& lines, const wchar_t* format, Args... args) {
    lines.push_back(wyr::windows::system::formatText(format, args...));
}

} // namespace

void dump(const InfoBlock& block) {
    if (!wyr::windows::logging::logEnabled(LogVerbosity::Information)) {
        return;
    }
    for (const std::wstring& line : dumpText(block)) {
        log(LogVerbosity::Information, kContext, L"%ls", line.c_str());
    }
}

std::vector<std::wstring> dumpText(const InfoBlock& block) {
    const auto version = block.version.memoryBytes();
    const auto parts = block.version.parts();
    std::vector<std::wstring> lines;

    lines.emplace_back(kRule);
    lines.emplace_back(L"                         INFO BLOCK");
    lines.emplace_back(kRule);
    addLine(lines, L"Type              : [%u] - %ls", static_cast<unsigned>(block.type.value()),
            InfoBlockType::displayName(block.type.value()).c_str());
    addLine(lines, L"Block length      : [0x%02x] %u bytes", unsigned{block.length}, unsigned{block.length});
    addLine(lines, L"Version           : [0x%02x, 0x%02x, 0x%02x, 0x%02x] %u.%u.%u.%u", unsigned{version[0]},
            unsigned{version[1]}, unsigned{version[2]}, unsigned{version[3]}, parts[0], parts[1], parts[2],
            parts[3]);
    addLine(lines, L"Product Code      : [0x%02x] %u", unsigned{block.productCode},
            unsigned{block.productCode});
    addLine(lines, L"Bootloader Type   : [0x%02x] %ls", unsigned{block.bootloaderType},
            BootloaderType::displayName(block.bootloaderType).c_str());
    addLine(lines, L"Page Size Code    : [0x%02x] %u bytes", unsigned{block.pageSizeCode}, block.pageSize());
    addLine(lines, L"Packect Size Code : [0x%02x] %u bytes", unsigned{block.packetSizeCode},
            block.packetSize());
    addLine(lines, L"Buffer Size Code  : [0x%02x] %u bytes", unsigned{block.bufferSizeCode},
            block.bufferSize());
    addLine(lines, L"CRC Type Code     : [0x%02x] %ls", unsigned{block.crcType},
            CrcType::displayName(block.crcType).c_str());
    if (block.type == InfoBlockType::BootloaderInfoBlock) {
        addLine(lines, L"App Start Address : [0x%02x, 0x%02x, 0x%02x] 0x%06x", byteOf(block.appStart, 0),
                byteOf(block.appStart, 1), byteOf(block.appStart, 2), block.appStart);
        addLine(lines, L"App End Address   : [0x%02x, 0x%02x, 0x%02x] 0x%06x", byteOf(block.appEnd, 0),
                byteOf(block.appEnd, 1), byteOf(block.appEnd, 2), block.appEnd);
    } else {
        addLine(lines, L"Serial No         : [0x%02x, 0x%02x] %d", byteOf(block.serialNo, 0),
                byteOf(block.serialNo, 1), int{block.serialNo});
    }
    if (block.type == InfoBlockType::SourceInfoBlock) {
        addLine(lines, L"App Start Address : 0x%06x", block.appStart);
        addLine(lines, L"App End Address   : 0x%06x", block.appEnd);
    }
    lines.emplace_back(kRule);
    return lines;
}

} // namespace bootloader
