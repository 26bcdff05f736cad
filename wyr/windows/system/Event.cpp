#include "wyr/windows/system/Event.h"

#include "wyr/windows/system/SystemError.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace wyr::windows::system {

Event::Event(Reset reset, bool initiallySignalled)
    : _reset(reset), _signalled(initiallySignalled),
      _fd(::eventfd(initiallySignalled ? 1U : 0U, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!_fd) {
        setLastErrorFromErrno();
        _signalled = false;
    }
}

bool Event::set() noexcept {
    std::lock_guard guard(_lock);
    if (!_signalled) {
        const std::uint64_t one = 1;
        if (::write(_fd.get(), &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
            setLastErrorFromErrno();
            return false;
        }
        _signalled = true;
    }
    return true;
}

bool Event::reset() noexcept {
    std::lock_guard guard(_lock);
    if (_signalled) {
        clearDescriptor();
        _signalled = false;
    }
    return true;
}

bool Event::isSignalled() const noexcept {
    std::lock_guard guard(_lock);
    return _signalled;
}

WaitableObject::Take Event::tryTake() noexcept {
    std::lock_guard guard(_lock);
    if (!_signalled) {
        return Take::NotSignalled;
    }
    if (_reset == Reset::Auto) {
        clearDescriptor();
        _signalled = false;
    }
    return Take::Signalled;
}

void Event::clearDescriptor() noexcept {
    std::uint64_t value = 0;
    [[maybe_unused]] const auto n = ::read(_fd.get(), &value, sizeof value);
}

} // namespace wyr::windows::system
