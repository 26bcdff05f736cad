#include "tests/unit/support/LogCapture.h"
#include "tests/unit/threading/DescriptorsExhausted.h"
#include "tests/unit/threading/TestWorkers.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/threading/ThreadControl.h"
#include "wyr/windows/system/threading/ThreadImpl.h"

#include <gtest/gtest.h>
#include <optional>

using namespace test;
using wyr::windows::system::threading::ThreadImpl;

namespace {

constexpr std::uint32_t kGenerous = 10000;

bool eventually(const std::function<bool()>& condition) {
    return sys::runUntil(condition, kGenerous);
}

sys::LPARAM text(const char* value) {
    return reinterpret_cast<sys::LPARAM>(new std::string(value));
}

} // namespace

TEST(MessageThreadAdapter, LoopPumpsOnAlertAndEndsOnTerminate) {
    FreshLog log;
    ThreadImpl<EchoWorker> thread;
    auto& worker = thread.object();
    ASSERT_EQ(thread.create("Pump"), 0U);

    ASSERT_EQ(worker.notify(TM_TEST_TEXT, text("first")), 0U);
    ASSERT_EQ(worker.notify(TM_TEST_PING, 5), 0U);
    ASSERT_EQ(worker.notify(TM_TEST_TEXT, text("second")), 0U);
    ASSERT_TRUE(eventually([&] { return worker.handled().size() == 3; }));
    EXPECT_EQ(worker.handled(), (std::vector<std::string>{"first", "5", "second"}));
    // The pump owns the heap arguments and frees them after their handler.
    EXPECT_EQ(worker.released, 2);
    ASSERT_TRUE(thread.shutdown(2000));

    const auto received = log.matching(L"Received ");
    ASSERT_EQ(received.size(), 3U);
    EXPECT_EQ(received[0].message, L"Received TM_TEST_TEXT");
    EXPECT_EQ(received[1].message, L"Received TM_TEST_PING");
    EXPECT_EQ(received[0].context, L"test::EchoWorker::pumpMessage");
    EXPECT_EQ(received[0].verbosity, 4);

    const auto alert = log.matching(L"::WaitForMultipleObjects() became signaled via [_alert].");
    ASSERT_FALSE(alert.empty());
    EXPECT_EQ(alert[0].verbosity, 2);
    EXPECT_EQ(alert[0].context, L"test::EchoWorker::run");
    const auto terminate = log.matching(
        L"::WaitForMultipleObjects() became signaled via [_terminate], abandoning function call.");
    ASSERT_EQ(terminate.size(), 1U);
    EXPECT_EQ(terminate[0].verbosity, 2);
    const auto waiting = log.matching(
        L"::WaitForMultipleObjects() waiting for a message to quit or enable (Timeout = INFINITE).");
    ASSERT_GE(waiting.size(), 2U);
    EXPECT_EQ(waiting[0].verbosity, 8);
    EXPECT_EQ(log.matching(L"test::EchoWorker::notifyShutdown").size(), 1U);
}

namespace {

// Ends its loop when the test says so, without pumping what waits.
class LeavingWorker : public EchoWorker {
public:
    std::uint32_t run() override {
        sys::waitForSingle(leave, sys::INFINITE);
        return 0;
    }
    sys::Event leave{sys::Event::Reset::Manual};
};

} // namespace

TEST(MessageThreadAdapter, ArgumentsNeverHandledAreFreedWhenTheThreadEnds) {
    ThreadImpl<LeavingWorker> thread;
    auto& worker = thread.object();
    ASSERT_EQ(thread.create("Unhandled"), 0U);
    ASSERT_EQ(worker.notify(TM_TEST_TEXT, text("never")), 0U);
    ASSERT_EQ(worker.notify(TM_TEST_TEXT, text("handled")), 0U);

    const auto handle = thread.handle();
    worker.leave.set();
    ASSERT_EQ(sys::waitForSingle(*handle, kGenerous), sys::WAIT_OBJECT_0);
    EXPECT_TRUE(worker.handled().empty());
    EXPECT_EQ(worker.released, 2);
}

TEST(MessageThreadAdapter, NotifyToAThreadThatIsGoneFailsAndLogs) {
    FreshLog log;
    ThreadImpl<EchoWorker> thread;
    auto& worker = thread.object();

    // Never started, then started and ended: both have no thread to post to.
    EXPECT_EQ(worker.notify(TM_TEST_PING, 1), sys::ERROR_INVALID_THREAD_ID);
    ASSERT_EQ(thread.create("Gone"), 0U);
    ASSERT_TRUE(thread.shutdown(2000));

    const sys::LPARAM argument = text("mine");
    EXPECT_EQ(worker.notify(TM_TEST_TEXT, argument), sys::ERROR_INVALID_THREAD_ID);
    // A failed post leaves the argument with the caller.
    EXPECT_EQ(worker.released, 0);
    delete reinterpret_cast<std::string*>(argument);

    const auto failure = log.matching(L"::PostThreadMessage() failed to thread [0x0] with result of [1444].");
    ASSERT_EQ(failure.size(), 2U);
    EXPECT_EQ(failure[1].verbosity, 0x40);
    EXPECT_EQ(failure[1].context, L"test::EchoWorker::notify");
    const auto all = log.matching(L"test::EchoWorker::notify");
    const auto it =
        std::find_if(all.rbegin(), all.rend(), [](const CapturedLog& r) { return r.verbosity == 0x40; });
    ASSERT_NE(it, all.rend());
    EXPECT_EQ(it->message, sys::systemMessage(sys::ERROR_INVALID_THREAD_ID));
}

TEST(MessageThreadAdapter, EventThatCannotBeCreatedRefusesTheStart) {
    FreshLog log;
    std::optional<ThreadImpl<EchoWorker>> made;
    std::uint32_t result = 0;
    {
        // The worker's events cannot be made with it, nor when it starts: there is
        // enough for the framework's events, none left for the worker's.
        {
            DescriptorsExhausted none(0);
            made.emplace();
        }
        DescriptorsExhausted exhausted(3);
        result = made->create("No Events");
    }
    auto& thread = *made;
    EXPECT_EQ(result, sys::ERROR_TOO_MANY_OPEN_FILES);
    EXPECT_EQ(thread.handle(), nullptr);
    const auto failure = log.matching(L"::CreateEvent() failed [4].");
    ASSERT_EQ(failure.size(), 1U);
    EXPECT_EQ(failure[0].verbosity, 0x40);
    EXPECT_EQ(failure[0].context, L"test::EchoWorker::initThread");
    EXPECT_EQ(log.matching(sys::systemMessage(sys::ERROR_TOO_MANY_OPEN_FILES)).size(), 1U);

    // Nothing half-made was kept: with descriptors back, the worker starts.
    ASSERT_EQ(thread.create("No Events"), 0U);
    ASSERT_EQ(thread.object().notify(TM_TEST_PING, 1), 0U);
    EXPECT_TRUE(eventually([&] { return thread.object().handled().size() == 1; }));
    EXPECT_TRUE(thread.shutdown(2000));
}
