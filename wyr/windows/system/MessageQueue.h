#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/CurrentThread.h"
#include "wyr/windows/system/Descriptor.h"
#include "wyr/windows/system/Message.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace wyr::windows::system {

// The message queue of one thread. Any thread may post to it; only the owner
// peeks, dispatches and runs its timers. A queue exists from the first time its
// thread asks for it until the thread ends; posting after that fails.
//
// Its wake descriptor is readable while a posted message waits or a timer is due,
// so an event loop (Qt's, or runUntil) can sleep on it.
class MessageQueue : private memory::NonCopyable {
public:
    using Clock = std::chrono::steady_clock;
    using TimerCallback = std::function<void(TimerId)>;

    // The calling thread's queue, created on first use. Null only when the kernel
    // refuses descriptors (last error set).
    static std::shared_ptr<MessageQueue> current();
    // The queue of a thread, null when it has none (never asked, or ended).
    static std::shared_ptr<MessageQueue> ofThread(ThreadId thread);

    ~MessageQueue();

    ThreadId owner() const noexcept { return _owner; }
    int wakeDescriptor() const noexcept { return _wake.get(); }

    // False with ERROR_INVALID_THREAD_ID once the owner thread has ended.
    bool post(const Message& message);

    // The first waiting message for `window` (0: any) in [min, max] (0, 0: any);
    // due timers come after posted messages. Owner thread only.
    bool peek(Message& out, WindowHandle window, MessageId min, MessageId max, unsigned flags);

    // Thread timers: the callback runs on the owner thread when it dispatches the
    // WM_TIMER message, that is only while the owner pumps. Periods below 10 ms are
    // raised to 10 ms. Returns 0 on failure.
    TimerId setTimer(std::uint32_t periodMs, TimerCallback callback);
    bool killTimer(TimerId id);
    // Runs the callback of a timer message; false when the timer is gone.
    bool fireTimer(TimerId id);

    // Removes the waiting messages for a window, handing each to `discard`.
    void removeWindowMessages(WindowHandle window, const std::function<void(const Message&)>& discard);

    // Number of posted messages so far: pump() dispatches only what was posted
    // before it started, so a handler that posts again cannot keep it running.
    std::uint64_t postedCount() const;
    bool peekUpTo(Message& out, std::uint64_t lastSequence, Clock::time_point now);

private:
    struct Entry {
        std::uint64_t sequence;
        Message message;
    };
    struct Timer {
        std::chrono::milliseconds period;
        Clock::time_point due;
        TimerCallback callback;
    };

    explicit MessageQueue(ThreadId owner);
    bool valid() const noexcept { return _wake.valid(); }
    void close();
    void updateWakeLocked();
    bool takeDueTimerLocked(Message& out, Clock::time_point now, bool remove);
    friend class QueueHolder;

    const ThreadId _owner;
    mutable std::mutex _lock;
    bool _closed = false;
    std::deque<Entry> _messages;
    std::uint64_t _sequence = 0;
    std::map<TimerId, Timer> _timers;
    TimerId _nextTimer = 1;
    Descriptor _posted;  // eventfd, readable while _messages is not empty
    Descriptor _timerFd; // timerfd, readable when the earliest timer is due
    Descriptor _wake;    // epoll over both
};

} // namespace wyr::windows::system
