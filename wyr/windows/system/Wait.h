#pragma once

#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/WaitableObject.h"

#include <cstdint>
#include <initializer_list>
#include <span>

namespace wyr::windows::system {

inline constexpr std::uint32_t INFINITE = 0xFFFFFFFF;
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_ABANDONED_0 = 0x80;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFF;
inline constexpr std::size_t MAXIMUM_WAIT_OBJECTS = 64;
// WAIT_TIMEOUT (258) is in SystemError.h.

// Waits until one of the objects is signalled or the time-out (ms, INFINITE for none)
// runs out. Returns WAIT_OBJECT_0 + i or WAIT_ABANDONED_0 + i for the lowest signalled
// index, WAIT_TIMEOUT, or WAIT_FAILED with the thread's last error set (6 for a null
// object, 87 for an empty or oversized set). A time-out of 0 tests and returns.
std::uint32_t waitForAny(std::span<WaitableObject* const> objects, std::uint32_t timeoutMs);
std::uint32_t waitForAny(std::initializer_list<WaitableObject*> objects, std::uint32_t timeoutMs);
std::uint32_t waitForSingle(WaitableObject& object, std::uint32_t timeoutMs);

// Sleeps without waking for anything; the protocol's own pauses only.
void sleepMs(std::uint32_t ms);

} // namespace wyr::windows::system
