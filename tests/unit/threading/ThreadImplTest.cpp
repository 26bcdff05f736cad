#include "wyr/windows/system/threading/ThreadImpl.h"

#include "tests/unit/support/LogCapture.h"
#include "tests/unit/threading/DescriptorsExhausted.h"
#include "tests/unit/threading/TestWorkers.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/threading/ThreadControl.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace test;
using wyr::windows::system::threading::CREATE_SUSPENDED;
using wyr::windows::system::threading::ThreadImpl;
using wyr::windows::system::threading::ThreadState;

namespace {

constexpr std::uint32_t kGenerous = 10000;

const std::wstring kEchoCreate =
    L"::wyr::windows::system::threading::ThreadImpl<class test::EchoWorker>::create";
const std::wstring kEchoShutdown =
    L"::wyr::windows::system::threading::ThreadImpl<class test::EchoWorker>::shutdown";

bool eventually(const std::function<bool()>& condition) {
    return sys::runUntil(condition, kGenerous);
}

std::string kernelName(sys::ThreadId tid) {
    std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::vector<CapturedLog> withContext(LogCapture& log, const std::wstring& context) {
    std::vector<CapturedLog> found;
    for (const auto& r : log.collect()) {
        if (r.context == context) {
            found.push_back(r);
        }
    }
    return found;
}

} // namespace

TEST(ThreadState, EnumeratorsHaveTheirValuesAndNames) {
    const std::vector<std::pair<int, std::wstring>> expected{
        {1, L"Stopped"}, {2, L"Suspended"}, {3, L"Run"}, {4, L"Wait"}, {5, L"Idle"}};
    std::vector<std::pair<int, std::wstring>> actual;
    for (const auto& [value, state] : ThreadState::registry()) {
        actual.emplace_back(value, state->name());
    }
    EXPECT_EQ(actual, expected);
    EXPECT_TRUE(ThreadState::Run == *ThreadState::fromValue(3));
}

TEST(ThreadImpl, ObjectWithoutThreadAnswersWithItsNoThreadCodes) {
    FreshLog log;
    ThreadImpl<EchoWorker> thread;

    EXPECT_EQ(thread.handle(), nullptr);
    EXPECT_EQ(thread.threadId(), 0U);
    EXPECT_EQ(thread.name(), "");
    EXPECT_EQ(thread.state(), ThreadState::Stopped);
    EXPECT_EQ(thread.exitCode(), 0U);
    int priority = 42;
    EXPECT_EQ(thread.getPriority(priority), sys::ERROR_INVALID_HANDLE);
    EXPECT_EQ(priority, 42);
    EXPECT_EQ(thread.setPriority(5), sys::ERROR_INVALID_HANDLE);
    EXPECT_EQ(thread.suspend(), 0xFFFFFFFFU);
    EXPECT_EQ(thread.resume(), 0xFFFFFFFFU);
    thread.setState(ThreadState::Run);
    EXPECT_EQ(thread.state(), ThreadState::Stopped);

    EXPECT_FALSE(thread.shutdown(2000));
    // Nothing but the entry trace; a never-named object logs as "T".
    const auto records = log.matching(L"ThreadImpl<");
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].context, L"ThreadImpl<T>" + kEchoShutdown);
    EXPECT_EQ(records[0].message, L" ");
    EXPECT_EQ(records[0].verbosity, 1);
    EXPECT_EQ(thread.object().exits, 0);
}

