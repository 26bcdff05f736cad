#pragma once

#include "wyr/windows/system/threading/IBasicThreadAdapter.h"
#include "wyr/windows/system/threading/IThread.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>

namespace wyr::windows::system::threading {

// The thread object proper, behind ThreadImpl<T>. It is shared between the owner
// and the running thread: a thread that outlives its owner (one that ignored
// shutdown past the time-out) keeps its object and worker alive, and the
// IThread its worker talks to is this one.
class ThreadCore final : public IThread, public std::enable_shared_from_this<ThreadCore> {
public:
    // `functionPrefix` is the owning class's full name, as log contexts show it:
    // "wyr::windows::system::threading::ThreadImpl<class X>".
    ThreadCore(std::unique_ptr<IBasicThreadAdapter> worker, std::string functionPrefix);
    ~ThreadCore() override;

    // The log-context name of ThreadImpl<T> for a worker type T.
    static std::string functionPrefixFor(const std::type_info& type, bool isClass);

    IBasicThreadAdapter* worker() override { return _worker.get(); }
    ThreadHandle handle() const override;
    ThreadId threadId() const override;
    const ThreadState& state() const override;
    ErrorCode getPriority(int& priority) const override;
    std::uint32_t exitCode() const override { return _exitCode.load(); }
    std::uint32_t setPriority(int priority) override;
    std::uint32_t suspend() override;
    std::uint32_t resume() override;
    void setState(const ThreadState& state) override;
    void setExitCode(std::uint32_t code) override { _exitCode.store(code); }
    void reset() override;
    std::string name() const override;

    ErrorCode create(const char* name, void* param, std::uint32_t flags, std::uint32_t stackSize,
                     void* security) override;
    bool shutdown(std::uint32_t timeoutMs) override;

private:
    std::string logContext(const char* threadName, const char* function) const;
    void storeState(const ThreadState& state) noexcept { _state.store(state.value()); }

    // Guards handle, id and name: the thread resets them itself when it ends.
    mutable std::mutex _lock;
    ThreadHandle _handle;
    ThreadId _threadId = 0;
    std::array<char, 260> _name{};
    std::atomic<int> _state;
    std::unique_ptr<IBasicThreadAdapter> _worker;
    std::atomic<std::uint32_t> _exitCode{0};
    const std::string _functionPrefix;
};

} // namespace wyr::windows::system::threading
