#pragma once

#include "bootloader/FirmwareVersion.h"
#include "bootloader/InfoBlockType.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bootloader {

// 2^code as a byte count. Codes above 31 have no 32-bit size and give 0, so a
// corrupt code can never become an undefined shift or a huge allocation.
std::uint32_t sizeFromCode(std::uint8_t code) noexcept;

// One info block: the device's bootloader block, the device's application block
// or the block embedded in an image; `type` says which.
struct InfoBlock {
    InfoBlockType type = InfoBlockType::Unknown;
    std::uint8_t length = 0; // the whole block, length byte included
    std::uint8_t productCode = 0;
    FirmwareVersion version;
    std::uint8_t bootloaderType = 0; // a BootloaderType code
    std::uint8_t pageSizeCode = 0;
    std::uint8_t packetSizeCode = 0;
    std::uint8_t bufferSizeCode = 0;
    std::uint8_t crcType = 0; // a CrcType code
    // Bootloader block: the application area's first and last byte (24-bit).
    // Image block: the lowest and highest address the image holds.
    std::uint32_t appStart = 0;
    std::uint32_t appEnd = 0;
    // Application and image blocks only.
    std::uint16_t serialNo = 0;

    std::uint32_t pageSize() const noexcept { return sizeFromCode(pageSizeCode); }
    std::uint32_t packetSize() const noexcept { return sizeFromCode(packetSizeCode); }
    std::uint32_t bufferSize() const noexcept { return sizeFromCode(bufferSizeCode); }
};

// Logs an info block at Information, one field per line: the lines of dumpText.
void dump(const InfoBlock& block);
// The lines that dump logs, for a reader that wants the text itself.
std::vector<std::wstring> dumpText(const InfoBlock& block);

} // namespace bootloader
