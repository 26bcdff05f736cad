#include "wyr/windows/system/MessageLoop.h"

#include "wyr/windows/system/MessageWindow.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/Wait.h"

#include <cerrno>
#include <poll.h>

namespace wyr::windows::system {

bool postThreadMessage(ThreadId thread, MessageId message, WPARAM wParam, LPARAM lParam) {
    const auto queue = MessageQueue::ofThread(thread);
    if (!queue) {
        setLastError(ERROR_INVALID_THREAD_ID);
        return false;
    }
    return queue->post(Message{0, message, wParam, lParam});
}

bool peekMessage(Message& out, WindowHandle window, MessageId min, MessageId max, unsigned flags) {
    const auto queue = MessageQueue::current();
    return queue && queue->peek(out, window, min, max, flags);
}

LRESULT dispatchMessage(const Message& message) {
    if (message.window != 0) {
        return MessageWindow::dispatch(message);
    }
    if (message.message == WM_TIMER) {
        if (const auto queue = MessageQueue::current()) {
            queue->fireTimer(static_cast<TimerId>(message.wParam));
        }
    }
    return 0;
}

TimerId setTimer(std::uint32_t periodMs, MessageQueue::TimerCallback callback) {
    const auto queue = MessageQueue::current();
    return queue ? queue->setTimer(periodMs, std::move(callback)) : 0;
}

bool killTimer(TimerId id) {
    const auto queue = MessageQueue::current();
    return queue && queue->killTimer(id);
}

std::size_t pump() {
    const auto queue = MessageQueue::current();
    if (!queue) {
        return 0;
    }
    const auto last = queue->postedCount();
    const auto now = MessageQueue::Clock::now();
    std::size_t dispatched = 0;
    Message message;
    while (queue->peekUpTo(message, last, now)) {
        dispatchMessage(message);
        ++dispatched;
    }
    return dispatched;
}

bool runUntil(const std::function<bool()>& predicate, std::uint32_t timeoutMs) {
    const auto queue = MessageQueue::current();
    const bool infinite = timeoutMs == INFINITE;
    const auto deadline = MessageQueue::Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
    for (;;) {
        pump();
        if (predicate()) {
            return true;
        }
        int timeout = -1;
        if (!infinite) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - MessageQueue::Clock::now()).count();
            if (left <= 0) {
                return predicate();
            }
            timeout = static_cast<int>(left);
        }
        if (!queue) {
            sleepMs(timeout < 0 || timeout > 10 ? 10 : static_cast<std::uint32_t>(timeout));
            continue;
        }
        pollfd p{queue->wakeDescriptor(), POLLIN, 0};
        // A predicate may depend on other threads; wake now and then to re-check it.
        const int slice = timeout < 0 || timeout > 50 ? 50 : timeout;
        if (::poll(&p, 1, slice) < 0 && errno != EINTR) {
            setLastErrorFromErrno();
            return predicate();
        }
    }
}

int messageQueueDescriptor() {
    const auto queue = MessageQueue::current();
    return queue ? queue->wakeDescriptor() : -1;
}

} // namespace wyr::windows::system
