#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/communication/BlockingMode.h"
#include "wyr/windows/communication/CommDefinitions.h"
#include "wyr/windows/communication/FlowControl.h"
#include "wyr/windows/communication/Parity.h"
#include "wyr/windows/communication/SerialDevice.h"
#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/Mutex.h"
#include "wyr/windows/system/SystemError.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wyr::windows::communication {

// The serial port object: opens a port, applies line settings, and offers four
// blocking operations (wait for a line event, read what is queued, write a buffer,
// purge), each bounded by a time-out and cut short by the caller's abort event.
// Every operation returns a result code (0 = success) and logs its progress.
//
// One reader (waitCommEvent, readPort) and any number of writers may use a Serial
// at the same time. Writers of all Serial objects share one lock, the named mutex
// "write mutex". open, close and the settings belong to the owner, not to be
// called while operations run.
class Serial : private memory::NonCopyable {
public:
    static constexpr std::uint32_t kQueueSize = 2048;
    static constexpr std::uint32_t kReadChunk = 1024;

    Serial() = default;
    ~Serial();

    // `path` is a device path, or a port name ("\\.\COM7", "COM7") resolved
    // through the PortMap of the environment.
    system::ErrorCode open(const std::wstring& path);
    // Closes the port and every handle the object made; always 0.
    system::ErrorCode close();
    // Creates the operations' events and opens "write mutex".
    system::ErrorCode initialize();

    system::ErrorCode configure(std::uint32_t baudRate, const Parity& parity, std::uint8_t dataBits,
                                std::uint8_t stopBits);
    system::ErrorCode setFlowControl(const FlowControl& flowControl);
    system::ErrorCode setCommMask(std::uint32_t mask);
    system::ErrorCode setEventChar(char eventChar);
    system::ErrorCode setBlockingMode(const BlockingMode& mode);
    system::ErrorCode purgeBuffers();

    // A time-out ends the wait with 1460 (ERROR_TIMEOUT). `routineTimeout`: the caller
    // uses the time-out to wake itself, so it is logged at Debug Level 4, not as an error.
    system::ErrorCode waitCommEvent(std::uint32_t& mask, system::Event* abort, std::uint32_t timeoutMs,
                                    bool routineTimeout = false);
    system::ErrorCode readPort(std::vector<std::uint8_t>& bytes, system::Event* abort,
                               std::uint32_t timeoutMs);
    system::ErrorCode writePort(const std::uint8_t* data, std::uint32_t length, std::uint32_t timeoutMs,
                                system::Event* abort);

    // Handing an open port to another owner: the giver detaches the handle (it no
    // longer closes it); the taker stores it, sets the overlapped flag and calls
    // initialize. Storing a handle closes the one held before.
    const PortHandle& handle() const noexcept { return _port; }
    void setHandle(PortHandle port);
    PortHandle detachHandle() noexcept;
    bool overlapped() const noexcept { return _overlapped; }
    void setOverlapped(bool overlapped) noexcept { _overlapped = overlapped; }
    bool isOpen() const noexcept { return _port && _port->isOpen(); }

    // Not signalled while a write is under way; null while closed.
    system::Event* writeIdleEvent() const noexcept { return _writeIdle.get(); }

private:
    bool ready() const noexcept;
    system::ErrorCode pendingCommWait(std::uint32_t& events, system::Event* abort, std::uint32_t timeoutMs,
                                      bool routineTimeout);
    system::ErrorCode readFailed(system::ErrorCode error);

    PortHandle _port;
    bool _overlapped = false;
    std::unique_ptr<system::Event> _overlappedWait; // event-wait record: a pending comm wait's notification
    std::unique_ptr<system::Event> _overlappedRead; // read record: set when a read request completes
    std::unique_ptr<system::Mutex> _write_lock;
    std::unique_ptr<system::Event> _overlapped_write; // set when a write completes
    std::unique_ptr<system::Event> _writeIdle;
};

} // namespace wyr::windows::communication
