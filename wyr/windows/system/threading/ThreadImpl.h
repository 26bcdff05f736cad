#pragma once

#include "wyr/windows/system/threading/IBasicThreadAdapter.h"
#include "wyr/windows/system/threading/IThread.h"
#include "wyr/windows/system/threading/ThreadCore.h"

#include <memory>
#include <type_traits>
#include <utility>

namespace wyr::windows::system::threading {

// The worker thread of worker class T (an IBasicThreadAdapter). The worker is
// constructed with this object. Destroying it neither stops nor waits for a
// running thread (owners call shutdown first); a thread that is still running
// keeps the worker alive until it ends.
template <typename T> class ThreadImpl final : public IThread {
    static_assert(std::is_base_of_v<IBasicThreadAdapter, T>, "a worker implements IBasicThreadAdapter");

public:
    template <typename... Args>
    requires std::is_constructible_v<T, Args...>
    explicit ThreadImpl(Args&&... args) {
        auto worker = std::make_unique<T>(std::forward<Args>(args)...);
        _object = worker.get();
        _core = std::make_shared<ThreadCore>(std::move(worker),
                                             ThreadCore::functionPrefixFor(typeid(T), std::is_class_v<T>));
    }
    ~ThreadImpl() override = default;

    // The worker with its own type, for the operations beyond the hooks.
    T& object() noexcept { return *_object; }
    const T& object() const noexcept { return *_object; }

    IBasicThreadAdapter* worker() override { return _core->worker(); }
    ThreadHandle handle() const override { return _core->handle(); }
    ThreadId threadId() const override { return _core->threadId(); }
    const ThreadState& state() const override { return _core->state(); }
    ErrorCode getPriority(int& priority) const override { return _core->getPriority(priority); }
    std::uint32_t exitCode() const override { return _core->exitCode(); }
    std::uint32_t setPriority(int priority) override { return _core->setPriority(priority); }
    std::uint32_t suspend() override { return _core->suspend(); }
    std::uint32_t resume() override { return _core->resume(); }
    void setState(const ThreadState& state) override { _core->setState(state); }
    void setExitCode(std::uint32_t code) override { _core->setExitCode(code); }
    void reset() override { _core->reset(); }
    std::string name() const override { return _core->name(); }

    ErrorCode create(const char* name, void* param = nullptr, std::uint32_t flags = 0,
                     std::uint32_t stackSize = 0, void* security = nullptr) override {
        return _core->create(name, param, flags, stackSize, security);
    }
    bool shutdown(std::uint32_t timeoutMs) override { return _core->shutdown(timeoutMs); }

private:
    std::shared_ptr<ThreadCore> _core;
    T* _object = nullptr;
};

} // namespace wyr::windows::system::threading
