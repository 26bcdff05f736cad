#include "wyr/windows/system/CurrentThread.h"

#include <unistd.h>

namespace wyr::windows::system {

ThreadId currentThreadId() noexcept {
    thread_local const ThreadId id = static_cast<ThreadId>(::gettid());
    return id;
}

} // namespace wyr::windows::system
