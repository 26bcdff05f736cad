#pragma once

#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/system/CurrentThread.h"
#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/RegisteredMessage.h"
#include "wyr/windows/system/Wait.h"
#include "wyr/windows/system/threading/IThread.h"
#include "wyr/windows/system/threading/MessageThreadAdapter.h"
#include "wyr/windows/system/threading/ThreadContext.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace test {

// Delivers, to nobody, what earlier tests' threads logged after their last collect,
// then listens.
struct FlushedLog {
    FlushedLog() { wyr::windows::logging::LogBeacon::instance().flush(); }
};
struct FreshLog : FlushedLog, LogCapture {
    explicit FreshLog(std::uint16_t mask = 0xFFFF) : LogCapture(mask) {}
};

namespace sys = wyr::windows::system;
namespace threading = wyr::windows::system::threading;

inline const sys::MessageId TM_TEST_PING =
    sys::registerMessage("TM_TEST_PING-{5B0F7A2E-3C41-4D6B-9E0A-1F2D3C4B5A69}");
inline const sys::MessageId TM_TEST_TEXT =
    sys::registerMessage("TM_TEST_TEXT-{0C8E4D1B-7A25-4F93-B6E1-2D3C4B5A6978}");

// A message-driven worker: records what it handles and how often its hooks ran.
class EchoWorker : public threading::MessageThreadAdapter {
public:
    EchoWorker() : MessageThreadAdapter("test::EchoWorker") {
        addHandler(TM_TEST_PING, [this](sys::WPARAM, sys::LPARAM value) { record(std::to_string(value)); });
        addHandler(
            TM_TEST_TEXT,
            [this](sys::WPARAM, sys::LPARAM text) { record(*reinterpret_cast<std::string*>(text)); },
            [this](sys::WPARAM, sys::LPARAM text) {
                delete reinterpret_cast<std::string*>(text);
                ++released;
            });
    }

    bool initThread(threading::ThreadContext* context) override {
        ++inits;
        workerThread = sys::currentThreadId();
        param = context->param;
        return MessageThreadAdapter::initThread(context);
    }
    void exitThread() override {
        ++exits;
        MessageThreadAdapter::exitThread();
    }
    std::uint32_t run() override {
        ++runs;
        return MessageThreadAdapter::run();
    }

    std::vector<std::string> handled() const {
        std::lock_guard guard(lock);
        return messages;
    }

    std::atomic<int> inits{0};
    std::atomic<int> exits{0};
    std::atomic<int> runs{0};
    std::atomic<int> released{0};
    std::atomic<sys::ThreadId> workerThread{0};
    std::atomic<void*> param{nullptr};

private:
    void record(const std::string& text) {
        std::lock_guard guard(lock);
        messages.push_back(text);
    }

    mutable std::mutex lock;
    std::vector<std::string> messages;
};

// Refuses to start with a chosen last error.
class RefusingWorker : public threading::IBasicThreadAdapter {
public:
    explicit RefusingWorker(sys::ErrorCode why) : reason(why) {}
    bool initThread(threading::ThreadContext*) override {
        sys::setLastError(reason);
        return false;
    }
    void exitThread() override { ++exits; }
    void notifyShutdown() override {}
    std::uint32_t run() override {
        ++runs;
        return 0;
    }

    const sys::ErrorCode reason;
    std::atomic<int> exits{0};
    std::atomic<int> runs{0};
};

// Changes its state in a loop, the point where a requested suspension takes hold,
// counting laps until it is told to stop.
class SpinningWorker : public threading::IBasicThreadAdapter {
public:
    bool initThread(threading::ThreadContext* context) override {
        thread = context->thread;
        return true;
    }
    void exitThread() override {}
    void notifyShutdown() override { stop = true; }
    std::uint32_t run() override {
        ++runs;
        while (!stop) {
            thread->setState(threading::ThreadState::Run);
            ++laps;
            sys::sleepMs(1);
        }
        return 7;
    }

    threading::IThread* thread = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<int> runs{0};
    std::atomic<long> laps{0};
};

// Ignores shutdown until the test lets it go, then still uses its thread object.
class StubbornWorker : public threading::IBasicThreadAdapter {
public:
    StubbornWorker(std::shared_ptr<sys::Event> gate, std::shared_ptr<std::atomic<bool>> gone)
        : release(std::move(gate)), destroyed(std::move(gone)) {}
    ~StubbornWorker() override { *destroyed = true; }

    bool initThread(threading::ThreadContext* context) override {
        thread = context->thread;
        return true;
    }
    void exitThread() override { thread->setExitCode(11); }
    void notifyShutdown() override {}
    std::uint32_t run() override {
        thread->setState(threading::ThreadState::Wait);
        sys::waitForSingle(*release, sys::INFINITE);
        thread->setState(threading::ThreadState::Run);
        return 3;
    }

    std::shared_ptr<sys::Event> release;
    std::shared_ptr<std::atomic<bool>> destroyed;
    threading::IThread* thread = nullptr;
};

} // namespace test
