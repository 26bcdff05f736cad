#pragma once

#include <poll.h>

namespace wyr::windows::system {

// Something a thread can wait for. Each object exposes a descriptor that poll()
// reports ready whenever the object may have become signalled; the wait then asks
// the object, in index order, to take its signal. Taking is atomic, so an
// auto-reset event or a mutex goes to exactly one waiter.
class WaitableObject {
public:
    enum class Take { NotSignalled, Signalled, Abandoned };

    virtual ~WaitableObject() = default;

    virtual int waitDescriptor() const noexcept = 0;
    virtual short waitEvents() const noexcept { return POLLIN; }

    // Consumes the signal when the object's kind says so (auto-reset, mutex).
    virtual Take tryTake() noexcept = 0;

protected:
    WaitableObject() = default;
    WaitableObject(const WaitableObject&) = default;
    WaitableObject& operator=(const WaitableObject&) = default;
};

} // namespace wyr::windows::system
