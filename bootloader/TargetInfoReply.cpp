#include "bootloader/TargetInfoReply.h"

#include "bootloader/ResponseCode.h"
#include "wyr/windows/logging/Log.h"

#include <algorithm>

namespace bootloader {

using wyr::windows::logging::log;
using wyr::windows::logging::LogVerbosity;
namespace system = wyr::windows::system;

namespace {

constexpr const char* kDecodeContext = "bootloader::TargetInfoReply::decode";

// The bytes of the block that starts at `offset`, as many as its length byte
// claims; empty when the reply ends before the block does.
std::span<const std::uint8_t> blockAt(std::span<const std::uint8_t> reply, std::size_t offset) {
    if (offset >= reply.size() || reply[offset] > reply.size() - offset) {
        return {};
    }
    return reply.subspan(offset, reply[offset]);
}

} // namespace

std::size_t TargetInfoReply::requiredInfoLength(std::span<const std::uint8_t> reply) noexcept {
    const std::size_t bootloaderLength = reply.size() >= 2 ? reply[1] : 1;
    std::size_t targetLength = 1;
    if (bootloaderLength + 1 < reply.size() && reply[bootloaderLength + 1] != 0) {
        targetLength = reply[bootloaderLength + 1];
    }
    return 1 + bootloaderLength + targetLength;
}

bool TargetInfoReply::parseInfoBlock(std::span<const std::uint8_t> bytes, InfoBlock& block) noexcept {
    const bool isBootloader = block.type == InfoBlockType::BootloaderInfoBlock;
    if (!isBootloader && block.type != InfoBlockType::TargetInfoBlock) {
        return false;
    }
    const auto at = [&bytes](std::size_t index, std::uint8_t& out) {
        if (index >= bytes.size()) {
            return false;
        }
        out = bytes[index];
        return true;
    };
    const auto address = [&at](std::size_t index, std::uint32_t& out) {
        std::uint8_t b0 = 0;
        std::uint8_t b1 = 0;
        std::uint8_t b2 = 0;
        if (!at(index, b0) || !at(index + 1, b1) || !at(index + 2, b2)) {
            return false;
        }
        out = std::uint32_t{b0} | std::uint32_t{b1} << 8 | std::uint32_t{b2} << 16;
        return true;
    };

    if (!at(0, block.length) || block.length == 0) {
        return false;
    }
    std::size_t k = 1;
    if (isBootloader) {
        if (bytes.size() < 5 || !block.version.pack(bytes.subspan(1, 4))) {
            return false;
        }
        k = 5;
    }
    std::uint8_t sizes = 0;
    if (!at(k, block.productCode) || !at(k + 1, block.bootloaderType) || !at(k + 2, block.pageSizeCode) ||
        !at(k + 3, sizes)) {
        return false;
    }
    block.packetSizeCode = static_cast<std::uint8_t>(sizes >> 4);
    block.bufferSizeCode = static_cast<std::uint8_t>(sizes & 0x0F);
    if (!at(k + 4, block.crcType)) {
        return false;
    }
    if (isBootloader) {
        return address(10, block.appStart) && address(13, block.appEnd);
    }
    if (bytes.size() < 10 || !block.version.pack(bytes.subspan(6, 4))) {
        return false;
    }
    std::uint8_t low = 0;
    std::uint8_t high = 0;
    if (!at(10, low) || !at(11, high)) {
        return false;
    }
    block.serialNo = static_cast<std::uint16_t>(low | high << 8);
    return true;
}

InfoBlock TargetInfoReply::emptyBlock(const InfoBlockType& type) {
    InfoBlock block;
    block.type = type;
    return block;
}

system::ErrorCode TargetInfoReply::decode(std::span<const std::uint8_t> reply, InfoBlock& bootloaderBlock,
                                          InfoBlock& targetBlock) {
    bootloaderBlock = emptyBlock(InfoBlockType::BootloaderInfoBlock);
    targetBlock = emptyBlock(InfoBlockType::TargetInfoBlock);
    if (reply.empty()) {
        log(LogVerbosity::Error, kDecodeContext, L"The info reply is empty.");
        return system::ERROR_GEN_FAILURE;
    }
    if (const ResponseCode& code = ResponseCode::fromByte(reply[0]); code != ResponseCode::Ok) {
        log(LogVerbosity::Error, kDecodeContext, L"The info reply begins with [0x%02X]-[%ls] instead of OK.",
            unsigned{reply[0]}, code.name().c_str());
        return system::ERROR_GEN_FAILURE;
    }
    const std::span<const std::uint8_t> blocks = reply.subspan(1);

    // A block is decoded from its own bytes only: a length byte too small for the
    // fields must not pull them out of the block that follows.
    const auto bootloaderBytes = blockAt(blocks, 0);
    InfoBlock decoded = emptyBlock(InfoBlockType::BootloaderInfoBlock);
    if (!parseInfoBlock(bootloaderBytes, decoded)) {
        log(LogVerbosity::Error, kDecodeContext,
            L"The bootloader info block cannot be decoded: its length byte is %d, %d bytes arrived, "
            L"%d are needed.",
            blocks.empty() ? 0 : int{blocks[0]}, static_cast<int>(blocks.size()),
            static_cast<int>(kBootloaderBlockSize));
        return system::ERROR_GEN_FAILURE;
    }
    bootloaderBlock = decoded;
    dump(bootloaderBlock);

    const std::size_t targetOffset = bootloaderBlock.length;
    const auto targetBytes = blockAt(blocks, targetOffset);
    decoded = emptyBlock(InfoBlockType::TargetInfoBlock);
    if (parseInfoBlock(targetBytes, decoded)) {
        targetBlock = decoded;
        dump(targetBlock);
    } else if (targetOffset < blocks.size() && blocks[targetOffset] != 0) {
        log(LogVerbosity::Warning, kDecodeContext,
            L"The application info block cannot be decoded (length byte %d, %d bytes arrived); no "
            L"application is "
            L"assumed.",
            int{blocks[targetOffset]}, static_cast<int>(blocks.size() - targetOffset));
    }
    return system::ERROR_SUCCESS;
}

} // namespace bootloader
