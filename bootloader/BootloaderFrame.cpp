#include "bootloader/BootloaderFrame.h"

namespace bootloader {

namespace {

std::uint8_t byteOf(std::uint32_t value, unsigned index) {
    return static_cast<std::uint8_t>((value >> (8 * index)) & 0xFFU);
}

BootloaderFrame::Bytes start(const TargetCommand& command) {
    const auto code = command.codeBytes();
    return BootloaderFrame::Bytes(code.begin(), code.end());
}

void appendAddress(BootloaderFrame::Bytes& frame, std::uint32_t address) {
    address &= BootloaderFrame::kAddressMask;
    frame.insert(frame.end(), {byteOf(address, 0), byteOf(address, 1), byteOf(address, 2)});
}

} // namespace

BootloaderFrame::Bytes BootloaderFrame::command(const TargetCommand& command) {
    return start(command);
}

BootloaderFrame::Bytes BootloaderFrame::eraseFlashPage(std::uint32_t address) {
    Bytes frame = start(TargetCommand::EraseFlashPage);
    frame.insert(frame.end(), {kGuard0, kGuard1});
    appendAddress(frame, address);
    frame.insert(frame.end(), {0x00, 0x00});
    return frame;
}

BootloaderFrame::Bytes BootloaderFrame::writeSignature() {
    Bytes frame = start(TargetCommand::WriteSignature);
    frame.insert(frame.end(), {kGuard0, kGuard1, 0x3D, 0xC2, 0x00, 0x00, 0x00});
    return frame;
}

BootloaderFrame::Bytes BootloaderFrame::getPageCrc(std::uint32_t address) {
    Bytes frame = start(TargetCommand::GetPageCrc16);
    appendAddress(frame, address);
    frame.insert(frame.end(), {0x00, 0x00, 0x00, 0x00});
    return frame;
}

BootloaderFrame::Bytes BootloaderFrame::writeFlashBytes(std::uint32_t address, std::uint16_t length) {
    Bytes frame = start(TargetCommand::WriteFlashBytes);
    frame.insert(frame.end(), {kGuard0, kGuard1});
    appendAddress(frame, address);
    frame.insert(frame.end(), {byteOf(length, 0), byteOf(length, 1)});
    return frame;
}

} // namespace bootloader
