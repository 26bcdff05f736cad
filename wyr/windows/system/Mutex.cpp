#include "wyr/windows/system/Mutex.h"

#include "wyr/windows/system/CurrentThread.h"
#include "wyr/windows/system/Descriptor.h"
#include "wyr/windows/system/SystemError.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace wyr::windows::system {

namespace detail {

// The descriptor is readable exactly while nobody owns the mutex.
struct MutexState {
    std::mutex lock;
    ThreadId owner = 0;
    unsigned recursion = 0;
    bool abandoned = false;
    Descriptor fd{::eventfd(1, EFD_CLOEXEC | EFD_NONBLOCK)};

    void markFree() noexcept {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(fd.get(), &one, sizeof one);
    }
    void markOwned() noexcept {
        std::uint64_t value = 0;
        [[maybe_unused]] const auto n = ::read(fd.get(), &value, sizeof value);
    }
};

} // namespace detail

namespace {

using detail::MutexState;

// Mutexes the current thread owns; whatever is still owned when the thread ends
// is abandoned to the next waiter.
class HeldMutexes {
public:
    ~HeldMutexes() {
        const ThreadId self = currentThreadId();
        for (const auto& state : _held) {
            std::lock_guard guard(state->lock);
            if (state->owner == self) {
                state->owner = 0;
                state->recursion = 0;
                state->abandoned = true;
                state->markFree();
            }
        }
    }
    void add(std::shared_ptr<MutexState> state) { _held.push_back(std::move(state)); }
    void remove(const MutexState* state) {
        const auto it =
            std::find_if(_held.begin(), _held.end(), [state](const auto& s) { return s.get() == state; });
        if (it != _held.end()) {
            _held.erase(it);
        }
    }

private:
    std::vector<std::shared_ptr<MutexState>> _held;
};

thread_local HeldMutexes t_held;

std::mutex g_namesLock;
std::map<std::string, std::weak_ptr<MutexState>>& namedMutexes() {
    static std::map<std::string, std::weak_ptr<MutexState>> names;
    return names;
}

WaitableObject::Take take(const std::shared_ptr<MutexState>& state) noexcept {
    const ThreadId self = currentThreadId();
    std::lock_guard guard(state->lock);
    if (state->owner == self) {
        ++state->recursion;
        return WaitableObject::Take::Signalled;
    }
    if (state->owner != 0) {
        return WaitableObject::Take::NotSignalled;
    }
    state->owner = self;
    state->recursion = 1;
    state->markOwned();
    try {
        t_held.add(state);
    } catch (...) {
        // Out of memory: ownership still holds, only abandonment tracking is lost.
    }
    const bool wasAbandoned = std::exchange(state->abandoned, false);
    return wasAbandoned ? WaitableObject::Take::Abandoned : WaitableObject::Take::Signalled;
}

} // namespace

Mutex::Mutex(bool initiallyOwned) : _state(std::make_shared<MutexState>()) {
    if (!_state->fd) {
        setLastErrorFromErrno();
    } else if (initiallyOwned) {
        take(_state);
    }
}

Mutex::Mutex(const std::string& name, bool initiallyOwned) {
    {
        std::lock_guard guard(g_namesLock);
        auto& slot = namedMutexes()[name];
        _state = slot.lock();
        _existed = _state != nullptr;
        if (!_state) {
            _state = std::make_shared<MutexState>();
            slot = _state;
        }
    }
    if (!_state->fd) {
        setLastErrorFromErrno();
    } else if (_existed) {
        setLastError(ERROR_ALREADY_EXISTS);
    } else if (initiallyOwned) {
        take(_state);
    }
}

Mutex::~Mutex() = default;

bool Mutex::valid() const noexcept {
    return _state->fd.valid();
}

bool Mutex::release() noexcept {
    std::lock_guard guard(_state->lock);
    if (_state->owner != currentThreadId() || _state->recursion == 0) {
        setLastError(ERROR_NOT_OWNER);
        return false;
    }
    if (--_state->recursion == 0) {
        _state->owner = 0;
        _state->markFree();
        t_held.remove(_state.get());
    }
    return true;
}

int Mutex::waitDescriptor() const noexcept {
    return _state->fd.get();
}

WaitableObject::Take Mutex::tryTake() noexcept {
    return take(_state);
}

} // namespace wyr::windows::system
