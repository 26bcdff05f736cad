#include "device/OrvaneSerialThread.h"

#include "device/DisconnectType.h"
#include "device/OrvaneInterface.h"
#include "wyr/windows/communication/CommDefinitions.h"
#include "wyr/windows/communication/Serial.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/RegisteredMessage.h"
#include "wyr/windows/system/Wait.h"
#include "wyr/windows/system/threading/IThread.h"
#include "wyr/windows/system/threading/ThreadContext.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace device {

using namespace wyr::windows::system;
using threading::ThreadState;
using wyr::windows::communication::EV_ERR;
using wyr::windows::communication::EV_RXCHAR;
using wyr::windows::communication::EV_RXFLAG;
using wyr::windows::communication::PURGE_RXCLEAR;
using wyr::windows::logging::hexBytes;
using wyr::windows::logging::log;
using wyr::windows::logging::logEnabled;
using wyr::windows::logging::logSystemError;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::logging::trace;

const MessageId OrvaneSerialThread::TM_ORVANE_ENABLE_SERIAL_THREAD =
    registerMessage("TM_ORVANE_ENABLE_SERIAL_THREAD-{DB8F70FE-3DCE-48C5-B413-41D94DF0225B}");
const MessageId OrvaneSerialThread::TM_ORVANE_DISABLE_SERIAL_THREAD =
    registerMessage("TM_ORVANE_DISABLE_SERIAL_THREAD-{E0AE8C81-0B44-444E-A586-73891F8AD5F4}");

namespace {

constexpr ErrorCode kWaitFailedResult = 0xFFFFFFFF;
// Read-handler results beside 0 and ERROR_MORE_DATA: keep going after the
// consumed bytes, or drop what was read.
constexpr ErrorCode kHandlerContinue = 625;
constexpr ErrorCode kHandlerDiscard = ERROR_DATA_CHECKSUM_ERROR;
// How long the ending thread waits for the queue lock that another thread may
// hold for a moment.
constexpr std::uint32_t kExitLockWaitMs = 2000;
constexpr const char* kMessageQueueMutex = "message queue mutex";

using DoneEvent = std::shared_ptr<Event>;

// The done event a message carries; the message owned it.
std::unique_ptr<DoneEvent> takeDoneEvent(WPARAM wParam) {
    return std::unique_ptr<DoneEvent>(reinterpret_cast<DoneEvent*>(wParam));
}

// Signals the done event a message carries; the message keeps owning it.
void signalDone(WPARAM wParam) {
    if (const auto* done = reinterpret_cast<const DoneEvent*>(wParam); done != nullptr && *done) {
        (*done)->set();
    }
}

} // namespace

OrvaneSerialThread::OrvaneSerialThread(OrvaneInterface& device)
    : MessageThreadAdapter("OrvaneSerialThread", Event::Reset::Manual), _device(device),
      _waitTimeout(INFINITE), _message_queue_lock(std::make_unique<Mutex>(kMessageQueueMutex, false)) {
    // One enable or disable per wake-up; what is still waiting gets its own.
    const Release freeDone = [](WPARAM wParam, LPARAM) { takeDoneEvent(wParam); };
    addHandler(
        TM_ORVANE_ENABLE_SERIAL_THREAD,
        [this](WPARAM wParam, LPARAM) {
            onEnable();
            signalDone(wParam);
            endPump();
        },
        freeDone, Receipt::OwnText);
    addHandler(
        TM_ORVANE_DISABLE_SERIAL_THREAD,
        [this](WPARAM wParam, LPARAM) {
            onDisable();
            signalDone(wParam);
            endPump();
        },
        freeDone, Receipt::OwnText);
}

OrvaneSerialThread::~OrvaneSerialThread() = default;

