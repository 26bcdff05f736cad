#include "wyr/windows/system/MessageWindow.h"

#include "wyr/windows/system/MessageQueue.h"
#include "wyr/windows/system/RegisteredMessage.h"
#include "wyr/windows/system/SystemError.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace wyr::windows::system {

namespace {

struct WindowState {
    MessageWindow::Handler handler;
    MessageWindow::Discard discard;
    std::weak_ptr<MessageQueue> queue;
    // Orders posts against destroy(): a post either lands before the waiting
    // messages are discarded or is refused, never after them (and lost).
    std::mutex postLock;
    std::atomic<bool> destroyed{false};
};

struct Windows {
    std::mutex lock;
    WindowHandle next = 1;
    std::unordered_map<WindowHandle, std::shared_ptr<WindowState>> byHandle;
};

Windows& windows() {
    static auto* const instance = new Windows; // windows may be destroyed by static destructors
    return *instance;
}

std::shared_ptr<WindowState> find(WindowHandle handle) {
    auto& w = windows();
    std::lock_guard guard(w.lock);
    const auto it = w.byHandle.find(handle);
    return it == w.byHandle.end() ? nullptr : it->second;
}

// Posted by a destroy on another thread behind the window's last messages: when
// the owner reaches it, no message of the window can still be in its hands.
MessageId reapMessage() {
    static const MessageId id =
        registerMessage("WYR_REAP_DESTROYED_WINDOW-{5B0E63A1-2C4F-4C77-9D8E-31A6F0B7C2D4}");
    return id;
}

void erase(WindowHandle handle) {
    auto& w = windows();
    std::lock_guard guard(w.lock);
    w.byHandle.erase(handle);
}

// A destroyed window's message that the owner thread took before the destroy:
// its record goes to the discard callback, as if it had still been waiting.
void retire(const WindowState& state, const Message& message) {
    if (message.message == reapMessage()) {
        erase(message.window);
    } else if (state.discard) {
        state.discard(message.message, message.wParam, message.lParam);
    }
}

} // namespace

MessageWindow::MessageWindow(Handler handler, Discard discard) : _owner(currentThreadId()) {
    auto state = std::make_shared<WindowState>();
    state->handler = std::move(handler);
    state->discard = std::move(discard);
    state->queue = MessageQueue::current();
    auto& w = windows();
    std::lock_guard guard(w.lock);
    _handle = w.next++;
    w.byHandle.emplace(_handle, std::move(state));
}

MessageWindow::~MessageWindow() {
    destroy();
}

void MessageWindow::destroy() {
    std::shared_ptr<WindowState> state = find(_handle);
    if (!state || state->destroyed.exchange(true)) {
        return;
    }
    {
        // Posts that got past their check have landed; later ones are refused.
        std::lock_guard guard(state->postLock);
    }
    const auto queue = state->queue.lock();
    if (queue) {
        queue->removeWindowMessages(_handle, [&state](const Message& m) {
            if (state->discard) {
                state->discard(m.message, m.wParam, m.lParam);
            }
        });
    }
    // The owner thread may be pumping a message it already took from the queue.
    // The entry stays, marked destroyed, until the owner reaches the reap message
    // (or its queue closes), so that message is discarded instead of lost.
    const bool ownerMayHoldOne = queue && currentThreadId() != _owner;
    if (!ownerMayHoldOne || !queue->post(Message{_handle, reapMessage(), 0, 0})) {
        erase(_handle);
    }
}

bool MessageWindow::post(MessageId message, WPARAM wParam, LPARAM lParam) const {
    return post(_handle, message, wParam, lParam);
}

bool MessageWindow::post(WindowHandle window, MessageId message, WPARAM wParam, LPARAM lParam) {
    const auto state = find(window);
    if (!state) {
        setLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    std::lock_guard guard(state->postLock);
    if (state->destroyed) {
        setLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    const auto queue = state->queue.lock();
    if (!queue) {
        setLastError(ERROR_INVALID_THREAD_ID);
        return false;
    }
    return queue->post(Message{window, message, wParam, lParam});
}

bool MessageWindow::isWindow(WindowHandle window) {
    const auto state = find(window);
    return state && !state->destroyed;
}

LRESULT MessageWindow::dispatch(const Message& message) {
    const auto state = find(message.window);
    if (!state) {
        return 0;
    }
    if (state->destroyed) {
        retire(*state, message);
        return 0;
    }
    return state->handler ? state->handler(message.message, message.wParam, message.lParam) : 0;
}

void MessageWindow::discardUndelivered(const Message& message) {
    if (const auto state = find(message.window)) {
        retire(*state, message);
    }
}

} // namespace wyr::windows::system
