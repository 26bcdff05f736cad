#include "wyr/windows/system/MessageWindow.h"

#include "wyr/windows/system/MessageQueue.h"
#include "wyr/windows/system/SystemError.h"

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
    bool destroyed = false;
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
    std::shared_ptr<WindowState> state;
    {
        auto& w = windows();
        std::lock_guard guard(w.lock);
        const auto it = w.byHandle.find(_handle);
        if (it == w.byHandle.end()) {
            return;
        }
        state = std::move(it->second);
        w.byHandle.erase(it);
    }
    {
        std::lock_guard guard(state->postLock);
        state->destroyed = true;
    }
    if (const auto queue = state->queue.lock()) {
        queue->removeWindowMessages(_handle, [&state](const Message& m) {
            if (state->discard) {
                state->discard(m.message, m.wParam, m.lParam);
            }
        });
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
    return find(window) != nullptr;
}

LRESULT MessageWindow::dispatch(const Message& message) {
    const auto state = find(message.window);
    if (!state) {
        return 0;
    }
    return state->handler ? state->handler(message.message, message.wParam, message.lParam) : 0;
}

void MessageWindow::discardUndelivered(const Message& message) {
    const auto state = find(message.window);
    if (state && state->discard) {
        state->discard(message.message, message.wParam, message.lParam);
    }
}

} // namespace wyr::windows::system
