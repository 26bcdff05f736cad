#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/CurrentThread.h"
#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/WaitableObject.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <pthread.h>

namespace wyr::windows::system::threading {

// One platform thread: what a thread handle stands for. Waiting on it waits for
// the thread's end, which is signalled after the thread's last action, its
// thread-local clean-up included (its message queue is gone by then).
//
// A thread starts with a suspend count of 1 and does not run its body before the
// count is back at 0. POSIX cannot stop a running thread from outside, so a
// suspension requested while the body runs takes effect at the thread's next
// suspension point: whenRunnable(), which the thread framework calls on every
// state change the worker makes itself (every worker does so at the top of its
// wait loop). The counts are exact; only the moment of parking differs.
//
// Threads are detached: nothing ever joins them, and a thread that never ends
// keeps what it uses alive through its own shared references.
class ThreadControl : public WaitableObject, private memory::NonCopyable {
public:
    using Body = std::function<void()>;

    // Starts a thread that will run `body` once resumed. Null when the platform
    // refused; `error` then holds the errno value. A stack size below the
    // platform's default gives the default.
    static std::shared_ptr<ThreadControl> start(Body body, std::uint32_t stackSize, int& error);

    ~ThreadControl() override;

    ThreadId threadId() const noexcept { return _tid; }
    bool isCurrentThread() const noexcept { return currentThreadId() == _tid; }
    bool ended() const noexcept { return _end.isSignalled(); }

    // The kernel keeps 15 bytes of a thread name; the name is cut at a character
    // boundary. False (last error set) when the thread is gone.
    bool setName(const char* name);
    bool getPriority(int& priority) const;
    bool setPriority(int priority);

    // Both return the previous suspend count; `record` runs under the lock, so a
    // state recorded there cannot interleave with the thread's own records.
    template <typename F> std::uint32_t suspend(F&& record) {
        std::lock_guard guard(_lock);
        const std::uint32_t previous = _suspendCount++;
        record();
        return previous;
    }
    template <typename F> std::uint32_t resume(F&& record) {
        std::lock_guard guard(_lock);
        const std::uint32_t previous = _suspendCount;
        if (_suspendCount > 0 && --_suspendCount == 0) {
            _runnable.notify_all();
        }
        record(_suspendCount);
        return previous;
    }
    // On this thread only: parks while the suspend count is above 0, then runs
    // `record` under the lock.
    template <typename F> void whenRunnable(F&& record) {
        std::unique_lock guard(_lock);
        _runnable.wait(guard, [this] { return _suspendCount == 0; });
        record();
    }
    // Runs `record` under the lock, on any thread.
    template <typename F> void locked(F&& record) {
        std::lock_guard guard(_lock);
        record();
    }

    int waitDescriptor() const noexcept override { return _end.waitDescriptor(); }
    Take tryTake() noexcept override { return _end.tryTake(); }

private:
    struct StartArgs;
    class EndNotice;

    ThreadControl();
    static void* trampoline(void* argument);
    void finish() noexcept;

    mutable std::mutex _lock;
    std::condition_variable _runnable;
    std::uint32_t _suspendCount = 1;
    ThreadId _tid = 0;
    bool _tidKnown = false;
    std::condition_variable _started;
    pthread_t _pthread{};
    // Set under the lock just before the thread exits: from then on its id and
    // pthread_t may name another thread.
    bool _gone = false;
    Event _end;
};

} // namespace wyr::windows::system::threading
