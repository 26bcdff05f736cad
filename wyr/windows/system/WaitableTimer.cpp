#include "wyr/windows/system/WaitableTimer.h"

#include "wyr/windows/system/SystemError.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace wyr::windows::system {

namespace {

timespec toTimespec(std::chrono::nanoseconds ns) {
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(ns);
    return timespec{static_cast<time_t>(secs.count()), static_cast<long>((ns - secs).count())};
}

bool addToEpoll(int epoll, int fd) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    return ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) == 0;
}

} // namespace

WaitableTimer::WaitableTimer(Reset reset)
    : _reset(reset), _timer(::timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK)),
      _level(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), _epoll(::epoll_create1(EPOLL_CLOEXEC)) {
    if (!_timer || !_level || !_epoll || !addToEpoll(_epoll.get(), _timer.get()) ||
        !addToEpoll(_epoll.get(), _level.get())) {
        setLastErrorFromErrno();
        _epoll.reset();
    }
}

bool WaitableTimer::arm(int flags, const itimerspec& setting) noexcept {
    std::lock_guard guard(_lock);
    std::uint64_t value = 0;
    // Forget the signal and the expiries of the previous setting; a due time already
    // past expires at once and must survive.
    [[maybe_unused]] auto n = ::read(_level.get(), &value, sizeof value);
    n = ::read(_timer.get(), &value, sizeof value);
    if (::timerfd_settime(_timer.get(), flags, &setting, nullptr) != 0) {
        setLastErrorFromErrno();
        return false;
    }
    return true;
}

bool WaitableTimer::set(std::chrono::system_clock::time_point due, std::uint32_t periodMs) noexcept {
    itimerspec setting{};
    setting.it_value = toTimespec(due.time_since_epoch());
    if (setting.it_value.tv_sec == 0 && setting.it_value.tv_nsec == 0) {
        setting.it_value.tv_nsec = 1; // zero would disarm; a due time in the past fires at once
    }
    setting.it_interval = toTimespec(std::chrono::milliseconds(periodMs));
    return arm(TFD_TIMER_ABSTIME, setting);
}

bool WaitableTimer::setRelative(std::uint32_t dueMs, std::uint32_t periodMs) noexcept {
    itimerspec setting{};
    setting.it_value = toTimespec(std::chrono::milliseconds(dueMs));
    if (dueMs == 0) {
        setting.it_value.tv_nsec = 1;
    }
    setting.it_interval = toTimespec(std::chrono::milliseconds(periodMs));
    return arm(0, setting);
}

bool WaitableTimer::cancel() noexcept {
    // Like the platform's, cancelling stops future expiries but keeps a signal already
    // there; disarming the timerfd would forget an expiry nobody has waited on yet.
    std::lock_guard guard(_lock);
    absorbExpiriesLocked();
    const itimerspec off{};
    if (::timerfd_settime(_timer.get(), 0, &off, nullptr) != 0) {
        setLastErrorFromErrno();
        return false;
    }
    return true;
}

void WaitableTimer::absorbExpiriesLocked() noexcept {
    std::uint64_t expiries = 0;
    if (::read(_timer.get(), &expiries, sizeof expiries) == static_cast<ssize_t>(sizeof expiries) &&
        expiries > 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(_level.get(), &one, sizeof one);
    }
}

WaitableObject::Take WaitableTimer::tryTake() noexcept {
    std::lock_guard guard(_lock);
    std::uint64_t level = 0;
    absorbExpiriesLocked();
    if (_reset == Reset::Manual) {
        // Peek without consuming: readable means signalled.
        pollfd p{_level.get(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 ? Take::Signalled : Take::NotSignalled;
    }
    // Auto-reset: the signal is a flag, not a count; the taker clears it.
    if (::read(_level.get(), &level, sizeof level) != static_cast<ssize_t>(sizeof level) || level == 0) {
        return Take::NotSignalled;
    }
    return Take::Signalled;
}

} // namespace wyr::windows::system
