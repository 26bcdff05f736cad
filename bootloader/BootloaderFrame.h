#pragma once

#include "bootloader/TargetCommand.h"

#include <cstdint>
#include <vector>

namespace bootloader {

// The command frames sent to the bootloader. Numbers travel little-endian and an
// address as its low 24 bits; commands that change flash carry the fixed bytes
// 0xA5 0xF1 after their command byte, so that a stray byte on the line cannot
// erase or write anything.
class BootloaderFrame {
public:
    using Bytes = std::vector<std::uint8_t>;

    static constexpr std::uint8_t kGuard0 = 0xA5;
    static constexpr std::uint8_t kGuard1 = 0xF1;
    static constexpr std::uint32_t kAddressMask = 0xFFFFFF;

    // A command's code bytes alone.
    static Bytes command(const TargetCommand& command);
    // 30 A5 F1 a0 a1 a2 00 00
    static Bytes eraseFlashPage(std::uint32_t address);
    // 40 A5 F1 3D C2 00 00 00
    static Bytes writeSignature();
    // 60 a0 a1 a2 00 00 00 00 (the same frame for either checksum width)
    static Bytes getPageCrc(std::uint32_t address);
    // 70 A5 F1 a0 a1 a2 nL nH; the data bytes follow in a frame of their own.
    static Bytes writeFlashBytes(std::uint32_t address, std::uint16_t length);
};

} // namespace bootloader
