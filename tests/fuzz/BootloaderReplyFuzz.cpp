// Feeds arbitrary bytes to the decoding of the bootloader's info reply, as the
// exchange would collect them, and checks that the reply either decodes into
// consistent blocks or fails with 31 leaving nothing half-decoded.
#include "bootloader/BootloaderImpl.h"
#include "bootloader/ResponseCode.h"
#include "bootloader/TargetInfoReply.h"
#include "wyr/windows/logging/LogBeacon.h"

#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

using bootloader::InfoBlock;
using bootloader::InfoBlockType;
using bootloader::TargetInfoReply;

constexpr std::uint32_t kGeneralFailure = 31;

// A listener that takes every verbosity, so that every log line is formatted.
void setUpLogging() {
    static const bool done = [] {
        wyr::windows::logging::LogBeacon::instance().connect([](const wyr::windows::logging::LogVerbosity&,
                                                                wyr::windows::system::SYSTEMTIME,
                                                                const wchar_t*, const wchar_t*) {},
                                                             0xFFFF);
        return true;
    }();
    (void)done;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Where the exchange would stop reading: the first prefix that holds what it needs.
std::size_t replyEnd(std::span<const std::uint8_t> data, std::size_t& needed) {
    for (std::size_t held = 0; held <= data.size(); ++held) {
        needed = TargetInfoReply::requiredInfoLength(data.first(held));
        check(needed >= 2 && needed <= 1 + 255 + 255);
        if (held >= needed) {
            return held;
        }
    }
    return data.size() + 1; // the reply never completes
}

void checkBlock(std::span<const std::uint8_t> bytes, const InfoBlockType& type, std::size_t fieldsEnd) {
    InfoBlock block = TargetInfoReply::emptyBlock(type);
    if (TargetInfoReply::parseInfoBlock(bytes, block)) {
        check(bytes.size() >= fieldsEnd && block.length == bytes[0] && block.length != 0);
        check(block.packetSizeCode < 16 && block.bufferSizeCode < 16);
        check(block.appStart <= 0xFFFFFF && block.appEnd <= 0xFFFFFF);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setUpLogging();
    const std::span<const std::uint8_t> input(data, size);

    checkBlock(input, InfoBlockType::BootloaderInfoBlock, TargetInfoReply::kBootloaderBlockSize);
    checkBlock(input, InfoBlockType::TargetInfoBlock, TargetInfoReply::kTargetBlockSize);
    InfoBlock other = TargetInfoReply::emptyBlock(InfoBlockType::SourceInfoBlock);
    check(!TargetInfoReply::parseInfoBlock(input, other));

    std::size_t needed = 0;
    const std::size_t end = replyEnd(input, needed);
    if (end <= size) {
        // Bytes that arrive after the reply is complete do not change its length.
        for (std::size_t held = end; held <= size; ++held) {
            check(TargetInfoReply::requiredInfoLength(input.first(held)) == needed);
        }
    }

    // Decode the reply as collected (or all there is, when it never completed),
    // and with whatever else came along with it.
    for (const std::size_t length : {std::min(end, size), size}) {
        InfoBlock boot;
        InfoBlock target;
        const std::span<const std::uint8_t> reply = input.first(length);
        const std::uint32_t result = TargetInfoReply::decode(reply, boot, target);
        check(boot.type == InfoBlockType::BootloaderInfoBlock &&
              target.type == InfoBlockType::TargetInfoBlock);
        if (result == 0) {
            check(reply[0] == bootloader::ResponseCode::Ok.value());
            check(boot.length >= TargetInfoReply::kBootloaderBlockSize && boot.length == reply[1]);
            check(target.length == 0 || (target.length >= TargetInfoReply::kTargetBlockSize &&
                                         1U + boot.length + target.length <= reply.size()));
        } else {
            check(result == kGeneralFailure && boot.length == 0 && target.length == 0);
        }
    }

    check(wyr::windows::logging::hexBytes(input.first(std::min<std::size_t>(size, 64))).size() ==
          (size == 0 ? 0 : std::min<std::size_t>(size, 64) * 5 - 1));
    wyr::windows::logging::LogBeacon::instance().flush();
    return 0;
}
