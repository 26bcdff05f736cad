#pragma once

#include "bootloader/BootloaderBroadcastWnd.h"
#include "bootloader/BootloaderInterface.h"
#include "bootloader/BootloaderNotification.h"
#include "bootloader/BootloaderThread.h"
#include "bootloader/InfoBlock.h"
#include "bootloader/IntelHexFile.h"
#include "bootloader/ResponseCode.h"
#include "bootloader/TargetCommand.h"
#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/communication/Serial.h"
#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/threading/ThreadImpl.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bootloader {

// The firmware update behind BootloaderInterface: the broadcast window, the
// bootloader thread, the port, the step reached, the image and the two info blocks
// the bootloader reported.
//
// Threads: the interface operations belong to the user-interface thread (the one
// that constructs the object, which then owns the broadcast window). Everything
// below "bootloader thread" runs on the bootloader thread, one request at a time;
// a test may call it on its own thread instead while no bootloader thread runs.
//
// The conversation with the bootloader is one command frame out, a response back
// whose first byte is a response code. Each receive waits at most
// kReceiveTimeoutMs for the port's receive event, so a silent bootloader ends an
// exchange with 1460; the single exchanges retry nothing, the programming
// procedures retry once where the update allows it. Results are platform error
// numbers, 0 for success.
class BootloaderImpl : public BootloaderInterface, private wyr::memory::NonCopyable {
public:
    using ErrorCode = wyr::windows::system::ErrorCode;
    using Bytes = std::vector<std::uint8_t>;

    static constexpr std::uint32_t kReceiveTimeoutMs = 4000;
    static constexpr std::uint32_t kInfoPollMs = 200;
    static constexpr std::uint32_t kChecksumPauseMs = 200;
    static constexpr std::uint32_t kErasePauseMs = 5;
    static constexpr std::uint32_t kLinePauseMs = 5;
    static constexpr std::uint32_t kThreadShutdownMs = 2000;

    // The one instance, made on first use (on the user-interface thread) and
    // destroyed at program exit.
    static BootloaderImpl* init();

    // On the user-interface thread, which then owns the broadcast window.
    BootloaderImpl();
    // Finalizes when the owner did not.
    ~BootloaderImpl() override;

    // BootloaderInterface
    ErrorCode initialize(wyr::windows::communication::PortHandle port, BootloaderEntry entry) override;
    void finalize() override;
    boost::signals2::connection connect(const Callback& callback) override;
    void enterBootloadMode() override;
    void cancelBootloadMode() override;
    void getTargetInfo() override;
    void loadFile(const std::wstring& path) override;
    void eraseTarget() override;
    void writeTarget() override;
    void resetTarget() override;
    ErrorCode setSerialNumber(std::uint16_t serial) override;
    bool getInfoBlock(const InfoBlockType& type, InfoBlock& out) const override;
    BootloaderNotifyType getState() const override;

    // Any thread: posts a record to the broadcast window, which then owns it. When
    // that fails the record is freed here and the failure logged.
    void notify(tagBLNHDR* record);

    // The port the exchanges use; initialize attaches it, tests may open it.
    wyr::windows::communication::Serial& serial() noexcept { return _serial; }
    BootloaderBroadcastWnd& broadcastWnd() noexcept { return _broadcast; }
    wyr::windows::system::threading::ThreadImpl<BootloaderThread>& thread() noexcept { return _thread; }
    const IntelHexFile& image() const noexcept { return _image; }

    // An event (the worker's stop event) that cuts every wait and pause short with
    // 1223; none by default.
    void setAbortEvent(wyr::windows::system::Event* abort) noexcept { _abort = abort; }
    // Any thread: the erase or write under way ends before its next page or block
    // with 1223, as a failure that signs nothing. Until the next initialize.
    void requestStop() noexcept { _stopRequested.store(true); }
    bool stopRequested() const noexcept { return _stopRequested.load(); }

    // How the device reached its bootloader; initialize sets it, tests that open
    // the port themselves may set it. Found in its bootloader until told otherwise.
    void setEntry(BootloaderEntry entry) noexcept { _entry = entry; }
    BootloaderEntry entry() const noexcept { return _entry; }

