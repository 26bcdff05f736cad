#include "wyr/windows/system/threading/ThreadCore.h"

#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/Wait.h"
#include "wyr/windows/system/threading/ThreadContext.h"
#include "wyr/windows/system/threading/ThreadControl.h"
#include "wyr/windows/system/threading/ThreadEntry.h"
#include "wyr/windows/system/threading/ThreadStartup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>

namespace wyr::windows::system::threading {

using logging::log;
using logging::logSystemError;
using logging::LogVerbosity;
using logging::trace;

namespace {

// The code create returns when the platform refused an event or the thread.
ErrorCode creationError(int errnoValue) {
    switch (errnoValue) {
    case EAGAIN:
        return ERROR_MAX_THRDS_REACHED;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_EXTENDED_ERROR;
    }
}

// Logs a wait on the thread that did not end the normal way.
void logWaitFailure(std::uint32_t result, ErrorCode lastError, const char* context) {
    if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + MAXIMUM_WAIT_OBJECTS) {
        log(LogVerbosity::Error, context, L"::WaitForSingleObject failed (WAIT_ABANDONED).");
    } else if (result == WAIT_TIMEOUT) {
        log(LogVerbosity::Error, context, L"::WaitForSingleObject failed (WAIT_TIMEOUT).");
    } else if (result == WAIT_FAILED) {
        log(LogVerbosity::Error, context, L"::WaitForSingleObject failed (WAIT_FAILED) [%d].", lastError);
        logSystemError(lastError, context);
    } else {
        log(LogVerbosity::Error, context, L"::WaitForSingleObject failed for an unknown reason [%d].",
            lastError);
    }
}

} // namespace

ThreadCore::ThreadCore(std::unique_ptr<IBasicThreadAdapter> worker, std::string functionPrefix)
    : _state(ThreadState::Stopped.value()), _worker(std::move(worker)),
      _functionPrefix(std::move(functionPrefix)) {}

ThreadCore::~ThreadCore() = default;

std::string ThreadCore::functionPrefixFor(const std::type_info& type, bool isClass) {
    std::string typeName = type.name();
    int status = 0;
    if (char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status)) {
        typeName = demangled;
        std::free(demangled);
    }
    return "wyr::windows::system::threading::ThreadImpl<" + std::string(isClass ? "class " : "") + typeName +
           ">";
}

ThreadHandle ThreadCore::handle() const {
    std::lock_guard guard(_lock);
    return _handle;
}

ThreadId ThreadCore::threadId() const {
    std::lock_guard guard(_lock);
    return _handle ? _threadId : 0;
}

const ThreadState& ThreadCore::state() const {
    const ThreadState* state = ThreadState::fromValue(_state.load());
    return state != nullptr ? *state : ThreadState::Stopped;
}

std::string ThreadCore::name() const {
    std::lock_guard guard(_lock);
    return std::string(_name.data());
}

ErrorCode ThreadCore::getPriority(int& priority) const {
    const ThreadHandle thread = handle();
    if (!thread) {
        return ERROR_INVALID_HANDLE;
    }
    return thread->getPriority(priority) ? ERROR_SUCCESS : getLastError();
}

std::uint32_t ThreadCore::setPriority(int priority) {
    const ThreadHandle thread = handle();
    if (!thread) {
        return ERROR_INVALID_HANDLE;
    }
    return thread->setPriority(priority) ? 1 : 0;
}

std::uint32_t ThreadCore::suspend() {
    const ThreadHandle thread = handle();
    if (!thread) {
        return 0xFFFFFFFF;
    }
    return thread->suspend([this] { storeState(ThreadState::Suspended); });
}

std::uint32_t ThreadCore::resume() {
    const ThreadHandle thread = handle();
    if (!thread) {
        return 0xFFFFFFFF;
    }
    return thread->resume([this](std::uint32_t remaining) {
        storeState(remaining > 0 ? ThreadState::Suspended : ThreadState::Run);
    });
}

void ThreadCore::setState(const ThreadState& state) {
    const ThreadHandle thread = handle();
    if (!thread) {
        return;
    }
    // The worker's own state changes are where a requested suspension takes hold.
    if (thread->isCurrentThread()) {
        thread->whenRunnable([this, &state] { storeState(state); });
    } else {
        thread->locked([this, &state] { storeState(state); });
    }
}

void ThreadCore::reset() {
    std::lock_guard guard(_lock);
    _handle.reset();
    _threadId = 0;
    _name.fill('\0');
    storeState(ThreadState::Stopped);
}

std::string ThreadCore::logContext(const char* threadName, const char* function) const {
    return "ThreadImpl<" + std::string(threadName) + ">::" + _functionPrefix + "::" + function;
}