TEST(ThreadImpl, RunsTheWorkerUntilShutdownAndCanStartAgain) {
    FreshLog log;
    ThreadImpl<EchoWorker> thread;
    int parameter = 0;
    EchoWorker& worker = thread.object();

    ASSERT_EQ(thread.create("Echo Worker", &parameter), 0U);
    EXPECT_EQ(worker.inits, 1);
    EXPECT_EQ(worker.param, &parameter);
    EXPECT_NE(thread.handle(), nullptr);
    EXPECT_EQ(thread.threadId(), worker.workerThread);
    EXPECT_NE(thread.threadId(), sys::currentThreadId());
    EXPECT_EQ(thread.name(), "Echo Worker");
    EXPECT_EQ(kernelName(thread.threadId()), "Echo Worker");
    EXPECT_TRUE(eventually([&] { return thread.state() == ThreadState::Wait; }));

    EXPECT_EQ(worker.notify(TM_TEST_PING, 1), 0U);
    EXPECT_EQ(worker.notify(TM_TEST_PING, 2), 0U);
    EXPECT_TRUE(eventually([&] { return worker.handled().size() == 2; }));
    EXPECT_EQ(worker.handled(), (std::vector<std::string>{"1", "2"}));

    EXPECT_TRUE(thread.shutdown(2000));
    EXPECT_EQ(thread.handle(), nullptr);
    EXPECT_EQ(thread.threadId(), 0U);
    EXPECT_EQ(thread.name(), "");
    EXPECT_EQ(thread.state(), ThreadState::Stopped);
    EXPECT_EQ(thread.exitCode(), 0U);
    EXPECT_EQ(worker.runs, 1);
    EXPECT_EQ(worker.exits, 1);

    const auto create = withContext(log, L"ThreadImpl<Echo Worker>" + kEchoCreate);
    ASSERT_GE(create.size(), 3U);
    EXPECT_EQ(create[0].message, L" ");
    EXPECT_EQ(create[0].verbosity, 1);
    EXPECT_EQ(create[1].message, L"::WaitForMultipleObjects() returned [0].");
    EXPECT_EQ(create[1].verbosity, 8);
    EXPECT_EQ(
        create[2].message, L"Successfully started the thread [0x" + [&] {
            wchar_t id[16];
            std::swprintf(id, 16, L"%X", static_cast<unsigned>(worker.workerThread.load()));
            return std::wstring(id);
        }() + L"].");
    const auto shutdown = withContext(log, L"ThreadImpl<Echo Worker>" + kEchoShutdown);
    ASSERT_EQ(shutdown.size(), 1U);
    EXPECT_EQ(shutdown[0].message, L" ");
    EXPECT_EQ(log.matching(L"Received TM_TEST_PING").size(), 2U);
    EXPECT_EQ(log.matching(L"Received TM_TEST_PING")[0].verbosity, 4);

    // The same object starts a new thread; _terminate was reset for it.
    ASSERT_EQ(thread.create("Echo Worker"), 0U);
    EXPECT_EQ(worker.notify(TM_TEST_PING, 3), 0U);
    EXPECT_TRUE(eventually([&] { return worker.handled().size() == 3; }));
    EXPECT_TRUE(thread.shutdown(2000));
    EXPECT_EQ(worker.runs, 2);
    EXPECT_EQ(worker.exits, 2);
}

TEST(ThreadImpl, SecondCreateReturns1247AndLeavesTheThreadAlone) {
    ThreadImpl<EchoWorker> thread;
    ASSERT_EQ(thread.create("First"), 0U);
    const auto id = thread.threadId();
    const auto handle = thread.handle();

    EXPECT_EQ(thread.create("Second"), sys::ERROR_ALREADY_INITIALIZED);
    EXPECT_EQ(thread.threadId(), id);
    EXPECT_EQ(thread.handle(), handle);
    EXPECT_EQ(thread.name(), "First");
    EXPECT_EQ(thread.object().inits, 1);
    EXPECT_EQ(thread.object().notify(TM_TEST_PING, 9), 0U);
    EXPECT_TRUE(eventually([&] { return thread.object().handled().size() == 1; }));
    EXPECT_TRUE(thread.shutdown(2000));
}

TEST(ThreadImpl, RefusedInitialisationReturnsTheWorkersError) {
    struct Case {
        sys::ErrorCode lastError;
        std::uint32_t expected;
    };
    for (const Case c : {Case{sys::ERROR_ACCESS_DENIED, 5U}, Case{sys::ERROR_SUCCESS, 0xFFFFFFFFU}}) {
        SCOPED_TRACE(c.lastError);
        FreshLog log;
        ThreadImpl<RefusingWorker> thread(c.lastError);

        EXPECT_EQ(thread.create("Refusing"), c.expected);
        EXPECT_EQ(thread.exitCode(), c.expected);
        EXPECT_EQ(thread.state(), ThreadState::Stopped);
        EXPECT_EQ(thread.handle(), nullptr);
        EXPECT_EQ(thread.threadId(), 0U);
        EXPECT_EQ(thread.name(), "");
        EXPECT_EQ(thread.object().exits, 1);
        EXPECT_EQ(thread.object().runs, 0);
        const auto failure = log.matching(L"Error encountered during thread class initialization");
        ASSERT_EQ(failure.size(), 1U);
        EXPECT_EQ(failure[0].verbosity, 0x40);
        EXPECT_FALSE(thread.shutdown(2000));
    }
}

