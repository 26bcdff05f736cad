#include "wyr/windows/system/MessageQueue.h"

#include "wyr/windows/system/MessageWindow.h"
#include "wyr/windows/system/SystemError.h"

#include <algorithm>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace wyr::windows::system {

namespace {

constexpr std::chrono::milliseconds kMinimumTimerPeriod{10};

struct Registry {
    std::mutex lock;
    std::unordered_map<ThreadId, std::shared_ptr<MessageQueue>> queues;
};

Registry& registry() {
    static auto* const instance = new Registry; // posts may come from static destructors
    return *instance;
}

bool inRange(MessageId id, MessageId min, MessageId max) {
    return (min == 0 && max == 0) || (id >= min && id <= max);
}

} // namespace

// Owns the calling thread's queue; when the thread ends the queue closes, is
// forgotten, and what was still posted to its windows is discarded by them.
class QueueHolder {
public:
    ~QueueHolder() {
        if (!queue) {
            return;
        }
        {
            auto& r = registry();
            std::lock_guard guard(r.lock);
            r.queues.erase(queue->owner());
        }
        queue->close();
    }
    std::shared_ptr<MessageQueue> queue;
};

namespace {
thread_local QueueHolder t_queue;
}

std::shared_ptr<MessageQueue> MessageQueue::current() {
    if (t_queue.queue) {
        return t_queue.queue;
    }
    std::shared_ptr<MessageQueue> queue(new MessageQueue(currentThreadId()));
    if (!queue->valid()) {
        return nullptr;
    }
    {
        auto& r = registry();
        std::lock_guard guard(r.lock);
        r.queues[queue->owner()] = queue;
    }
    t_queue.queue = queue;
    return queue;
}

std::shared_ptr<MessageQueue> MessageQueue::ofThread(ThreadId thread) {
    auto& r = registry();
    std::lock_guard guard(r.lock);
    const auto it = r.queues.find(thread);
    return it == r.queues.end() ? nullptr : it->second;
}