    // The blocks of the last TGT_CMD_GET_INFO; empty until one succeeds.
    const InfoBlock& bootloaderInfoBlock() const noexcept { return _bootloaderInfo; }
    const InfoBlock& targetInfoBlock() const noexcept { return _targetInfo; }
    // Empties both blocks, keeping their types.
    void resetInfoBlocks();

    // ---- bootloader thread: the requests, each ending with its notification ----
    void _enterBootloadMode();
    void _cancelBootloadMode();
    void _getTargetInfo();
    void _loadFile(const std::wstring& path);
    void _eraseTarget();
    void _writeTarget();
    void _resetTarget();

    // ---- bootloader thread: flash programming ----
    // Erases the last page of the application area (it holds the application's
    // info block); reports "Erase Target" Initiated with the page count of the area.
    ErrorCode eraseSignature();
    // Erases the application area page by page, reporting each page, then
    // "Erase Target" Completed. On success the step becomes *advanceTo (when given)
    // before that record goes out, so that its receiver reads the new step.
    ErrorCode eraseFlash(const BootloaderNotifyType* advanceTo = nullptr);
    // Writes and checks every page of the image: "Write Target" Initiated, Running
    // per block, Completed. A page that fails is erased and written once more; one
    // that fails its checksum is written once more.
    ErrorCode writeFlash();
    // Writes page `index` of the image at `address` block by block, each block
    // retried once; reports each block.
    bool writePage(std::uint32_t index, std::uint32_t address, std::span<const std::uint8_t> page);
    // Writes the application signature and reports "Write Target" Completed.
    ErrorCode writeSignature();

    // ---- bootloader thread: the single exchanges ----
    // Sends a frame and waits until it has left the port; `name` is for the log.
    ErrorCode sendBytes(const std::wstring& name, std::span<const std::uint8_t> bytes);
    ErrorCode sendCommand(const TargetCommand& command);
    // One receive: what the port holds once its receive event arrives.
    ErrorCode readBytes(Bytes& out);
    // Receives until at least `needed` bytes arrived; `out` keeps what came, also
    // when a receive fails.
    ErrorCode waitForResponse(Bytes& out, std::size_t needed);

    ErrorCode enterBootloadModeExchange();
    ErrorCode getTargetInfoExchange();
    ErrorCode resetTargetExchange();
    bool erasePage(std::uint32_t address);
    ErrorCode writeBlock(std::uint32_t address, std::span<const std::uint8_t> data);
    bool verifyPageCRC(std::uint32_t address, std::span<const std::uint8_t> page);
    ErrorCode writeSignatureExchange();

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

    // Nothing is erased or written unless the bootloader reported an application
    // area of whole pages: 0, 21 without a bootloader block, 13 for sizes that
    // cannot be programmed.
    ErrorCode checkApplicationArea(const char* context) const;
    // The loaded image must fit the bootloader's pages and blocks and lie inside
    // its application area: 0, 21 without an image, 13 otherwise.
    ErrorCode checkImage(const char* context) const;
    // Pages of the application area, counted the way progress reports them.
    std::uint32_t areaPageCount() const;
    void setStep(const BootloaderNotifyType& step) noexcept { _step.store(step.value()); }
    // Logs a failed request's result, or advances the step, then posts its record.
    void complete(tagBLNHDR* record, const char* context, const wchar_t* failureFormat,
                  const BootloaderNotifyType& step);

    BootloaderBroadcastWnd _broadcast;
    wyr::windows::communication::Serial _serial;
    wyr::windows::system::Event* _abort = nullptr;
    InfoBlock _bootloaderInfo;
    InfoBlock _targetInfo;
    IntelHexFile _image;
    std::atomic<int> _step;
    // Set once this update erased or wrote any flash: the application the
    // bootloader reported may be gone, so its signature must not be restored.
    bool _flashModified = false;
    BootloaderEntry _entry = BootloaderEntry::FoundInBootloader;
    std::atomic<bool> _stopRequested{false};
    // Last: it is stopped before the members its worker uses go away.
    wyr::windows::system::threading::ThreadImpl<BootloaderThread> _thread;
};

} // namespace bootloader
