#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/CurrentThread.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/threading/ThreadState.h"

#include <cstdint>
#include <memory>
#include <string>

namespace wyr::windows::system::threading {

class IBasicThreadAdapter;
class ThreadControl;

// A thread handle is shared: whoever waits on a thread keeps its own reference,
// so the thread may release the object's handle while somebody waits on it.
using ThreadHandle = std::shared_ptr<ThreadControl>;

// The only creation flag the framework interprets.
inline constexpr std::uint32_t CREATE_SUSPENDED = 0x00000004;

// A worker thread object. Everything but create and shutdown is an accessor.
class IThread : private memory::NonCopyable {
public:
    virtual ~IThread() = default;

    virtual IBasicThreadAdapter* worker() = 0;
    // Null while no thread exists.
    virtual ThreadHandle handle() const = 0;
    // 0 while no thread exists.
    virtual ThreadId threadId() const = 0;
    virtual const ThreadState& state() const = 0;
    // The thread's nice value (-20 highest .. 19 lowest, 0 normal). 6 without a
    // thread; the platform error when it cannot be read; else 0.
    virtual ErrorCode getPriority(int& priority) const = 0;
    virtual std::uint32_t exitCode() const = 0;
    // 6 without a thread; else 1 when the platform took the nice value, 0 when it
    // refused (the last error says why; raising priority needs privilege).
    virtual std::uint32_t setPriority(int priority) = 0;
    // 0xFFFFFFFF without a thread; else the previous suspend count. A thread
    // created suspended does not run before it is resumed; a running thread
    // stops at its next own state change (see ThreadControl).
    virtual std::uint32_t suspend() = 0;
    virtual std::uint32_t resume() = 0;
    // Ignored while no thread exists.
    virtual void setState(const ThreadState& state) = 0;
    virtual void setExitCode(std::uint32_t code) = 0;
    virtual void reset() = 0;
    // The full name given to create (the kernel keeps only 15 bytes of it).
    virtual std::string name() const = 0;

    // 0, 1247 when a thread exists, 164/87/1208 when the platform refused, or the
    // worker's initialisation error.
    virtual ErrorCode create(const char* name, void* param = nullptr, std::uint32_t flags = 0,
                             std::uint32_t stackSize = 0, void* security = nullptr) = 0;
    // False without a thread; true once it ended, and also when it did not end
    // within the time-out.
    virtual bool shutdown(std::uint32_t timeoutMs) = 0;

protected:
    IThread() = default;
};

} // namespace wyr::windows::system::threading
