#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/CurrentThread.h"
#include "wyr/windows/system/Message.h"

#include <functional>

namespace wyr::windows::system {

// A hidden, message-only window: an address owned by the thread that created it.
// Posting to it, from any thread, enqueues into the owner's message queue;
// dispatching there calls the handler on the owner thread.
//
// A message that carries a heap record belongs to the receiver. The optional
// discard callback frees the records of messages that will never be handled,
// because the window was destroyed or its thread ended first.
class MessageWindow : private memory::NonCopyable {
public:
    using Handler = std::function<LRESULT(MessageId, WPARAM, LPARAM)>;
    using Discard = std::function<void(MessageId, WPARAM, LPARAM)>;

    // Creates the window for the calling thread (and that thread's queue).
    explicit MessageWindow(Handler handler, Discard discard = {});
    ~MessageWindow();

    // Destroys the window now: later posts fail, waiting messages are discarded.
    void destroy();

    WindowHandle handle() const noexcept { return _handle; }
    ThreadId ownerThread() const noexcept { return _owner; }
    bool exists() const { return isWindow(_handle); }

    // False with ERROR_INVALID_WINDOW_HANDLE when the window is gone, or
    // ERROR_INVALID_THREAD_ID when its thread has ended.
    bool post(MessageId message, WPARAM wParam, LPARAM lParam) const;

    static bool post(WindowHandle window, MessageId message, WPARAM wParam, LPARAM lParam);
    static bool isWindow(WindowHandle window);
    // Calls the window's handler; for dispatchMessage on the owner thread.
    static LRESULT dispatch(const Message& message);
    // Hands a message that will never be dispatched to its window's discard callback.
    static void discardUndelivered(const Message& message);

private:
    WindowHandle _handle = 0;
    ThreadId _owner = 0;
};

} // namespace wyr::windows::system
