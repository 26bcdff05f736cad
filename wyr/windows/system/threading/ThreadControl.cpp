#include "wyr/windows/system/threading/ThreadControl.h"

#include "wyr/windows/system/SystemError.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/resource.h>

namespace wyr::windows::system::threading {

struct ThreadControl::StartArgs {
    std::shared_ptr<ThreadControl> control;
    Body body;
};

// The first thread-local object with a destructor that a thread creates, so it is
// destroyed last: the thread's end is announced after every other thread-local
// clean-up (message queue, abandoned mutexes) has run.
class ThreadControl::EndNotice {
public:
    ~EndNotice() {
        if (control) {
            control->finish();
        }
    }
    std::shared_ptr<ThreadControl> control;
};

ThreadControl::ThreadControl() : _end(Event::Reset::Manual) {}

ThreadControl::~ThreadControl() = default;

std::shared_ptr<ThreadControl> ThreadControl::start(Body body, std::uint32_t stackSize, int& error) {
    std::shared_ptr<ThreadControl> control(new ThreadControl);
    if (!control->_end.valid()) {
        error = errno;
        return nullptr;
    }

    pthread_attr_t attributes;
    if ((error = ::pthread_attr_init(&attributes)) != 0) {
        return nullptr;
    }
    ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    std::size_t defaultStack = 0;
    if (::pthread_attr_getstacksize(&attributes, &defaultStack) == 0 && stackSize > defaultStack) {
        ::pthread_attr_setstacksize(&attributes, stackSize);
    }

    auto* args = new StartArgs{control, std::move(body)};
    pthread_t thread{};
    error = ::pthread_create(&thread, &attributes, &ThreadControl::trampoline, args);
    ::pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete args;
        return nullptr;
    }

    // The thread publishes its kernel id and parks; the id is known before any of
    // the body runs.
    std::unique_lock guard(control->_lock);
    control->_pthread = thread;
    control->_started.wait(guard, [&control] { return control->_tidKnown; });
    return control;
}

void* ThreadControl::trampoline(void* argument) {
    std::unique_ptr<StartArgs> args(static_cast<StartArgs*>(argument));
    thread_local EndNotice notice;
    notice.control = args->control;

    ThreadControl& self = *args->control;
    {
        std::unique_lock guard(self._lock);
        self._tid = currentThreadId();
        self._tidKnown = true;
        self._started.notify_all();
        self._runnable.wait(guard, [&self] { return self._suspendCount == 0; });
    }
    args->body();
    // Whatever the body holds (the thread object, the worker) is released before
    // the end is announced, so a waiter that saw the end may destroy them.
    args->body = nullptr;
    return nullptr;
}

void ThreadControl::finish() noexcept {
    {
        std::lock_guard guard(_lock);
        _gone = true;
    }
    _end.set();
}

bool ThreadControl::setName(const char* name) {
    // Cut at 15 bytes without splitting a UTF-8 sequence.
    std::size_t length = name == nullptr ? 0 : std::strlen(name);
    if (length > 15) {
        length = 15;
        while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    const std::string shortName(name == nullptr ? "" : name, length);
    std::lock_guard guard(_lock);
    if (_gone) {
        setLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const int result = ::pthread_setname_np(_pthread, shortName.c_str());
    if (result != 0) {
        setLastError(errorFromErrno(result));
        return false;
    }
    return true;
}

bool ThreadControl::getPriority(int& priority) const {
    std::lock_guard guard(_lock);
    if (_gone) {
        setLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    // On Linux the nice value of PRIO_PROCESS with a thread id is that thread's own.
    errno = 0;
    const int value = ::getpriority(PRIO_PROCESS, static_cast<id_t>(_tid));
    if (value == -1 && errno != 0) {
        setLastErrorFromErrno();
        return false;
    }
    priority = value;
    return true;
}

bool ThreadControl::setPriority(int priority) {
    std::lock_guard guard(_lock);
    if (_gone) {
        setLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(_tid), priority) != 0) {
        setLastErrorFromErrno();
        return false;
    }
    return true;
}

} // namespace wyr::windows::system::threading