bool OrvaneSerialThread::initThread(threading::ThreadContext* context) {
    static constexpr const char* kContext = "OrvaneSerialThread::initThread";
    _port = static_cast<wyr::windows::communication::Serial*>(context->param);
    const auto refuse = [this](ErrorCode error) {
        setLastError(error);
        exitThread();
        setLastError(error);
        return false;
    };
    if (!_readHandler || _port == nullptr) {
        trace(kContext);
        return refuse(ERROR_INVALID_PARAMETER);
    }
    if (!MessageThreadAdapter::initThread(context)) {
        return refuse(getLastError());
    }
    // The lock lives as long as the worker, like the events.
    if (!_message_queue_lock->valid()) {
        const ErrorCode error = getLastError();
        logSystemError(error, kContext);
        return refuse(error);
    }
    _waitTimeout = INFINITE;
    dropPendingAcks();
    return true;
}

void OrvaneSerialThread::exitThread() {
    _readBuffer.clear();
    dropPendingAcks();
    // _terminate is set by now, so lockQueue would give up; the lock is taken
    // directly. Other holders keep it only for a moment.
    const std::uint32_t locked = waitForSingle(*_message_queue_lock, kExitLockWaitMs);
    if (locked == WAIT_OBJECT_0 || locked == WAIT_ABANDONED_0) {
        _queue.reset();
        _enabled.store(false);
        _message_queue_lock->release();
    }
    _waitTimeout = INFINITE;
    // Traces, and frees the done events of messages never handled.
    MessageThreadAdapter::exitThread();
}

void OrvaneSerialThread::notifyShutdown() {
    MessageThreadAdapter::notifyShutdown();
    alert()->set();
}

std::uint32_t OrvaneSerialThread::enable(const std::shared_ptr<Event>& done) {
    trace("OrvaneSerialThread::enable");
    auto argument = std::make_unique<DoneEvent>(done);
    if (const ErrorCode error =
            notify(TM_ORVANE_ENABLE_SERIAL_THREAD, reinterpret_cast<WPARAM>(argument.get()), 0)) {
        setLastError(error);
        return WAIT_FAILED;
    }
    argument.release(); // the thread owns it now
    return done ? waitForSingle(*done, kEnableWaitMs) : WAIT_TIMEOUT;
}

std::uint32_t OrvaneSerialThread::disable(const std::shared_ptr<Event>& done, std::int32_t port) {
    static constexpr const char* kContext = "OrvaneSerialThread::disable";
    trace(kContext);
    std::unique_ptr<DoneEvent> argument = done ? std::make_unique<DoneEvent>(done) : nullptr;
    if (notify(TM_ORVANE_DISABLE_SERIAL_THREAD, reinterpret_cast<WPARAM>(argument.get()), 0) ==
        ERROR_SUCCESS) {
        argument.release(); // the thread owns it now
    }
    if (!done) {
        sleepMs(kDisableWaitMs);
        return WAIT_OBJECT_0;
    }
    const std::uint32_t result = waitForSingle(*done, kDisableWaitMs);
    if (result != WAIT_OBJECT_0) {
        const ErrorCode error = result == WAIT_FAILED ? getLastError() : result;
        log(LogVerbosity::Error, kContext, L"Failed to disable serial thread on port [COM%d].", port);
        log(LogVerbosity::Error, kContext, L"::WaitForSingleObject() failed [%d].", error);
        logSystemError(error, kContext);
    }
    return result;
}

void OrvaneSerialThread::setReadHandlers(ReadHandler read, AfterReadHandler afterRead) {
    _readHandler = std::move(read);
    _afterReadHandler = std::move(afterRead);
}

void OrvaneSerialThread::setWriteHandlers(PreWriteHandler preWrite, WriteCompleteHandler writeComplete) {
    std::lock_guard guard(_handlerLock);
    _preWriteHandler = std::move(preWrite);
    _writeCompleteHandler = std::move(writeComplete);
}

