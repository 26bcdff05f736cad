#pragma once

#include "wyr/windows/system/CurrentThread.h"
#include "wyr/windows/system/Message.h"
#include "wyr/windows/system/MessageQueue.h"

#include <cstdint>
#include <functional>

namespace wyr::windows::system {

// Posts a message with no window to a thread's queue. False with
// ERROR_INVALID_THREAD_ID when the thread has no queue (never made one, or ended).
bool postThreadMessage(ThreadId thread, MessageId message, WPARAM wParam, LPARAM lParam);

// The calling thread's first waiting message matching the filter (window 0: any;
// range 0, 0: any). Creates the thread's queue, so that posts to it succeed.
bool peekMessage(Message& out, WindowHandle window, MessageId min, MessageId max, unsigned flags);

// Calls the message's window handler, or the callback of a thread timer.
LRESULT dispatchMessage(const Message& message);

// Thread timers of the calling thread; the callback runs only while it pumps.
TimerId setTimer(std::uint32_t periodMs, MessageQueue::TimerCallback callback);
bool killTimer(TimerId id);

// The user-interface loop on the calling thread. pump() dispatches what was posted
// before it started and the timers due then, and returns how many it dispatched.
std::size_t pump();

// Pumps until the predicate holds or the time-out (ms, INFINITE for none) runs
// out, sleeping on the queue in between. Returns the predicate's last value.
bool runUntil(const std::function<bool()>& predicate, std::uint32_t timeoutMs);

// The descriptor a GUI loop watches to pump the calling thread's queue.
int messageQueueDescriptor();

} // namespace wyr::windows::system
