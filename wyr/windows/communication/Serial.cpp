#include "wyr/windows/communication/Serial.h"

#include "wyr/windows/communication/PortMap.h"
#include "wyr/windows/communication/PortWaitable.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/Wait.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <span>
#include <utility>

namespace wyr::windows::communication {

using logging::log;
using logging::logSystemError;
using logging::LogVerbosity;
using logging::trace;
using system::ErrorCode;
using system::WaitableObject;

namespace {

constexpr const char* kOpenContext = "wyr::windows::communication::Serial::open";
constexpr const char* kInitializeContext = "wyr::windows::communication::Serial::initialize";
constexpr const char* kPurgeContext = "wyr::windows::communication::Serial::purgeBuffers";
constexpr const char* kWaitContext = "wyr::windows::communication::Serial::waitCommEvent";
constexpr const char* kReadContext = "wyr::windows::communication::Serial::readPort";
constexpr const char* kWriteContext = "wyr::windows::communication::Serial::writePort";

constexpr const wchar_t* kMultipleLabel = L"::WaitForMultipleObjects()";
constexpr const wchar_t* kSingleLabel = L"::WaitForSingleObject()";
constexpr const wchar_t* kNoOverlapped = L"Timeouts are not supported when overlapped I/O is disabled (i.e. "
                                         L"File created without FILE_FLAG_OVERLAPPED.)";
constexpr const wchar_t* kAbortPolled = L"[abort] became signalled.  Abandoning operation.";
constexpr ErrorCode kWaitFailed = 0xFFFFFFFF;

void success(const char* context) {
    log(LogVerbosity::DebugLevel3, context, L"SUCCESS");
}

// One deadline for a whole operation: every wait gets what is left of it.
class Deadline {
public:
    explicit Deadline(std::uint32_t timeoutMs)
        : _infinite(timeoutMs == system::INFINITE),
          _end(std::chrono::steady_clock::now() + std::chrono::milliseconds(_infinite ? 0 : timeoutMs)) {}

    std::uint32_t remainingMs() const {
        if (_infinite) {
            return system::INFINITE;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(_end - std::chrono::steady_clock::now()).count();
        return left <= 0 ? 0 : static_cast<std::uint32_t>(std::min<long long>(left, system::INFINITE - 1));
    }
    bool expired() const { return !_infinite && std::chrono::steady_clock::now() >= _end; }

private:
    bool _infinite;
    std::chrono::steady_clock::time_point _end;
};

// The port first, then the abort event when there is one, then `extra`.
struct WaitSet {
    std::array<WaitableObject*, 3> objects{};
    std::size_t count = 0;
    std::uint32_t abortIndex = 0xFFFFFFFF;