std::uint32_t OrvaneSerialThread::wait() {
    static constexpr const char* kContext = "OrvaneSerialThread::wait";
    trace(kContext);
    thread()->setState(ThreadState::Wait);
    log(LogVerbosity::DebugLevel4, kContext,
        L"::WaitForMultipleObjects() waiting for a message to quit or enable (Timeout = %s).",
        _waitTimeout == INFINITE ? "INFINITE" : "0");
    const std::uint32_t result = waitForAny({terminateEvent(), alert()}, _waitTimeout);
    if (result == WAIT_OBJECT_0) {
        log(LogVerbosity::DebugLevel2, kContext,
            L"::WaitForMultipleObjects() became signaled via [_terminate], abandoning function call.");
        return ERROR_CANCELLED;
    }
    if (result == WAIT_OBJECT_0 + 1) {
        log(LogVerbosity::DebugLevel2, kContext, L"::WaitForMultipleObjects() became signaled via [_alert].");
        alert()->reset();
        return kAlerted;
    }
    if (result == WAIT_TIMEOUT) {
        if (_port->isOpen()) {
            log(LogVerbosity::DebugLevel4, kContext,
                L"::WaitForMultipleObjects() failed (WAIT_TIMEOUT) [%d], EXPECTED!", 0);
        } else {
            log(LogVerbosity::Error, kContext,
                L"::WaitForMultipleObjects() failed (WAIT_TIMEOUT) [%d], UNEXPECTED!", 0);
        }
        return WAIT_TIMEOUT;
    }
    const ErrorCode error = getLastError();
    log(LogVerbosity::Error, kContext,
        L"::WaitForMultipleObjects() failed (WAIT_FAILED) [%d], abandoning function call.", error);
    logSystemError(error, kContext);
    return kWaitFailedResult;
}

std::uint32_t OrvaneSerialThread::run() {
    trace("OrvaneSerialThread::run");
    threading::IThread* worker = thread();
    std::uint32_t r = wait();
    worker->setState(ThreadState::Run);
    while (r != ERROR_CANCELLED) {
        // A wait that cannot work at all would otherwise spin here for ever.
        if (r == kWaitFailedResult) {
            return kWaitFailedResult;
        }
        if (r == WAIT_TIMEOUT) {
            r = checkPort();
        }
        if (r == kAlerted) {
            alert()->reset();
            pumpMessage();
            // A sentence queued while an ACK waits for its time goes out after
            // it, as when the ACK was written straight from the read.
            if (_enabled.load() && !_pendingAcks.empty()) {
                _queueHeld = true;
            } else if (_enabled.load()) {
                while (processQueue() == ERROR_MORE_DATA) {
                }
            }
        } else if (r == ERROR_GEN_FAILURE) {
            // The port is lost: stop polling it until enabled again; the ACKs
            // still waiting have nowhere to go.
            _waitTimeout = INFINITE;
            dropPendingAcks();
            _device.disconnect(DisconnectType::Abnormal, 0);
        }
        r = wait();
        worker->setState(ThreadState::Run);
    }
    return 0;
}

void OrvaneSerialThread::onEnable() {
    log(LogVerbosity::DebugLevel2, "OrvaneSerialThread::pumpMessage",
        L"Received TM_ORVANE_ENABLE_SERIAL_THREAD.");
    _waitTimeout = 0;
    dropPendingAcks(); // answers to an earlier connection's heartbeats
    if (lockQueue() == ERROR_SUCCESS) {
        _queue = std::make_unique<std::deque<QueueItem>>();
        _enabled.store(true);
        _message_queue_lock->release();
    }
}

void OrvaneSerialThread::onDisable() {
    log(LogVerbosity::DebugLevel2, "OrvaneSerialThread::pumpMessage",
        L"Received TM_ORVANE_DISABLE_SERIAL_THREAD.");
    _waitTimeout = INFINITE;
    dropPendingAcks();
    if (lockQueue() == ERROR_SUCCESS) {
        _queue.reset();
        _enabled.store(false);
        _message_queue_lock->release();
    }
    sleepMs(kDisableSettleMs);
}