ErrorCode ThreadCore::create(const char* name, void* param, std::uint32_t flags, std::uint32_t stackSize,
                             void* /*security: POSIX threads have none*/) {
    const std::string contextText = logContext(name != nullptr ? name : "T", "create");
    const char* const context = contextText.c_str();
    trace(context);

    if (handle()) {
        return ERROR_ALREADY_INITIALIZED;
    }

    // The record and the context it points to live as long as either side needs them.
    struct Launch {
        ThreadStartup startup;
        ThreadContext context;
    };
    const auto launch = std::make_shared<Launch>();
    launch->context = ThreadContext{this, param};
    const std::shared_ptr<ThreadStartup> startup(launch, &launch->startup);
    startup->thread = this;
    startup->worker = _worker.get();
    startup->context = &launch->context;
    startup->flags = flags;
    setExitCode(0);

    const auto fail = [this, &startup](int errnoValue) {
        storeState(ThreadState::Stopped);
        startup->resume.reset();
        return creationError(errnoValue);
    };

    startup->init_complete = std::make_shared<Event>(Event::Reset::Manual, false);
    if (!startup->init_complete->valid()) {
        const int errnoValue = errno;
        const ErrorCode error = getLastError();
        log(LogVerbosity::Error, context, L"Failed to create [init_complete] event.");
        logSystemError(error, context);
        return fail(errnoValue);
    }
    startup->resume = std::make_shared<Event>(Event::Reset::Manual, false);
    if (!startup->resume->valid()) {
        const int errnoValue = errno;
        log(LogVerbosity::Error, context, L"Failed to create [resume] event.");
        return fail(errnoValue);
    }

    // The thread holds this object and the record until it ends.
    int errnoValue = 0;
    ThreadHandle thread = ThreadControl::start(
        [self = shared_from_this(), startup] { ThreadEntry(startup.get()); }, stackSize, errnoValue);
    if (!thread) {
        log(LogVerbosity::Error, context, L"Failed to create thread.");
        return fail(errnoValue);
    }
    {
        // The thread is parked: handle, id and name are in place before the worker runs.
        std::lock_guard guard(_lock);
        _handle = thread;
        _threadId = thread->threadId();
        _name.fill('\0');
        if (name != nullptr) {
            std::strncpy(_name.data(), name, _name.size() - 1);
        }
    }
    if (name != nullptr) {
        thread->setName(name);
    }

    resume();
    setState(ThreadState::Run);
    sleepMs(40);

    WaitableObject* const started[] = {startup->init_complete.get(), thread.get()};
    const std::uint32_t result = waitForAny(started, INFINITE);
    const ErrorCode waitError = getLastError();
    log(LogVerbosity::DebugLevel4, context, L"::WaitForMultipleObjects() returned [%d].", result);
    if (result != WAIT_OBJECT_0 && result != WAIT_OBJECT_0 + 1) {
        logWaitFailure(result, waitError, context);
    }
    startup->init_complete.reset();

    if (!startup->init_failed.load()) {
        if ((flags & CREATE_SUSPENDED) != 0) {
            suspend();
        }
        log(LogVerbosity::DebugLevel4, context, L"Successfully started the thread [0x%X].",
            thread->threadId());
        startup->resume->set();
        return ERROR_SUCCESS;
    }

    log(LogVerbosity::Error, context, L"Error encountered during thread class initialization");
    waitForSingle(*thread, INFINITE);
    reset();
    startup->resume.reset();
    return exitCode();
}

bool ThreadCore::shutdown(std::uint32_t timeoutMs) {
    const std::string threadName = name();
    const std::string contextText = logContext(threadName.empty() ? "T" : threadName.c_str(), "shutdown");
    const char* const context = contextText.c_str();
    trace(context);

    // Our own reference: the thread releases the object's handle when it ends,
    // possibly while we wait on it.
    const ThreadHandle thread = handle();
    if (!thread) {
        return false;
    }

    if (state() == ThreadState::Suspended) {
        for (;;) {
            const std::uint32_t previous = resume();
            if (previous == 0 || previous == 0xFFFFFFFF) {
                break;
            }
        }
        setState(ThreadState::Run);
    }

    _worker->notifyShutdown();

    const std::uint32_t result = waitForSingle(*thread, timeoutMs);
    if (result == WAIT_OBJECT_0) {
        return true;
    }
    logWaitFailure(result, getLastError(), context);
    // No thread can be killed safely on POSIX: it is left to end by itself, and
    // it keeps this object and its worker alive until it does.
    return true;
}

} // namespace wyr::windows::system::threading
