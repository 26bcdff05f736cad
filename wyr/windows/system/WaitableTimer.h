#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/Descriptor.h"
#include "wyr/windows/system/WaitableObject.h"

#include <chrono>
#include <cstdint>
#include <mutex>

namespace wyr::windows::system {

// A kernel timer that becomes signalled at its due time and then every period. A
// manual-reset timer stays signalled until it is set again; a synchronisation
// (auto-reset) timer releases one waiter per expiry.
class WaitableTimer : public WaitableObject, private memory::NonCopyable {
public:
    enum class Reset { Manual, Auto };

    explicit WaitableTimer(Reset reset);
    ~WaitableTimer() override = default;

    bool valid() const noexcept { return _epoll.valid() && _timer.valid() && _level.valid(); }

    // Absolute due time on the wall clock; period 0 fires once. Setting clears the signal.
    bool set(std::chrono::system_clock::time_point due, std::uint32_t periodMs = 0) noexcept;
    // Due time relative to now.
    bool setRelative(std::uint32_t dueMs, std::uint32_t periodMs = 0) noexcept;
    bool cancel() noexcept;

    int waitDescriptor() const noexcept override { return _epoll.get(); }
    Take tryTake() noexcept override;

private:
    bool arm(int flags, const struct itimerspec& setting) noexcept;
    // Moves expiries the timerfd counted into the signal; under _lock.
    void absorbExpiriesLocked() noexcept;

    const Reset _reset;
    std::mutex _lock;
    Descriptor _timer;
    Descriptor _level; // readable while signalled, so every waiter of a manual timer wakes
    Descriptor _epoll; // the one descriptor polled: timer or level
};

} // namespace wyr::windows::system