ErrorCode OrvaneSerialThread::checkPort() {
    static constexpr const char* kContext = "OrvaneSerialThread::checkPort";
    trace(kContext);
    // A waiting ACK bounds the wait, so it goes out on time while reading goes on.
    const std::uint32_t limit = acknowledgeDue();
    log(LogVerbosity::DebugLevel4, kContext, L"Calling Serial::waitCommEvent().");
    std::uint32_t mask = 0;
    const ErrorCode result = _port->waitCommEvent(mask, alert(), limit, limit != INFINITE);
    if (result == ERROR_CANCELLED) {
        log(LogVerbosity::DebugLevel4, kContext, L"Serial::waitCommEvent() aborted.");
        return kAlerted;
    }
    if (result == ERROR_TIMEOUT && limit != INFINITE) {
        acknowledgeDue();
        return ERROR_SUCCESS;
    }
    if (result != ERROR_SUCCESS) {
        log(LogVerbosity::Error, kContext, L"Serial::waitCommEvent() failed [%d].", result);
        logSystemError(result, kContext);
        return ERROR_GEN_FAILURE;
    }
    log(LogVerbosity::DebugLevel4, kContext, L"Serial::waitCommEvent() succeeded.");
    if ((mask & EV_ERR) != 0) {
        if (const auto& handle = _port->handle()) {
            handle->clearCommError(nullptr, nullptr);
        }
        log(LogVerbosity::Error, kContext, L"Error cleared.");
        return ERROR_SUCCESS;
    }
    if ((mask & (EV_RXCHAR | EV_RXFLAG)) != 0) {
        if (_port->readPort(_readBuffer, terminateEvent(), INFINITE) == ERROR_SUCCESS) {
            processData(mask);
        }
    }
    return ERROR_SUCCESS;
}

void OrvaneSerialThread::acknowledgeAt(std::chrono::steady_clock::time_point due) {
    trace("OrvaneSerialThread::acknowledgeAt");
    _pendingAcks.insert(std::upper_bound(_pendingAcks.begin(), _pendingAcks.end(), due), due);
}

std::uint32_t OrvaneSerialThread::acknowledgeDue() {
    trace("OrvaneSerialThread::acknowledgeDue");
    using Clock = std::chrono::steady_clock;
    auto now = Clock::now();
    while (!_pendingAcks.empty() && _pendingAcks.front() <= now) {
        _pendingAcks.pop_front();
        _device.acknowledge();
        now = Clock::now();
    }
    if (_pendingAcks.empty()) {
        if (_queueHeld) {
            _queueHeld = false;
            alert()->set(); // the held sentences' turn
        }
        return INFINITE;
    }
    // Rounded up: the wait may end a little late, never early.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(_pendingAcks.front() - now).count();
    return static_cast<std::uint32_t>(std::min<long long>(left, INFINITE - 1));
}

void OrvaneSerialThread::dropPendingAcks() {
    trace("OrvaneSerialThread::dropPendingAcks");
    _pendingAcks.clear();
    _queueHeld = false;
}

void OrvaneSerialThread::processData(std::uint32_t mask) {
    static constexpr const char* kContext = "OrvaneSerialThread::processData";
    trace(kContext);
    ErrorCode result = ERROR_SUCCESS;
    while (!_readBuffer.empty() && (result == ERROR_SUCCESS || result == kHandlerContinue)) {
        std::uint32_t consumed = 0;
        const auto length = static_cast<std::uint32_t>(_readBuffer.size());
        if ((mask & (EV_RXCHAR | EV_RXFLAG)) != 0 && logEnabled(LogVerbosity::DebugLevel4)) {
            log(LogVerbosity::DebugLevel4, kContext, L"%d bytes in buffer, [%ls]", static_cast<int>(length),
                hexBytes({_readBuffer.data(), length}).c_str());
        }
        if (_readHandler) {
            result = _readHandler(terminateEvent(), _readBuffer.data(), length, &consumed);
            if ((result == ERROR_SUCCESS || result == kHandlerContinue) && _afterReadHandler) {
                _afterReadHandler(terminateEvent(), _readBuffer.data(), consumed);
            }
        }
        switch (result) {
        case ERROR_SUCCESS:
        case ERROR_MORE_DATA:
        case kHandlerContinue:
            _readBuffer.erase(_readBuffer.begin(),
                              _readBuffer.begin() + static_cast<std::ptrdiff_t>(std::min(consumed, length)));
            break;
        case ERROR_INVALID_DATA:
            if (const auto& handle = _port->handle()) {
                handle->purgeComm(PURGE_RXCLEAR);
            }
            _readBuffer.clear();
            break;
        case kHandlerDiscard:
            _readBuffer.clear();
            break;
        default:
            break;
        }
        if (!_readHandler) {
            break;
        }
    }
}

