#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/MessageWindow.h"
#include "wyr/windows/system/RegisteredMessage.h"
#include "wyr/windows/system/Wait.h"

#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <thread>
#include <vector>

using namespace wyr::windows::system;

namespace {

// Empties the test thread's queue so that one test's leftovers cannot reach another.
void drainQueue() {
    Message m;
    while (peekMessage(m, 0, 0, 0, PM_REMOVE)) {
    }
}

bool descriptorReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

} // namespace

TEST(RegisteredMessage, SameNameGivesSameIdInTheRegisteredRange) {
    const MessageId a = registerMessage("TM_TEST_A-{00000000-0000-0000-0000-000000000001}");
    const MessageId b = registerMessage("TM_TEST_B-{00000000-0000-0000-0000-000000000002}");
    EXPECT_GE(a, 0xC000U);
    EXPECT_GE(b, 0xC000U);
    EXPECT_NE(a, b);
    std::atomic<MessageId> fromOtherThread{0};
    std::thread t(
        [&] { fromOtherThread = registerMessage("TM_TEST_A-{00000000-0000-0000-0000-000000000001}"); });
    t.join();
    EXPECT_EQ(fromOtherThread.load(), a);
    EXPECT_EQ(registeredMessageName(b), "TM_TEST_B-{00000000-0000-0000-0000-000000000002}");
    EXPECT_EQ(registerMessage(""), 0U);
}

TEST(MessageQueue, PostingNeedsAQueueAndFailsOnceTheThreadEnded) {
    std::atomic<ThreadId> id{0};
    Event ready(Event::Reset::Manual);
    Event finish(Event::Reset::Manual);
    std::thread worker([&] {
        id = currentThreadId();
        ready.set();
        waitForSingle(finish, 5000);
        // Only now does the thread make its queue, by peeking.
        Message m;
        peekMessage(m, 0, WM_USER, WM_USER, PM_NOREMOVE);
    });
    ASSERT_EQ(waitForSingle(ready, 5000), WAIT_OBJECT_0);
    EXPECT_FALSE(postThreadMessage(id, WM_USER, 0, 0));
    EXPECT_EQ(getLastError(), ERROR_INVALID_THREAD_ID);
    finish.set();
    worker.join();
    EXPECT_FALSE(postThreadMessage(id, WM_USER, 0, 0));
    EXPECT_EQ(getLastError(), ERROR_INVALID_THREAD_ID);
}

TEST(MessageQueue, PeekFiltersAndKeepsOrNoRemoves) {
    drainQueue();
    const ThreadId self = currentThreadId();
    ASSERT_TRUE(postThreadMessage(self, WM_USER + 1, 1, 10));
    ASSERT_TRUE(postThreadMessage(self, WM_USER + 2, 2, 20));
    Message m;
    ASSERT_TRUE(peekMessage(m, 0, WM_USER + 2, WM_USER + 2, PM_NOREMOVE));
    EXPECT_EQ(m.wParam, 2U);
    ASSERT_TRUE(peekMessage(m, 0, WM_USER + 2, WM_USER + 2, PM_REMOVE));
    EXPECT_EQ(m.lParam, 20);
    ASSERT_TRUE(peekMessage(m, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_USER + 1);
    EXPECT_FALSE(peekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST(MessageQueue, EachThreadsMessagesArriveInPostingOrder) {
    drainQueue();
    const ThreadId self = currentThreadId();
    constexpr int kThreads = 3;
    constexpr int kEach = 500;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([=] {
            for (int i = 0; i < kEach; ++i) {
                ASSERT_TRUE(postThreadMessage(self, WM_USER, static_cast<WPARAM>(t), i));
            }
        });
    }
    for (auto& p : posters) {
        p.join();
    }
    std::map<WPARAM, LPARAM> next;
    int total = 0;
    Message m;
    while (peekMessage(m, 0, 0, 0, PM_REMOVE)) {
        EXPECT_EQ(m.lParam, next[m.wParam]) << "from thread " << m.wParam;
        next[m.wParam] = m.lParam + 1;
        ++total;
    }
    EXPECT_EQ(total, kThreads * kEach);
}

TEST(MessageQueue, WakeDescriptorIsReadableWhileAMessageWaits) {
    drainQueue();
    const int fd = messageQueueDescriptor();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(descriptorReadable(fd));
    const ThreadId self = currentThreadId();
    std::thread poster([=] { postThreadMessage(self, WM_USER, 0, 0); });
    poster.join();
    EXPECT_TRUE(descriptorReadable(fd));
    drainQueue();
    EXPECT_FALSE(descriptorReadable(fd));
}

TEST(MessageWindow, HandlerRunsOnTheOwnerThreadInPostingOrder) {
    std::vector<LPARAM> received;
    std::vector<ThreadId> handledOn;
    MessageWindow window([&](MessageId message, WPARAM, LPARAM lParam) -> LRESULT {
        EXPECT_EQ(message, WM_APP);
        received.push_back(lParam);
        handledOn.push_back(currentThreadId());
        return 0;
    });
    EXPECT_EQ(window.ownerThread(), currentThreadId());
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            ASSERT_TRUE(window.post(WM_APP, 0, i));
        }
    });
    poster.join();
    EXPECT_TRUE(received.empty()); // nothing runs until the owner pumps
    ASSERT_TRUE(runUntil([&] { return received.size() == 100; }, 5000));
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(received[static_cast<std::size_t>(i)], i);
        EXPECT_EQ(handledOn[static_cast<std::size_t>(i)], currentThreadId());
    }
}

