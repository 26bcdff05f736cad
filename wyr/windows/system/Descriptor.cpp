#include "wyr/windows/system/Descriptor.h"

#include <unistd.h>

namespace wyr::windows::system {

void Descriptor::reset(int fd) noexcept {
    if (_fd >= 0 && _fd != fd) {
        ::close(_fd);
    }
    _fd = fd;
}

} // namespace wyr::windows::system
