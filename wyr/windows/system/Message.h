#pragma once

#include <cstdint>

namespace wyr::windows::system {

using MessageId = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
// Identifies a MessageWindow; 0 addresses the thread itself.
using WindowHandle = std::uint64_t;
using TimerId = std::uintptr_t;

inline constexpr MessageId WM_NULL = 0x0000;
inline constexpr MessageId WM_TIMER = 0x0113;
inline constexpr MessageId WM_USER = 0x0400;
inline constexpr MessageId WM_APP = 0x8000;
inline constexpr MessageId FIRST_REGISTERED_MESSAGE = 0xC000;

inline constexpr unsigned PM_NOREMOVE = 0x0000;
inline constexpr unsigned PM_REMOVE = 0x0001;

struct Message {
    WindowHandle window = 0;
    MessageId message = WM_NULL;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

} // namespace wyr::windows::system
