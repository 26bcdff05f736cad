#pragma once

#include "bootloader/ResponseCode.h"
#include "bootloader/TargetCommand.h"
#include "sim/EmulatedFlash.h"
#include "sim/InstrumentSettings.h"
#include "wyr/memory/NonCopyable.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

// The device side of the bootloader's wire protocol, serving an emulated flash.
// Bytes from the line go in through onBytes(); each complete frame is answered
// through the reply hook, with the response code first. A frame that stalls half
// way is forgotten after a pause, so a host that gave up cannot leave a fragment
// that swallows its next command.
//
// Rules the bootloader enforces: commands that change flash must carry the key
// bytes (Invalid Parameter otherwise); erase and checksum addresses must be page
// starts inside the application area, and a block must lie inside it (Address
// Invalid); a block must be 1 to 2^bufferSizeCode bytes long (Invalid Parameter);
// while the application is signed, only its signature page may be erased and
// nothing written (Signature Not Erased), so an update always withdraws the
// signature before it touches the application.
class SimulatedBootloader : private wyr::memory::NonCopyable {
public:
    using Bytes = std::vector<std::uint8_t>;
    using Clock = std::chrono::steady_clock;

    struct Hooks {
        std::function<void(const Bytes&)> reply;
        std::function<void()> reset;  // after TGT_CMD_RESET_MCU has been answered
        std::function<void()> unplug; // the line drops (an injected fault)
    };

    // A stalled frame is dropped after this much silence.
    static constexpr std::chrono::milliseconds kFrameGap{1000};

    // Why the settings cannot describe a device, or empty when they can.
    static std::string settingsProblem(const BootloaderSettings& settings);

    // The settings must pass settingsProblem(); the flash must have their geometry.
    SimulatedBootloader(const BootloaderSettings& settings, const FaultSettings& faults, EmulatedFlash& flash,
                        Hooks hooks, std::function<Clock::time_point()> now = Clock::now);

    void onBytes(std::span<const std::uint8_t> bytes);
    // Forgets any half-received frame, as a restart does; the fault counts go on.
    void restart();

    // The bootloader's own info block as it follows the code of the info reply.
    Bytes bootloaderBlock() const;
    // The application's info block, read from the top of the application area
    // downwards as its length byte says; empty when that byte shows no block.
    Bytes applicationBlock() const;
    // Whether a reset starts the application: it is signed and its info block decodes.
    bool applicationValid() const;

    unsigned blocksWritten() const noexcept { return _blocksWritten; }

private:
    struct PendingBlock {
        std::uint32_t address = 0;
        std::size_t length = 0;
    };

    const bootloader::TargetCommand* commandFor(std::uint8_t code) const;
    void takeByte(std::uint8_t byte);
    void onFrame(const bootloader::TargetCommand& command);
    void onBlockData();
    void answer(const bootloader::ResponseCode& code);
    void send(const Bytes& bytes);
    bool keyValid() const;
    std::uint32_t frameAddress(std::size_t offset) const;

    void getInfo();
    void erasePage();
    void writeSignature();
    void getPageCrc();
    void writeHeader();

    const BootloaderSettings _settings;
    const FaultSettings _faults;
    EmulatedFlash& _flash;
    const Hooks _hooks;
    const std::function<Clock::time_point()> _now;

    Bytes _frame;
    std::size_t _frameLength = 0;
    const bootloader::TargetCommand* _command = nullptr;
    std::optional<PendingBlock> _pending;
    Clock::time_point _lastActivity;

    unsigned _crcReplies = 0;
    unsigned _blocksReceived = 0;
    unsigned _blocksWritten = 0;
};

} // namespace sim
