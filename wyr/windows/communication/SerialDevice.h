#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/communication/CommDefinitions.h"
#include "wyr/windows/system/Descriptor.h"
#include "wyr/windows/system/SystemError.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace wyr::windows::system {
class Event;
}

namespace wyr::windows::communication {

class SerialDevice;

// An open port as its owners pass it around: whoever holds it may use it, and
// close() ends it for every holder (their operations then fail with 6).
using PortHandle = std::shared_ptr<SerialDevice>;

// An open tty and the state a serial driver keeps beside it: queue sizes, line
// settings the tty cannot hold (event character, DSR and DTR handshake modes),
// read time-outs, the comm-event mask with its pending events, and the line errors
// not yet cleared. Keeping that state with the descriptor rather than with a
// Serial lets an open port change owner without losing received bytes or settings.
//
// Comm events are emulated on the descriptor. EV_RXCHAR is level-triggered: it is
// reported while received bytes wait to be read. EV_RXFLAG is reported when the
// event character is among bytes that arrived since the last look; to see them the
// port takes received bytes into its own receive buffer (at most the input queue
// size; the rest stays in the kernel until a read makes room). EV_TXEMPTY is
// reported once the output queue has drained after a write. EV_ERR, EV_BREAK and
// the modem-line events come from the driver's counters and line status where the
// hardware has them (pseudo-terminals have none). A hang-up fails the wait.
//
// Every call is non-blocking; Serial does the waiting. The methods may be called
// from several threads at once, but not together with close().
class SerialDevice : private memory::NonCopyable {
public:
    // Opens a serial device for exclusive use: O_RDWR | O_NOCTTY | O_NONBLOCK |
    // O_CLOEXEC, flock and TIOCEXCL (a port in use gives ERROR_SHARING_VIOLATION),
    // raw mode with CLOCAL | CREAD and without HUPCL, so that neither this open nor
    // the close drops DTR/RTS. On failure `port` stays empty.
    static system::ErrorCode open(const std::string& path, PortHandle& port);

    ~SerialDevice();

    // Lets the output drain for as long as the line needs to send it (bounded),
    // gives up the exclusive claim and closes the descriptor. Idempotent.
    void close() noexcept;

    bool isOpen() const noexcept;
    int descriptor() const noexcept;
    const std::string& path() const noexcept { return _path; }

    system::ErrorCode setupComm(std::uint32_t inQueue, std::uint32_t outQueue);
    system::ErrorCode getCommState(DCB& dcb);
    system::ErrorCode setCommState(const DCB& dcb);
    system::ErrorCode getCommMask(std::uint32_t& mask);
    // Clears the pending events and completes a pending comm wait with no events.
    system::ErrorCode setCommMask(std::uint32_t mask);
    system::ErrorCode getCommTimeouts(COMMTIMEOUTS& timeouts);
    system::ErrorCode setCommTimeouts(const COMMTIMEOUTS& timeouts);
    // PURGE_TXCLEAR and PURGE_RXCLEAR discard the queues. Nothing waits inside the
    // port, so the abort flags have nothing to abort.
    system::ErrorCode purgeComm(std::uint32_t flags);
    // Returns and clears the CE_* errors seen since the last call; either pointer
    // may be null. Fails once the line has hung up.
    system::ErrorCode clearCommError(std::uint32_t* errors, COMSTAT* status);

    // The comm-event wait. start returns 0 with the events when some are ready,
    // ERROR_IO_PENDING when the caller has to wait, or the failure. While pending,
    // `notify` is set whenever something the descriptor does not show may have
    // completed the wait (a write ended, the mask changed); the caller then waits
    // on the descriptor for commWaitEvents(), on `notify`, and at most
    // commWaitPollInterval() ms, and calls check after each wake-up. end (always
    // called) forgets `notify`.
    system::ErrorCode startCommWait(std::uint32_t& events, system::Event* notify);
    system::ErrorCode checkCommWait(std::uint32_t& events);
    void endCommWait() noexcept;
    short commWaitEvents() const;
    std::uint32_t commWaitPollInterval() const;

    // Reads up to `length` bytes of what has arrived. Returns 0 when the request is
    // complete: at once with what is there when reads do not block (read interval
    // MAXDWORD), else once `length` bytes came; ERROR_IO_PENDING when a blocking
    // read has to wait for more (`transferred` says how many it got); or the
    // failure (a hang-up included).
    system::ErrorCode readFile(std::uint8_t* buffer, std::size_t length, std::size_t& transferred);

    // A write is framed by begin and end so that EV_TXEMPTY waits for its end.
    // writeFile hands over what the output queue takes now: 0 when everything
    // went, ERROR_IO_PENDING when the queue is full (`written` says how much went),
    // or the failure.
    void beginWrite();
    system::ErrorCode writeFile(const std::uint8_t* data, std::size_t length, std::size_t& written);
    void endWrite(bool wroteAny);

private:
    SerialDevice(system::Descriptor fd, std::string path);

    bool lineLostLocked() const;
    bool bytesWaitingLocked();
    void pullInputLocked();
    void sampleLinesLocked();
    std::uint32_t collectEventsLocked();
    void notifyWaiterLocked();
    system::ErrorCode queueLengthsLocked(std::uint32_t& in, std::uint32_t& out);
    system::ErrorCode checkOpenLocked() const;

    struct LineCounters {
        int frame = 0;
        int overrun = 0;
        int parity = 0;
        int brk = 0;
        int bufferOverrun = 0;
    };

    mutable std::mutex _lock;
    system::Descriptor _fd;
    const std::string _path;

    std::size_t _inQueueSize = 4096;
    std::deque<std::uint8_t> _received;

    // Line settings a tty does not keep.
    char _eventChar = 0;
    bool _outxCtsFlow = false;
    bool _outxDsrFlow = false;
    std::uint8_t _dtrControl = DTR_CONTROL_ENABLE;
    std::uint8_t _rtsControl = RTS_CONTROL_ENABLE;
    COMMTIMEOUTS _timeouts;

    std::uint32_t _mask = 0;
    std::uint32_t _pendingEvents = 0;
    std::uint64_t _maskGeneration = 0;
    std::uint64_t _waitGeneration = 0;
    system::Event* _waitNotify = nullptr;

    bool _txPending = false;
    int _writesInProgress = 0;

    std::uint32_t _commErrors = 0;
    bool _haveCounters = false;
    LineCounters _counters;
    bool _haveModemLines = false;
    int _modemLines = 0;
};

} // namespace wyr::windows::communication
