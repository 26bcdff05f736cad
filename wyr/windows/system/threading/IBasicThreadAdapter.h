#pragma once

#include <cstdint>

namespace wyr::windows::system::threading {

struct ThreadContext;

// The four hooks a worker class supplies to ThreadImpl<T>.
class IBasicThreadAdapter {
public:
    virtual ~IBasicThreadAdapter() = default;

    // On the new thread, before anybody else may talk to it. False refuses the
    // start; the thread's last error is then the reason.
    virtual bool initThread(ThreadContext* context) = 0;
    // On the worker thread after run, and after a refused initThread.
    virtual void exitThread() = 0;
    // On the thread that calls shutdown: must make run return soon.
    virtual void notifyShutdown() = 0;
    // The worker's main loop; its result becomes the thread's exit code.
    virtual std::uint32_t run() = 0;

protected:
    IBasicThreadAdapter() = default;
    IBasicThreadAdapter(const IBasicThreadAdapter&) = default;
    IBasicThreadAdapter& operator=(const IBasicThreadAdapter&) = default;
};

} // namespace wyr::windows::system::threading