MessageQueue::MessageQueue(ThreadId owner)
    : _owner(owner), _posted(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      _timerFd(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
      _wake(::epoll_create1(EPOLL_CLOEXEC)) {
    bool ok = _posted && _timerFd && _wake;
    for (const int fd : {_posted.get(), _timerFd.get()}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        ok = ok && ::epoll_ctl(_wake.get(), EPOLL_CTL_ADD, fd, &ev) == 0;
    }
    if (!ok) {
        setLastErrorFromErrno();
        _wake.reset();
    }
}

MessageQueue::~MessageQueue() = default;

void MessageQueue::close() {
    std::deque<Entry> pending;
    {
        std::lock_guard guard(_lock);
        _closed = true;
        pending.swap(_messages);
        _timers.clear();
        updateWakeLocked();
    }
    for (const auto& entry : pending) {
        if (entry.message.window != 0) {
            MessageWindow::discardUndelivered(entry.message);
        }
    }
}

bool MessageQueue::post(const Message& message) {
    std::lock_guard guard(_lock);
    if (_closed) {
        setLastError(ERROR_INVALID_THREAD_ID);
        return false;
    }
    try {
        _messages.push_back(Entry{++_sequence, message});
    } catch (const std::bad_alloc&) {
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (_messages.size() == 1) {
        updateWakeLocked();
    }
    return true;
}

bool MessageQueue::peek(Message& out, WindowHandle window, MessageId min, MessageId max, unsigned flags) {
    std::lock_guard guard(_lock);
    const bool remove = (flags & PM_REMOVE) != 0;
    for (auto it = _messages.begin(); it != _messages.end(); ++it) {
        if ((window == 0 || it->message.window == window) && inRange(it->message.message, min, max)) {
            out = it->message;
            if (remove) {
                _messages.erase(it);
                if (_messages.empty()) {
                    updateWakeLocked();
                }
            }
            return true;
        }
    }
    if (window == 0 && inRange(WM_TIMER, min, max)) {
        return takeDueTimerLocked(out, Clock::now(), remove);
    }
    return false;
}

std::uint64_t MessageQueue::postedCount() const {
    std::lock_guard guard(_lock);
    return _sequence;
}

bool MessageQueue::peekUpTo(Message& out, std::uint64_t lastSequence, Clock::time_point now) {
    std::lock_guard guard(_lock);
    if (!_messages.empty() && _messages.front().sequence <= lastSequence) {
        out = _messages.front().message;
        _messages.pop_front();
        if (_messages.empty()) {
            updateWakeLocked();
        }
        return true;
    }
    return takeDueTimerLocked(out, now, true);
}

bool MessageQueue::takeDueTimerLocked(Message& out, Clock::time_point now, bool remove) {
    const auto due = std::min_element(_timers.begin(), _timers.end(), [](const auto& a, const auto& b) {
        return a.second.due < b.second.due;
    });
    if (due == _timers.end() || due->second.due > now) {
        updateWakeLocked();
        return false;
    }
    out = Message{0, WM_TIMER, due->first, 0};
    if (remove) {
        due->second.due = Clock::now() + due->second.period;
        updateWakeLocked();
    }
    return true;
}

TimerId MessageQueue::setTimer(std::uint32_t periodMs, TimerCallback callback) {
    std::lock_guard guard(_lock);
    if (_closed || !callback) {
        setLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto period = std::max(std::chrono::milliseconds(periodMs), kMinimumTimerPeriod);
    const TimerId id = _nextTimer++;
    _timers.emplace(id, Timer{period, Clock::now() + period, std::move(callback)});
    updateWakeLocked();
    return id;
}

bool MessageQueue::killTimer(TimerId id) {
    std::lock_guard guard(_lock);
    if (_timers.erase(id) == 0) {
        setLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    updateWakeLocked();
    return true;
}

bool MessageQueue::fireTimer(TimerId id) {
    TimerCallback callback;
    {
        std::lock_guard guard(_lock);
        const auto it = _timers.find(id);
        if (it == _timers.end()) {
            return false;
        }
        callback = it->second.callback; // a copy: the callback may kill its own timer
    }
    callback(id);
    return true;
}

void MessageQueue::removeWindowMessages(WindowHandle window,
                                        const std::function<void(const Message&)>& discard) {
    std::vector<Message> removed;
    {
        std::lock_guard guard(_lock);
        for (auto it = _messages.begin(); it != _messages.end();) {
            if (it->message.window == window) {
                removed.push_back(it->message);
                it = _messages.erase(it);
            } else {
                ++it;
            }
        }
        updateWakeLocked();
    }
    for (const auto& message : removed) {
        discard(message);
    }
}

void MessageQueue::updateWakeLocked() {
    // The posted descriptor mirrors "a message waits"; the timer descriptor is armed
    // for the earliest due timer.
    std::uint64_t value = 0;
    [[maybe_unused]] auto n = ::read(_posted.get(), &value, sizeof value);
    if (!_messages.empty()) {
        const std::uint64_t one = 1;
        n = ::write(_posted.get(), &one, sizeof one);
    }
    n = ::read(_timerFd.get(), &value, sizeof value);
    itimerspec setting{};
    if (!_timers.empty()) {
        const auto earliest =
            std::min_element(_timers.begin(), _timers.end(), [](const auto& a, const auto& b) {
                return a.second.due < b.second.due;
            })->second.due;
        const auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(earliest.time_since_epoch()).count();
        setting.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
        setting.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
        if (setting.it_value.tv_sec == 0 && setting.it_value.tv_nsec == 0) {
            setting.it_value.tv_nsec = 1;
        }
    }
    ::timerfd_settime(_timerFd.get(), TFD_TIMER_ABSTIME, &setting, nullptr);
}

} // namespace wyr::windows::system
