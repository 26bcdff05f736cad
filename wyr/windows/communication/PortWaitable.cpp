#include "wyr/windows/communication/PortWaitable.h"

#include <cerrno>

namespace wyr::windows::communication {

system::WaitableObject::Take PortWaitable::tryTake() noexcept {
    pollfd entry{_descriptor, _events, 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, 0);
    } while (ready < 0 && errno == EINTR);
    // An invalid descriptor is left to the wait itself, which fails with it.
    if (ready <= 0 || (entry.revents & POLLNVAL) != 0) {
        return Take::NotSignalled;
    }
    const short wanted = static_cast<short>(_events | POLLHUP | POLLERR);
    return (entry.revents & wanted) != 0 ? Take::Signalled : Take::NotSignalled;
}

} // namespace wyr::windows::communication