    WaitSet(WaitableObject& port, system::Event* abort, WaitableObject* extra = nullptr) {
        objects[count++] = &port;
        if (abort != nullptr) {
            abortIndex = static_cast<std::uint32_t>(count);
            objects[count++] = abort;
        }
        if (extra != nullptr) {
            objects[count++] = extra;
        }
    }
    std::uint32_t wait(std::uint32_t timeoutMs) const {
        return system::waitForAny(std::span<WaitableObject* const>(objects.data(), count), timeoutMs);
    }
    bool isAbort(std::uint32_t result) const { return result == system::WAIT_OBJECT_0 + abortIndex; }
};

// Names the lowest known event bit, in the order of the bits.
const wchar_t* eventSuccessText(std::uint32_t mask) {
    static constexpr struct {
        std::uint32_t bit;
        const wchar_t* text;
    } kTexts[] = {
        {EV_RXCHAR, L"SUCCESS - result was EV_RXCHAR."},   {EV_RXFLAG, L"SUCCESS - result was EV_RXFLAG."},
        {EV_TXEMPTY, L"SUCCESS - result was EV_TXEMPTY."}, {EV_CTS, L"SUCCESS - result was EV_CTS."},
        {EV_DSR, L"SUCCESS - result was EV_DSR."},         {EV_RLSD, L"SUCCESS - result was EV_RLSD."},
        {EV_BREAK, L"SUCCESS - result was EV_BREAK."},     {EV_ERR, L"SUCCESS - result was EV_ERR."},
        {EV_RING, L"SUCCESS - result was EV_RING."},
    };
    for (const auto& entry : kTexts) {
        if ((mask & entry.bit) != 0) {
            return entry.text;
        }
    }
    return nullptr;
}

// A device path, or the path behind a port name.
bool resolvePath(const std::wstring& path, std::string& devicePath) {
    const unsigned port = PortMap::parsePortName(path);
    if (port == PortMap::kNoPort) {
        devicePath = system::toNarrow(path);
        return !devicePath.empty();
    }
    devicePath = PortMap::fromEnvironment().devicePathForPort(port);
    return !devicePath.empty();
}

} // namespace

Serial::~Serial() {
    close();
}

bool Serial::ready() const noexcept {
    return isOpen() && _overlappedWait && _overlappedRead && _write_lock && _overlapped_write && _writeIdle;
}

ErrorCode Serial::open(const std::wstring& path) {
    if (isOpen()) {
        return system::ERROR_ALREADY_INITIALIZED;
    }
    _overlapped = true;
    std::string devicePath;
    if (!resolvePath(path, devicePath)) {
        system::setLastError(system::ERROR_FILE_NOT_FOUND);
        return system::ERROR_FILE_NOT_FOUND;
    }
    PortHandle port;
    if (const ErrorCode error = SerialDevice::open(devicePath, port)) {
        if (error == system::ERROR_ACCESS_DENIED) {
            log(LogVerbosity::Error, kOpenContext,
                L"Access to [%ls] (%s) was denied. Serial ports belong to the 'dialout' group: add your user "
                L"to it "
                L"(sudo usermod -aG dialout $USER), then log out and in again.",
                path.c_str(), devicePath.c_str());
        }
        return error;
    }
    _port = std::move(port);

    ErrorCode error = _port->setupComm(kQueueSize, kQueueSize);
    if (error == system::ERROR_SUCCESS) {
        error = _port->setCommMask(EV_RXCHAR | EV_BREAK | EV_ERR);
    }
    if (error == system::ERROR_SUCCESS) {
        error = setBlockingMode(BlockingMode::NonBlocking);
    }
    if (error == system::ERROR_SUCCESS) {
        error = initialize();
    }
    if (error != system::ERROR_SUCCESS) {
        close();
        system::setLastError(error);
    }
    return error;
}

ErrorCode Serial::close() {
    if (_port) {
        _port->close();
        _port.reset();
    }
    _overlappedWait.reset();
    _overlappedRead.reset();
    _write_lock.reset();
    _overlapped_write.reset();
    _writeIdle.reset();
    return system::ERROR_SUCCESS;
}

ErrorCode Serial::initialize() {
    if (!isOpen()) {
        return system::ERROR_INVALID_HANDLE;
    }
    const auto failed = [](bool valid) {
        if (valid) {
            return false;
        }
        logSystemError(system::getLastError(), kInitializeContext);
        return true;
    };
    _overlappedWait = std::make_unique<system::Event>(system::Event::Reset::Manual);
    if (failed(_overlappedWait->valid())) {
        return system::getLastError();
    }
    _overlappedRead = std::make_unique<system::Event>(system::Event::Reset::Manual);
    if (failed(_overlappedRead->valid())) {
        return system::getLastError();
    }
    _write_lock = std::make_unique<system::Mutex>("write mutex", false);
    if (failed(_write_lock->valid())) {
        return system::getLastError();
    }
    _overlapped_write = std::make_unique<system::Event>(system::Event::Reset::Manual);
    if (failed(_overlapped_write->valid())) {
        return system::getLastError();
    }
    _writeIdle = std::make_unique<system::Event>(system::Event::Reset::Manual);
    if (failed(_writeIdle->valid())) {
        return system::getLastError();
    }
    success(kInitializeContext);
    return system::ERROR_SUCCESS;
}

void Serial::setHandle(PortHandle port) {
    if (_port && _port != port) {
        _port->close();
    }
    _port = std::move(port);
}

PortHandle Serial::detachHandle() noexcept {
    return std::exchange(_port, nullptr);
}

ErrorCode Serial::configure(std::uint32_t baudRate, const Parity& parity, std::uint8_t dataBits,
                            std::uint8_t stopBits) {
    if (!isOpen()) {
        return system::ERROR_INVALID_HANDLE;
    }
    DCB dcb;
    if (const ErrorCode error = _port->getCommState(dcb)) {
        return error;
    }
    dcb.BaudRate = baudRate;
    dcb.ByteSize = dataBits;
    dcb.Parity = static_cast<std::uint8_t>(parity.value());
    dcb.StopBits = stopBits;
    dcb.fParity = parity != Parity::None;
    return _port->setCommState(dcb);
}

ErrorCode Serial::setFlowControl(const FlowControl& flowControl) {
    if (!isOpen()) {
        return system::ERROR_INVALID_HANDLE;
    }
    DCB dcb;
    if (const ErrorCode error = _port->getCommState(dcb)) {
        return error;
    }
    const bool hardware = flowControl == FlowControl::Hardware;
    const bool software = flowControl == FlowControl::Software;
    dcb.fOutxCtsFlow = hardware;
    dcb.fOutxDsrFlow = hardware;
    dcb.fDtrControl = hardware ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    dcb.fOutX = software;
    dcb.fInX = software;
    return _port->setCommState(dcb);
}

ErrorCode Serial::setCommMask(std::uint32_t mask) {
    if (!isOpen()) {
        return system::ERROR_INVALID_HANDLE;
    }
    return _port->setCommMask(mask);
}

ErrorCode Serial::setEventChar(char eventChar) {
    if (!isOpen()) {
        return system::ERROR_INVALID_HANDLE;
    }
    DCB dcb;
    if (const ErrorCode error = _port->getCommState(dcb)) {
        return error;
    }
    dcb.EvtChar = eventChar;
    std::uint32_t mask = 0;
    if (_port->getCommMask(mask) == system::ERROR_SUCCESS) {
        _port->setCommMask(mask | EV_RXFLAG);
    }
    return _port->setCommState(dcb);
}

ErrorCode Serial::setBlockingMode(const BlockingMode& mode) {
    if (!isOpen()) {
        return system::ERROR_INVALID_HANDLE;
    }
    COMMTIMEOUTS timeouts;
    if (const ErrorCode error = _port->getCommTimeouts(timeouts)) {
        return error;
    }
    timeouts.ReadIntervalTimeout = mode == BlockingMode::Blocking ? 0 : MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    return _port->setCommTimeouts(timeouts);
}

ErrorCode Serial::purgeBuffers() {
    trace(kPurgeContext);
    if (!isOpen()) {
        return system::ERROR_INVALID_HANDLE;
    }
    if (const ErrorCode error = _port->purgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        log(LogVerbosity::Error, kPurgeContext, L"::PurgeComm() failed [%d].", error);
        logSystemError(error, kPurgeContext);
        return error;
    }
    success(kPurgeContext);
    return system::ERROR_SUCCESS;
}

ErrorCode Serial::waitCommEvent(std::uint32_t& mask, system::Event* abort, std::uint32_t timeoutMs,
                                bool routineTimeout) {
    trace(kWaitContext);
    if (!ready()) {
        return system::ERROR_INVALID_HANDLE;
    }
    if (!_overlapped && timeoutMs != system::INFINITE) {
        log(LogVerbosity::Error, kWaitContext, kNoOverlapped);
        return system::ERROR_INVALID_PARAMETER;
    }
    _overlappedWait->reset();
    std::uint32_t events = 0;
    ErrorCode result = _port->startCommWait(events, _overlappedWait.get());
    if (result == system::ERROR_IO_PENDING) {
        result = pendingCommWait(events, abort, timeoutMs, routineTimeout);
    } else if (result != system::ERROR_SUCCESS) {
        log(LogVerbosity::Error, kWaitContext, L"::WaitCommEvent() failed for an unknown reason [%d].",
            result);
        logSystemError(result, kWaitContext);
    }
    // Whatever ended the wait, the port no longer signals this object's event.
    _port->endCommWait();
    if (result == system::ERROR_SUCCESS) {
        mask = events;
        if (const wchar_t* text = eventSuccessText(events)) {
            log(LogVerbosity::DebugLevel3, kWaitContext, text);
        }
    }
    return result;
}

ErrorCode Serial::pendingCommWait(std::uint32_t& events, system::Event* abort, std::uint32_t timeoutMs,
                                  bool routineTimeout) {
    const wchar_t* label = abort != nullptr ? kMultipleLabel : kSingleLabel;
    const Deadline deadline(timeoutMs);
    for (;;) {
        PortWaitable port(_port->descriptor(), _port->commWaitEvents());
        const WaitSet set(port, abort, _overlappedWait.get());
        const std::uint32_t wait = set.wait(std::min(deadline.remainingMs(), _port->commWaitPollInterval()));
        if (set.isAbort(wait)) {
            log(LogVerbosity::DebugLevel2, kWaitContext, kAbortPolled);
            return system::ERROR_CANCELLED;
        }
        if (wait == system::WAIT_FAILED) {
            const ErrorCode error = system::getLastError();
            log(LogVerbosity::Error, kWaitContext, L"%ls failed (WAIT_FAILED) [%d].  Abandoning operation.",
                label, error);
            logSystemError(error, kWaitContext);
            return error;
        }
        if (wait != system::WAIT_TIMEOUT && wait >= system::WAIT_OBJECT_0 + set.count) {
            const ErrorCode error = system::getLastError();
            log(LogVerbosity::Error, kWaitContext,
                L"%ls failed for an unknown reason [%d].  Abandoning operation.", label, error);
            return error != system::ERROR_SUCCESS ? error : system::ERROR_GEN_FAILURE;
        }
        // The port, its notification or a polling interval woke us: look again.
        // The notification is reset first, so that one arriving meanwhile counts.
        _overlappedWait->reset();
        const ErrorCode result = _port->checkCommWait(events);
        if (result == system::ERROR_SUCCESS) {
            return result;
        }
        if (result != system::ERROR_IO_PENDING) {
            log(LogVerbosity::Error, kWaitContext, L"::WaitCommEvent() failed for an unknown reason [%d].",
                result);
            logSystemError(result, kWaitContext);
            return result;
        }
        if (wait == system::WAIT_TIMEOUT && deadline.expired()) {
            log(routineTimeout ? LogVerbosity::DebugLevel4 : LogVerbosity::Error, kWaitContext,
                L"%ls failed (WAIT_TIMEOUT).  Abandoning operation.", label);
            return system::ERROR_TIMEOUT;
        }
    }
}

ErrorCode Serial::readFailed(ErrorCode error) {
    log(LogVerbosity::Error, kReadContext, L"::ReadFile() failed for an unknown reason [%d].", error);
    logSystemError(error, kReadContext);
    log(LogVerbosity::Error, kReadContext, L"Purging the port.");
    purgeBuffers();
    return error;
}

ErrorCode Serial::readPort(std::vector<std::uint8_t>& bytes, system::Event* abort, std::uint32_t timeoutMs) {
    trace(kReadContext);
    if (!ready()) {
        return system::ERROR_INVALID_HANDLE;
    }
    if (!_overlapped && timeoutMs != system::INFINITE) {
        log(LogVerbosity::Error, kReadContext, kNoOverlapped);
        return system::ERROR_INVALID_PARAMETER;
    }
    COMSTAT status;
    if (const ErrorCode error = _port->clearCommError(nullptr, &status)) {
        log(LogVerbosity::Error, kReadContext, L"::ClearCommError() failed [%d].", error);
        logSystemError(error, kReadContext);
        return error;
    }
    log(LogVerbosity::DebugLevel2, kReadContext, L"Bytes in queue [%d].", status.cbInQue);

    const wchar_t* label = abort != nullptr ? kMultipleLabel : kSingleLabel;
    const Deadline deadline(timeoutMs);
    std::array<std::uint8_t, kReadChunk> buffer{};
    std::uint32_t remaining = status.cbInQue;
    while (remaining > 0) {
        if (abort != nullptr && system::waitForSingle(*abort, 0) == system::WAIT_OBJECT_0) {
            log(LogVerbosity::DebugLevel2, kReadContext, kAbortPolled);
            return system::ERROR_CANCELLED;
        }
        const std::size_t request = std::min<std::size_t>(remaining, kReadChunk);
        _overlappedRead->reset();
        std::size_t got = 0;
        ErrorCode result = _port->readFile(buffer.data(), request, got);
        // Bytes a cut-short request already took are handed over, not dropped.
        const auto keep = [&] {
            bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + static_cast<long>(got));
        };
        while (result == system::ERROR_IO_PENDING) {
            PortWaitable port(_port->descriptor(), POLLIN);
            const WaitSet set(port, abort);
            const std::uint32_t wait = set.wait(deadline.remainingMs());
            if (wait == system::WAIT_OBJECT_0) {
                std::size_t more = 0;
                result = _port->readFile(buffer.data() + got, request - got, more);
                got += more;
            } else if (set.isAbort(wait)) {
                keep();
                log(LogVerbosity::DebugLevel2, kReadContext,
                    L"%ls became signaled via [abort].  Aborting operation.", label);
                return system::ERROR_CANCELLED;
            } else if (wait == system::WAIT_TIMEOUT) {
                keep();
                log(LogVerbosity::DebugLevel2, kReadContext,
                    L"%ls failed (WAIT_TIMEOUT).  Abandoning operation.", label);
                return system::WAIT_TIMEOUT;
            } else if (wait == system::WAIT_FAILED) {
                keep();
                log(LogVerbosity::Error, kReadContext,
                    L"%ls failed (WAIT_FAILED) [%d].  Abandoning operation.", label, system::getLastError());
                return kWaitFailed;
            } else {
                keep();
                const ErrorCode error = system::getLastError();
                log(LogVerbosity::Error, kReadContext,
                    L"%ls failed for an unknown reason [%d].  Abandoning operation.", label, error);
                logSystemError(error, kReadContext);
                return error != system::ERROR_SUCCESS ? error : system::ERROR_GEN_FAILURE;
            }
        }
        if (result != system::ERROR_SUCCESS) {
            keep();
            return readFailed(result);
        }
        _overlappedRead->set();
        keep();
        log(LogVerbosity::DebugLevel4, kReadContext, L"::ReadFile() returned [%d] of [%d] bytes.",
            static_cast<int>(got), static_cast<int>(request));
        // Counted bytes that are gone (a purge meanwhile) end the read instead of
        // asking for them forever.
        if (got == 0) {
            break;
        }
        remaining -= static_cast<std::uint32_t>(got);
    }
    success(kReadContext);
    return system::ERROR_SUCCESS;
}

ErrorCode Serial::writePort(const std::uint8_t* data, std::uint32_t length, std::uint32_t timeoutMs,
                            system::Event* abort) {
    trace(kWriteContext);
    if (!ready()) {
        return system::ERROR_INVALID_HANDLE;
    }
    log(LogVerbosity::DebugLevel2, kWriteContext,
        L"::WaitForMultipleObjects() attempting to gain exclusive access to the port.");
    const wchar_t* label = abort != nullptr ? kMultipleLabel : kSingleLabel;
    const Deadline deadline(timeoutMs);
    {
        const WaitSet set(*_write_lock, abort);
        const std::uint32_t wait = set.wait(deadline.remainingMs());
        if (set.isAbort(wait)) {
            log(LogVerbosity::DebugLevel2, kWriteContext,
                L"%ls became signaled via [abort].  Aborting operation.", label);
            return system::ERROR_CANCELLED;
        }
        if (wait == system::WAIT_TIMEOUT) {
            log(LogVerbosity::Error, kWriteContext, L"%ls failed (WAIT_TIMEOUT).  Abandoning operation.",
                label);
            return system::WAIT_TIMEOUT;
        }
        if (wait == system::WAIT_FAILED) {
            const ErrorCode error = system::getLastError();
            log(LogVerbosity::Error, kWriteContext, L"%ls failed (WAIT_FAILED) [%d].  Abandoning operation.",
                label, error);
            logSystemError(error, kWriteContext);
            return kWaitFailed;
        }
        // An abandoned lock is ours all the same.
        if (wait == system::WAIT_OBJECT_0) {
            log(LogVerbosity::DebugLevel2, kWriteContext, L"%ls became signaled via [_write_lock].", label);
        }
    }

    _overlapped_write->reset();
    _writeIdle->reset();
    log(LogVerbosity::DebugLevel2, kWriteContext, L"Calling ::WriteFile().");
    _port->beginWrite();
    std::size_t written = 0;
    ErrorCode result = _port->writeFile(data, length, written);
    if (result == system::ERROR_SUCCESS) {
        _overlapped_write->set();
        log(LogVerbosity::DebugLevel2, kWriteContext, L"::WriteFile() completed synchronously.");
    } else if (result != system::ERROR_IO_PENDING) {
        log(LogVerbosity::Error, kWriteContext, L"::WriteFile() encountered an error [%d].", result);
        logSystemError(result, kWriteContext);
    } else {
        log(LogVerbosity::DebugLevel2, kWriteContext, L"::WriteFile() will be completed asynchronously.");
        log(LogVerbosity::DebugLevel2, kWriteContext,
            L"%ls waiting for the [_overlapped_write.hEvent] to become signaled.", label);
        while (result == system::ERROR_IO_PENDING) {
            PortWaitable port(_port->descriptor(), POLLOUT);
            const WaitSet set(port, abort);
            const std::uint32_t wait = set.wait(deadline.remainingMs());
            if (wait == system::WAIT_OBJECT_0) {
                std::size_t more = 0;
                result = _port->writeFile(data + written, length - written, more);
                written += more;
                if (result == system::ERROR_IO_PENDING) {
                    continue;
                }
                _overlapped_write->set();
                log(LogVerbosity::DebugLevel2, kWriteContext,
                    L"%ls [Write Port] became signaled via [_overlapped_write.hEvent].", label);
                if (result != system::ERROR_SUCCESS) {
                    log(LogVerbosity::Error, kWriteContext, L"::WriteFile() failed! Reason [%lu].",
                        static_cast<unsigned long>(result));
                    logSystemError(result, kWriteContext);
                }
            } else if (set.isAbort(wait)) {
                // What the port took already goes out; the rest is not written.
                log(LogVerbosity::DebugLevel4, kWriteContext,
                    L"%ls became signaled via [abort].  Write abandoned after [%lu] of [%lu] bytes.", label,
                    static_cast<unsigned long>(written), static_cast<unsigned long>(length));
                result = system::ERROR_CANCELLED;
            } else if (wait == system::WAIT_TIMEOUT) {
                log(LogVerbosity::Error, kWriteContext, L"%ls failed (WAIT_TIMEOUT) [timeout = %lu ms].",
                    label, static_cast<unsigned long>(timeoutMs));
                result = system::WAIT_TIMEOUT;
            } else {
                const ErrorCode error = system::getLastError();
                log(LogVerbosity::Error, kWriteContext, L"%ls failed (WAIT_FAILED) [%lu].", label,
                    static_cast<unsigned long>(error));
                logSystemError(error, kWriteContext);
                result = kWaitFailed;
            }
        }
    }
    _port->endWrite(written > 0);
    if (result == system::ERROR_SUCCESS || result == system::ERROR_CANCELLED) {
        _writeIdle->set();
        success(kWriteContext);
    }
    _write_lock->release();
    return result;
}

} // namespace wyr::windows::communication