TEST(ThreadImpl, CreatedSuspendedRunsOnlyAfterResume) {
    ThreadImpl<SpinningWorker> thread;
    ASSERT_EQ(thread.create("Suspended", nullptr, CREATE_SUSPENDED), 0U);
    EXPECT_EQ(thread.state(), ThreadState::Suspended);
    sys::sleepMs(100);
    EXPECT_EQ(thread.object().runs, 0);
    EXPECT_EQ(thread.state(), ThreadState::Suspended);

    EXPECT_EQ(thread.resume(), 1U);
    EXPECT_TRUE(eventually([&] { return thread.object().laps > 0; }));
    EXPECT_EQ(thread.state(), ThreadState::Run);
    EXPECT_TRUE(thread.shutdown(2000));
    EXPECT_EQ(thread.exitCode(), 7U);
}

TEST(ThreadImpl, ShutdownResumesASuspendedThreadAndStopsItNormally) {
    ThreadImpl<EchoWorker> thread;
    ASSERT_EQ(thread.create("Suspended Echo", nullptr, CREATE_SUSPENDED), 0U);
    EXPECT_EQ(thread.state(), ThreadState::Suspended);
    EXPECT_EQ(thread.suspend(), 1U);

    EXPECT_TRUE(thread.shutdown(2000));
    EXPECT_EQ(thread.state(), ThreadState::Stopped);
    EXPECT_EQ(thread.object().runs, 1);
    EXPECT_EQ(thread.object().exits, 1);
}

TEST(ThreadImpl, SuspendCountsNestAndHoldTheWorkerAtItsNextStateChange) {
    ThreadImpl<SpinningWorker> thread;
    ASSERT_EQ(thread.create("Spinner"), 0U);
    auto& worker = thread.object();
    ASSERT_TRUE(eventually([&] { return worker.laps > 0; }));

    EXPECT_EQ(thread.suspend(), 0U);
    EXPECT_EQ(thread.state(), ThreadState::Suspended);
    EXPECT_EQ(thread.suspend(), 1U);
    const long parked = worker.laps;
    sys::sleepMs(100);
    // At most the lap in progress completes.
    EXPECT_LE(worker.laps, parked + 1);
    EXPECT_EQ(thread.state(), ThreadState::Suspended);

    EXPECT_EQ(thread.resume(), 2U);
    EXPECT_EQ(thread.state(), ThreadState::Suspended);
    EXPECT_EQ(thread.resume(), 1U);
    EXPECT_EQ(thread.state(), ThreadState::Run);
    EXPECT_TRUE(eventually([&] { return worker.laps > parked + 2; }));
    EXPECT_EQ(thread.resume(), 0U);
    EXPECT_EQ(thread.state(), ThreadState::Run);

    // Suspended again, shutdown resumes it before asking it to stop.
    EXPECT_EQ(thread.suspend(), 0U);
    EXPECT_EQ(thread.suspend(), 1U);
    EXPECT_TRUE(thread.shutdown(2000));
    EXPECT_EQ(thread.exitCode(), 7U);
    EXPECT_EQ(thread.state(), ThreadState::Stopped);
}

TEST(ThreadImpl, PriorityIsTheThreadsNiceValue) {
    ThreadImpl<EchoWorker> thread;
    ASSERT_EQ(thread.create("Priority"), 0U);
    int priority = 99;
    EXPECT_EQ(thread.getPriority(priority), 0U);
    EXPECT_EQ(priority, ::getpriority(PRIO_PROCESS, 0)); // inherited from the creator
    // Lowering the priority needs no privilege.
    EXPECT_EQ(thread.setPriority(priority + 5 > 19 ? 19 : priority + 5), 1U);
    int lowered = 99;
    EXPECT_EQ(thread.getPriority(lowered), 0U);
    EXPECT_EQ(lowered, priority + 5 > 19 ? 19 : priority + 5);
    // Only that thread changed.
    EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), priority);
    EXPECT_TRUE(thread.shutdown(2000));
    EXPECT_EQ(thread.getPriority(priority), sys::ERROR_INVALID_HANDLE);
}