bool OrvaneSerialThread::queueData(const std::uint8_t* data, std::uint32_t length,
                                   std::uint32_t writeTimeoutMs) {
    static constexpr const char* kContext = "OrvaneSerialThread::queueData";
    trace(kContext);
    QueueItem item{std::vector<std::uint8_t>(data, data + length), writeTimeoutMs};
    if (lockQueue() != ERROR_SUCCESS) {
        return false;
    }
    if (!_queue) {
        _message_queue_lock->release();
        log(LogVerbosity::Error, kContext, L"No internal message queue.");
        return false;
    }
    _queue->push_back(std::move(item));
    _message_queue_lock->release();
    alert()->set();
    return true;
}

ErrorCode OrvaneSerialThread::lockQueue() {
    static constexpr const char* kContext = "OrvaneSerialThread::lockQueue";
    trace(kContext);
    const std::uint32_t result = waitForAny({terminateEvent(), _message_queue_lock.get()}, INFINITE);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0) {
        log(LogVerbosity::DebugLevel2, kContext,
            L"::WaitForMultipleObjects() became signaled via [_terminate], abandoning function call.");
        return ERROR_CANCELLED;
    }
    if (result == WAIT_OBJECT_0 + 1 || result == WAIT_ABANDONED_0 + 1) {
        log(LogVerbosity::DebugLevel2, kContext,
            L"::WaitForMultipleObjects() became signaled via [_message_queue_lock].");
        return ERROR_SUCCESS;
    }
    if (result == WAIT_TIMEOUT) {
        log(LogVerbosity::Error, kContext,
            L"::WaitForMultipleObjects() failed (WAIT_TIMEOUT) [%d], abandoning function call.",
            WAIT_TIMEOUT);
        return WAIT_TIMEOUT;
    }
    const ErrorCode error = getLastError();
    log(LogVerbosity::Error, kContext,
        L"::WaitForMultipleObjects() failed (WAIT_FAILED) [%d], abandoning function call.", error);
    logSystemError(error, kContext);
    return kWaitFailedResult;
}

ErrorCode OrvaneSerialThread::processQueue() {
    static constexpr const char* kContext = "OrvaneSerialThread::processQueue";
    trace(kContext);
    if (const ErrorCode locked = lockQueue()) {
        return locked;
    }
    if (!_queue) {
        _message_queue_lock->release();
        log(LogVerbosity::Error, kContext, L"No internal message queue.");
        return ERROR_NO_DATA;
    }
    const std::size_t depth = _queue->size();
    if (depth == 0) {
        _message_queue_lock->release();
        return ERROR_NO_DATA;
    }
    log(LogVerbosity::DebugLevel2, kContext, L"Queue depth [%d].", static_cast<int>(depth));
    QueueItem item = std::move(_queue->front());
    _queue->pop_front();
    _message_queue_lock->release();

    PreWriteHandler preWrite;
    WriteCompleteHandler writeComplete;
    {
        std::lock_guard guard(_handlerLock);
        preWrite = _preWriteHandler;
        writeComplete = _writeCompleteHandler;
    }
    const auto count = static_cast<std::uint32_t>(item.bytes.size());
    std::int32_t length = static_cast<std::int32_t>(count);
    if (preWrite) {
        length = preWrite(terminateEvent(), item.bytes.data(), count);
    }
    if (length == -1) {
        log(LogVerbosity::Error, kContext, L"Nothing to write!");
        return ERROR_OUTOFMEMORY;
    }
    // A handler cannot make the write reach past the bytes queued.
    const auto toWrite =
        static_cast<std::uint32_t>(std::clamp<std::int32_t>(length, 0, static_cast<std::int32_t>(count)));
    const ErrorCode result =
        _port->writePort(item.bytes.data(), toWrite, item.writeTimeoutMs, terminateEvent());
    if (writeComplete) {
        writeComplete(terminateEvent(), item.bytes.data(), length, result, item.writeTimeoutMs);
    }
    return depth > 1 ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

} // namespace device
