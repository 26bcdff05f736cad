#pragma once

#include <cstdint>

namespace wyr::windows::system {

using ThreadId = std::uint32_t;

// The kernel's id of the calling thread: unique among running threads, never 0.
ThreadId currentThreadId() noexcept;

} // namespace wyr::windows::system
