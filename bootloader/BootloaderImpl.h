#pragma once

#include "bootloader/InfoBlock.h"
#include "bootloader/ResponseCode.h"
#include "bootloader/TargetCommand.h"
#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/communication/Serial.h"
#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/SystemError.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bootloader {

// The firmware updater's side of the bootloader conversation: one command frame
// out, a response back whose first byte is a response code. Every exchange runs on
// the bootloader worker thread, one at a time, over the port attached to serial().
//
// Each receive waits at most kReceiveTimeoutMs for the port's receive event, so a
// silent bootloader ends an exchange with 1460; nothing is retried here. Results
// are platform error numbers, 0 for success.
class BootloaderImpl : private wyr::memory::NonCopyable {
public:
    using ErrorCode = wyr::windows::system::ErrorCode;
    using Bytes = std::vector<std::uint8_t>;

    static constexpr std::uint32_t kReceiveTimeoutMs = 4000;
    static constexpr std::uint32_t kInfoPollMs = 200;
    static constexpr std::uint32_t kChecksumPauseMs = 200;

    BootloaderImpl();
    ~BootloaderImpl();

    // The port the exchanges use; its owner opens or attaches it.
    wyr::windows::communication::Serial& serial() noexcept { return _serial; }

    // An event (the worker's stop event) that cuts every wait and pause short with
    // 1223; none by default.
    void setAbortEvent(wyr::windows::system::Event* abort) noexcept { _abort = abort; }

    // The blocks of the last TGT_CMD_GET_INFO; empty until one succeeds.
    const InfoBlock& bootloaderInfoBlock() const noexcept { return _bootloaderInfo; }
    const InfoBlock& targetInfoBlock() const noexcept { return _targetInfo; }
    // Empties both blocks, keeping their types.
    void resetInfoBlocks();

    // Sends a frame and waits until it has left the port; `name` is for the log.
    ErrorCode sendBytes(const std::wstring& name, std::span<const std::uint8_t> bytes);
    ErrorCode sendCommand(const TargetCommand& command);
    // One receive: what the port holds once its receive event arrives.
    ErrorCode readBytes(Bytes& out);
    // Receives until at least `needed` bytes arrived; `out` keeps what came, also
    // when a receive fails.
    ErrorCode waitForResponse(Bytes& out, std::size_t needed);

    // The single exchanges.
    ErrorCode enterBootloadModeExchange();
    ErrorCode getTargetInfoExchange();
    ErrorCode resetTargetExchange();
    bool erasePage(std::uint32_t address);
    ErrorCode writeBlock(std::uint32_t address, std::span<const std::uint8_t> data);
    bool verifyPageCRC(std::uint32_t address, std::span<const std::uint8_t> page);
    ErrorCode writeSignature();

    // "0x%.2X" per byte, separated by one space.
    static std::wstring formatHexBytes(std::span<const std::uint8_t> bytes);

private:
    // The common end of every fixed-length exchange: the first byte must be
    // `expected`. An empty response, or another code, gives `failure`.
    ErrorCode checkResponse(const TargetCommand& command, const Bytes& response, const ResponseCode& expected,
                            ErrorCode failure);
    // Sends a frame and checks its one-byte answer against `expected`.
    ErrorCode exchange(const TargetCommand& command, std::span<const std::uint8_t> frame,
                       const ResponseCode& expected);
    // The protocol's own pauses; the abort event ends them early with 1223.
    ErrorCode pause(std::uint32_t ms);

    wyr::windows::communication::Serial _serial;
    wyr::windows::system::Event* _abort = nullptr;
    InfoBlock _bootloaderInfo;
    InfoBlock _targetInfo;
};

} // namespace bootloader