TEST(MessageWindow, DestroyedWindowRefusesPostsAndDiscardsWhatWaits) {
    std::vector<LPARAM> discarded;
    int handled = 0;
    auto window = std::make_unique<MessageWindow>(
        [&](MessageId, WPARAM, LPARAM) -> LRESULT {
            ++handled;
            return 0;
        },
        [&](MessageId, WPARAM, LPARAM lParam) { discarded.push_back(lParam); });
    const WindowHandle handle = window->handle();
    ASSERT_TRUE(window->post(WM_APP, 0, 1));
    ASSERT_TRUE(window->post(WM_APP, 0, 2));
    window.reset();
    EXPECT_EQ(discarded, (std::vector<LPARAM>{1, 2}));
    EXPECT_FALSE(MessageWindow::isWindow(handle));
    EXPECT_FALSE(MessageWindow::post(handle, WM_APP, 0, 3));
    EXPECT_EQ(getLastError(), ERROR_INVALID_WINDOW_HANDLE);
    pump();
    EXPECT_EQ(handled, 0);
}

TEST(MessageWindow, MessagesForAWindowWhoseThreadEndedAreDiscarded) {
    std::atomic<int> discarded{0};
    std::unique_ptr<MessageWindow> window;
    Event created(Event::Reset::Manual);
    Event posted(Event::Reset::Manual);
    std::thread owner([&] {
        window = std::make_unique<MessageWindow>([](MessageId, WPARAM, LPARAM) -> LRESULT { return 0; },
                                                 [&](MessageId, WPARAM, LPARAM) { ++discarded; });
        created.set();
        waitForSingle(posted, 5000);
    });
    ASSERT_EQ(waitForSingle(created, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(window->post(WM_APP, 0, 0));
    posted.set();
    owner.join();
    EXPECT_EQ(discarded.load(), 1);
    EXPECT_FALSE(window->post(WM_APP, 0, 0));
    EXPECT_EQ(getLastError(), ERROR_INVALID_THREAD_ID);
}

TEST(ThreadTimer, FiresOnlyWhileTheOwnerPumps) {
    drainQueue();
    int fired = 0;
    const TimerId id = setTimer(15, [&](TimerId) { ++fired; });
    ASSERT_NE(id, 0U);
    sleepMs(60);
    EXPECT_EQ(fired, 0);   // due, but nobody pumped
    EXPECT_EQ(pump(), 1U); // overdue ticks do not pile up
    EXPECT_EQ(fired, 1);
    ASSERT_TRUE(runUntil([&] { return fired >= 3; }, 5000));
    ASSERT_TRUE(killTimer(id));
    const int afterKill = fired;
    sleepMs(40);
    pump();
    EXPECT_EQ(fired, afterKill);
    EXPECT_FALSE(killTimer(id));
}

TEST(ThreadTimer, BelongsToTheThreadThatSetIt) {
    drainQueue();
    std::atomic<int> fired{0};
    std::thread other([&] {
        const TimerId id = setTimer(10, [&](TimerId) { ++fired; });
        EXPECT_NE(id, 0U);
        sleepMs(40);
        // That thread never pumps, so its timer never fires; pumping here cannot fire it.
    });
    other.join();
    pump();
    EXPECT_EQ(fired.load(), 0);
}

TEST(MessageLoop, RunUntilTimesOutWithTheFalsePredicate) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(runUntil([] { return false; }, 30));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(MessageLoop, PumpDoesNotChaseMessagesPostedWhilePumping) {
    drainQueue();
    int handled = 0;
    std::unique_ptr<MessageWindow> window;
    window = std::make_unique<MessageWindow>([&](MessageId, WPARAM, LPARAM) -> LRESULT {
        ++handled;
        window->post(WM_APP, 0, 0); // posts itself again, forever
        return 0;
    });
    window->post(WM_APP, 0, 0);
    EXPECT_EQ(pump(), 1U);
    EXPECT_EQ(pump(), 1U);
    EXPECT_EQ(handled, 2);
    window.reset();
}