TEST(ThreadImpl, NamesAreKeptWholeAndShortenedForTheKernel) {
    FreshLog log;
    struct Case {
        const char* given;
        std::string kept;
        std::string kernel;
    };
    const std::string longest(300, 'n');
    const std::vector<Case> cases{
        {"OrvaneX1-0042.Serial", "OrvaneX1-0042.Serial", "OrvaneX1-0042.S"},
        {longest.c_str(), longest.substr(0, 259), longest.substr(0, 15)},
        // A cut never splits a character: "é" is two bytes at 14 and 15.
        {"ABCDEFGHIJKLMN\xC3\xA9Z", "ABCDEFGHIJKLMN\xC3\xA9Z", "ABCDEFGHIJKLMN"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept);
        ThreadImpl<EchoWorker> thread;
        ASSERT_EQ(thread.create(c.given), 0U);
        EXPECT_EQ(thread.name(), c.kept);
        EXPECT_EQ(kernelName(thread.threadId()), c.kernel);
        EXPECT_TRUE(thread.shutdown(2000));
    }

    // No name: the object's name is empty and its log contexts say "T".
    ThreadImpl<EchoWorker> unnamed;
    ASSERT_EQ(unnamed.create(nullptr), 0U);
    EXPECT_EQ(unnamed.name(), "");
    EXPECT_TRUE(unnamed.shutdown(2000));
    EXPECT_FALSE(withContext(log, L"ThreadImpl<T>" + kEchoCreate).empty());
    EXPECT_EQ(withContext(log, L"ThreadImpl<T>" + kEchoShutdown).size(), 1U);
}

TEST(ThreadImpl, WorkerIgnoringShutdownIsReportedLeftRunningAndKeptAlive) {
    FreshLog log;
    auto release = std::make_shared<sys::Event>(sys::Event::Reset::Manual);
    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    auto thread = std::make_unique<ThreadImpl<StubbornWorker>>(release, destroyed);
    ASSERT_EQ(thread->create("Stubborn"), 0U);

    EXPECT_TRUE(thread->shutdown(100));
    const auto timeout = log.matching(L"::WaitForSingleObject failed (WAIT_TIMEOUT).");
    ASSERT_EQ(timeout.size(), 1U);
    EXPECT_EQ(timeout[0].verbosity, 0x40);
    EXPECT_EQ(timeout[0].context.rfind(L"ThreadImpl<Stubborn>::", 0), 0U);
    // Still there: a second create is refused.
    EXPECT_NE(thread->state(), ThreadState::Stopped);
    EXPECT_EQ(thread->create("Stubborn"), sys::ERROR_ALREADY_INITIALIZED);

    // The owner goes away first; the thread goes on using its object and worker.
    const auto handle = thread->handle();
    ASSERT_NE(handle, nullptr);
    thread.reset();
    EXPECT_FALSE(*destroyed);
    release->set();
    EXPECT_EQ(sys::waitForSingle(*handle, kGenerous), sys::WAIT_OBJECT_0);
    EXPECT_TRUE(*destroyed);
}

TEST(ThreadImpl, EndedThreadIsObservedThroughItsHandle) {
    ThreadImpl<EchoWorker> thread;
    ASSERT_EQ(thread.create("Observed"), 0U);
    const auto handle = thread.handle();
    EXPECT_EQ(sys::waitForSingle(*handle, 0), sys::WAIT_TIMEOUT);
    EXPECT_FALSE(handle->ended());
    EXPECT_TRUE(thread.shutdown(2000));
    EXPECT_EQ(sys::waitForSingle(*handle, 0), sys::WAIT_OBJECT_0);
    // The thread's message queue is gone once its end is seen.
    EXPECT_FALSE(sys::postThreadMessage(handle->threadId(), TM_TEST_PING, 0, 0));
    EXPECT_EQ(sys::getLastError(), sys::ERROR_INVALID_THREAD_ID);
}

TEST(ThreadImpl, RefusedPlatformResourcesFailCreateBeforeTheWorkerRuns) {
    struct Case {
        int spare;
        std::wstring message;
    };
    const std::vector<Case> cases{
        {0, L"Failed to create [init_complete] event."},
        {1, L"Failed to create [resume] event."},
        {2, L"Failed to create thread."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spare);
        FreshLog log;
        ThreadImpl<EchoWorker> thread;
        std::uint32_t result = 0;
        {
            DescriptorsExhausted exhausted(c.spare);
            result = thread.create("Starved");
        }
        // EMFILE is neither of the two errors with codes of their own.
        EXPECT_EQ(result, sys::ERROR_EXTENDED_ERROR);
        EXPECT_EQ(thread.state(), ThreadState::Stopped);
        EXPECT_EQ(thread.handle(), nullptr);
        EXPECT_EQ(thread.object().inits, 0);
        const auto records = log.matching(L"ThreadImpl<Starved>");
        ASSERT_GE(records.size(), 2U);
        EXPECT_EQ(records[1].message, c.message);
        EXPECT_EQ(records[1].verbosity, 0x40);
        if (c.spare == 0) {
            ASSERT_EQ(records.size(), 3U);
            EXPECT_EQ(records[2].message, sys::systemMessage(sys::ERROR_TOO_MANY_OPEN_FILES));
        }
    }
}
