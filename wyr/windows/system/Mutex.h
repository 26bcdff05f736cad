#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/WaitableObject.h"

#include <memory>
#include <string>

namespace wyr::windows::system {

namespace detail {
struct MutexState;
}

// A recursive mutex owned by a thread, waitable together with other objects. A named
// mutex is one object for the whole process: every Mutex constructed with the same
// name shares it. When the owner thread ends without releasing, the mutex is
// abandoned: the next waiter takes it and its wait reports WAIT_ABANDONED_0 + i.
class Mutex : public WaitableObject, private memory::NonCopyable {
public:
    explicit Mutex(bool initiallyOwned = false);
    // The initial ownership applies only when this call created the named object.
    explicit Mutex(const std::string& name, bool initiallyOwned = false);
    // Without it a literal name would pick the bool constructor.
    explicit Mutex(const char* name, bool initiallyOwned = false)
        : Mutex(std::string(name), initiallyOwned) {}
    ~Mutex() override;

    // False when the kernel refused a descriptor (the last error says why).
    bool valid() const noexcept;
    // True when a named mutex of that name existed already (ERROR_ALREADY_EXISTS).
    bool alreadyExisted() const noexcept { return _existed; }

    // Releases one level of ownership; false with ERROR_NOT_OWNER (288) when the
    // calling thread does not own the mutex.
    bool release() noexcept;

    int waitDescriptor() const noexcept override;
    Take tryTake() noexcept override;

private:
    std::shared_ptr<detail::MutexState> _state;
    bool _existed = false;
};

} // namespace wyr::windows::system
