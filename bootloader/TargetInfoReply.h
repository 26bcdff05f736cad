#pragma once

#include "bootloader/InfoBlock.h"
#include "wyr/windows/system/SystemError.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace bootloader {

// The reply to TGT_CMD_GET_INFO: a response code, the bootloader's info block and
// the application's info block, each led by its own length byte. The reply says
// its own length, so it is read until requiredInfoLength() is reached.
class TargetInfoReply {
public:
    using ErrorCode = wyr::windows::system::ErrorCode;

    // Field offsets end here: a block shorter than this cannot hold all its fields.
    static constexpr std::size_t kBootloaderBlockSize = 16;
    static constexpr std::size_t kTargetBlockSize = 12;

    // How many bytes the whole reply needs, judged from what has arrived: 1 + L + T
    // with L and T the two blocks' length bytes, each counted as 1 until it has
    // arrived (and T also while it says 0, since its own byte is still needed).
    static std::size_t requiredInfoLength(std::span<const std::uint8_t> reply) noexcept;

    // Decodes one block from its bytes into `block`, whose type the caller has set
    // to BootloaderInfoBlock or TargetInfoBlock. Fails on any other type, a zero
    // length byte or a field beyond the bytes given; the block then keeps the fields
    // decoded before the failure.
    static bool parseInfoBlock(std::span<const std::uint8_t> bytes, InfoBlock& block) noexcept;

    // Decodes a complete reply. 0 with both blocks filled, or 31 when the response
    // code is not OK or the bootloader block cannot be decoded. Each block is read
    // only from its own bytes, as its length byte gives them, and only when all of
    // them arrived. An application block that is absent or cannot be decoded is no
    // failure: it comes back empty (length 0), which means no application is present.
    static ErrorCode decode(std::span<const std::uint8_t> reply, InfoBlock& bootloaderBlock,
                            InfoBlock& targetBlock);

    // An empty block of the given type.
    static InfoBlock emptyBlock(const InfoBlockType& type);
};

} // namespace bootloader
