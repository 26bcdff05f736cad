#include "wyr/windows/logging/output/LogFileWriteThread.h"

#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/Wait.h"
#include "wyr/windows/system/threading/ThreadContext.h"

#include <utility>

namespace wyr::windows::logging {

using namespace wyr::windows::system;
using system::threading::ThreadState;

namespace {

constexpr const char* kClass = "wyr::windows::logging::LogFileWriteThread";

// Runs an action when the scope ends, however it ends.
template <typename F> class ScopeExit {
public:
    explicit ScopeExit(F action) : _action(std::move(action)) {}
    ~ScopeExit() { _action(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F _action;
};

std::string context(const char* function) {
    return std::string(kClass) + "::" + function;
}

} // namespace

LogFileWriteThread::LogFileWriteThread() = default;

LogFileWriteThread::~LogFileWriteThread() = default;

bool LogFileWriteThread::initThread(system::threading::ThreadContext* threadContext) {
    trace(context("initThread").c_str());
    bool succeeded = false;
    const ScopeExit report([this, &succeeded] {
        const ErrorCode reason = getLastError();
        log(LogVerbosity::DebugLevel3, "wyr::windows::logging::`anonymous-namespace'::<lambda0>::operator ()",
            succeeded ? L"Succeeded" : L"Failed");
        if (!succeeded) {
            exitThread();
        }
        setLastError(reason);
    });

    _thread = threadContext->thread;
    _stream = static_cast<std::ostream*>(threadContext->param);

    if (!_stop) {
        auto stop = std::make_unique<Event>(Event::Reset::Manual, false);
        if (!stop->valid()) {
            return false;
        }
        _stop = std::move(stop);
    } else {
        _stop->reset();
    }
    if (!_queueLock) {
        auto lock = std::make_unique<Mutex>(kQueueMutexName, false);
        if (!lock->valid()) {
            return false;
        }
        _queueLock = std::move(lock);
    }
    if (!_data) {
        auto data = std::make_unique<Event>(Event::Reset::Manual, false);
        if (!data->valid()) {
            return false;
        }
        _data = std::move(data);
    }
    succeeded = true;
    return true;
}

void LogFileWriteThread::exitThread() {
    trace(context("exitThread").c_str());
    // Nothing is closed here: the user-interface thread may still use the queue.
}

void LogFileWriteThread::notifyShutdown() {
    trace(context("notifyShutdown").c_str());
    if (_stop) {
        _stop->set();
    }
}

std::uint32_t LogFileWriteThread::run() {
    trace(context("run").c_str());
    for (;;) {
        if (_stop->isSignalled()) {
            return 0;
        }
        _thread->setState(ThreadState::Wait);
        const std::uint32_t result = waitForAny({_stop.get(), _data.get()}, INFINITE);
        if (result == WAIT_OBJECT_0) {
            return 0;
        }
        if (result == WAIT_FAILED) {
            const ErrorCode error = getLastError();
            if (error == ERROR_CANCELLED) {
                return 0;
            }
            if (error != ERROR_SUCCESS) {
                return error;
            }
        }
        _thread->setState(ThreadState::Run);
        const ErrorCode error = processQueue();
        if (error != ERROR_SUCCESS && error != ERROR_CANCELLED) {
            return error;
        }
    }
}

ErrorCode LogFileWriteThread::lockQueue() {
    if (!_stop || !_queueLock) {
        return ERROR_INVALID_HANDLE;
    }
    const std::uint32_t result = waitForAny({_stop.get(), _queueLock.get()}, INFINITE);
    switch (result) {
    case WAIT_OBJECT_0:
        return ERROR_CANCELLED;
    case WAIT_OBJECT_0 + 1:
    case WAIT_ABANDONED_0 + 1:
        return ERROR_SUCCESS;
    case WAIT_FAILED:
        return getLastError();
    default:
        return ERROR_GEN_FAILURE;
    }
}

void LogFileWriteThread::writeLocked(const std::string& line) {
    if (_stream != nullptr && _stream->rdbuf() != nullptr) {
        *_stream << line;
    }
}

ErrorCode LogFileWriteThread::processQueue() {
    const ErrorCode locked = lockQueue();
    if (locked != ERROR_SUCCESS) {
        return locked;
    }
    while (!_queue.empty()) {
        const std::string line = std::move(_queue.front());
        _queue.pop_front();
        writeLocked(line);
    }
    if (_stream != nullptr) {
        _stream->flush();
    }
    // Reset while still holding the lock: a line queued after this sets it again.
    _data->reset();
    _queueLock->release();
    return ERROR_SUCCESS;
}

bool LogFileWriteThread::queue(const std::string& line) {
    if (lockQueue() != ERROR_SUCCESS) {
        return false;
    }
    _queue.push_back(line);
    _queueLock->release();
    _data->set();
    return true;
}

std::uint32_t LogFileWriteThread::drain(std::uint32_t count) {
    const ErrorCode locked = lockQueue();
    if (locked != ERROR_SUCCESS) {
        return locked;
    }
    for (std::uint32_t written = 0; !_queue.empty() && (count == 0xFFFFFFFF || written < count); ++written) {
        const std::string line = std::move(_queue.front());
        _queue.pop_front();
        writeLocked(line);
    }
    if (_stream != nullptr) {
        _stream->flush();
    }
    _queueLock->release();
    return ERROR_SUCCESS;
}

std::uint32_t LogFileWriteThread::queueSize(std::size_t& count) {
    const ErrorCode locked = lockQueue();
    if (locked != ERROR_SUCCESS) {
        return locked;
    }
    count = _queue.size();
    _queueLock->release();
    return ERROR_SUCCESS;
}

} // namespace wyr::windows::logging
