#include "wyr/windows/system/Wait.h"

#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/Mutex.h"
#include "wyr/windows/system/WaitableTimer.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

using namespace wyr::windows::system;

namespace {

using Reset = Event::Reset;

struct WaitCase {
    const char* name;
    // Builds the objects, signals some of them, and returns the wait results expected
    // from two waits in a row on all objects (time-out 0).
    std::function<void(std::vector<std::unique_ptr<WaitableObject>>&)> setUp;
    std::uint32_t first;
    std::uint32_t second;
};

std::unique_ptr<WaitableObject> event(Reset reset, bool signalled) {
    return std::make_unique<Event>(reset, signalled);
}

} // namespace

TEST(Wait, SemanticsTable) {
    const std::vector<WaitCase> cases{
        {"manual event stays signalled", [](auto& o) { o.push_back(event(Reset::Manual, true)); },
         WAIT_OBJECT_0, WAIT_OBJECT_0},
        {"auto event releases one wait", [](auto& o) { o.push_back(event(Reset::Auto, true)); },
         WAIT_OBJECT_0, WAIT_TIMEOUT},
        {"nothing signalled times out", [](auto& o) { o.push_back(event(Reset::Auto, false)); }, WAIT_TIMEOUT,
         WAIT_TIMEOUT},
        {"lowest signalled index wins",
         [](auto& o) {
             o.push_back(event(Reset::Manual, false));
             o.push_back(event(Reset::Auto, true));
             o.push_back(event(Reset::Manual, true));
         },
         WAIT_OBJECT_0 + 1, WAIT_OBJECT_0 + 2},
        {"a higher auto event is not consumed when a lower index wins",
         [](auto& o) {
             o.push_back(event(Reset::Manual, true));
             o.push_back(event(Reset::Auto, true));
         },
         WAIT_OBJECT_0, WAIT_OBJECT_0},
        {"owned mutex is re-entered by its owner",
         [](auto& o) { o.push_back(std::make_unique<Mutex>(true)); }, WAIT_OBJECT_0, WAIT_OBJECT_0},
        {"free mutex is taken", [](auto& o) { o.push_back(std::make_unique<Mutex>(false)); }, WAIT_OBJECT_0,
         WAIT_OBJECT_0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<WaitableObject>> objects;
        c.setUp(objects);
        std::vector<WaitableObject*> raw;
        for (auto& o : objects) {
            raw.push_back(o.get());
        }
        EXPECT_EQ(waitForAny(raw, 0), c.first);
        EXPECT_EQ(waitForAny(raw, 0), c.second);
    }
}

TEST(Wait, RejectsBadObjectSets) {
    EXPECT_EQ(waitForAny(std::span<WaitableObject* const>(), 0), WAIT_FAILED);
    EXPECT_EQ(getLastError(), ERROR_INVALID_PARAMETER);
    Event e(Reset::Manual, true);
    EXPECT_EQ(waitForAny({&e, nullptr}, 0), WAIT_FAILED);
    EXPECT_EQ(getLastError(), ERROR_INVALID_HANDLE);
}

TEST(Wait, TimeOutIsHonoured) {
    Event e(Reset::Auto);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitForSingle(e, 30), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(Wait, SetFromAnotherThreadWakesTheWaiter) {
    Event e(Reset::Auto);
    std::thread setter([&] {
        sleepMs(20);
        e.set();
    });
    EXPECT_EQ(waitForSingle(e, 5000), WAIT_OBJECT_0);
    setter.join();
    EXPECT_FALSE(e.isSignalled());
}

TEST(Wait, AutoResetEventGoesToExactlyOneOfManyWaiters) {
    Event e(Reset::Auto);
    Event go(Reset::Manual);
    std::atomic<int> released{0};
    std::atomic<int> waiting{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            ++waiting;
            if (waitForSingle(e, 400) == WAIT_OBJECT_0) {
                ++released;
            }
        });
    }
    while (waiting.load() < 4) {
        sleepMs(1);
    }
    sleepMs(20);
    e.set();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(released.load(), 1);
}

TEST(Wait, ManualResetEventReleasesEveryWaiter) {
    Event e(Reset::Manual);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (waitForSingle(e, 5000) == WAIT_OBJECT_0) {
                ++released;
            }
        });
    }
    sleepMs(20);
    e.set();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(released.load(), 4);
}

TEST(Mutex, OwnedByAnotherThreadBlocksUntilReleased) {
    Mutex m;
    Event taken(Reset::Manual);
    Event release(Reset::Manual);
    std::thread owner([&] {
        ASSERT_EQ(waitForSingle(m, 0), WAIT_OBJECT_0);
        taken.set();
        waitForSingle(release, 5000);
        EXPECT_TRUE(m.release());
    });
    ASSERT_EQ(waitForSingle(taken, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(waitForSingle(m, 20), WAIT_TIMEOUT);
    EXPECT_FALSE(m.release());
    EXPECT_EQ(getLastError(), ERROR_NOT_OWNER);
    release.set();
    EXPECT_EQ(waitForSingle(m, 5000), WAIT_OBJECT_0);
    owner.join();
    EXPECT_TRUE(m.release());
}

TEST(Mutex, RecursionNeedsAsManyReleases) {
    Mutex m;
    ASSERT_EQ(waitForSingle(m, 0), WAIT_OBJECT_0);
    ASSERT_EQ(waitForSingle(m, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(m.release());
    std::thread other([&] { EXPECT_EQ(waitForSingle(m, 0), WAIT_TIMEOUT); });
    other.join();
    EXPECT_TRUE(m.release());
    EXPECT_FALSE(m.release());
    std::thread after([&] {
        EXPECT_EQ(waitForSingle(m, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(m.release());
    });
    after.join();
}

TEST(Mutex, AbandonedWhenTheOwnerThreadEnds) {
    Mutex m;
    Event other(Reset::Manual, true);
    std::thread owner([&] { ASSERT_EQ(waitForSingle(m, 0), WAIT_OBJECT_0); });
    owner.join();
    // The abandoned mutex is reported at its own index, and the waiter now owns it.
    EXPECT_EQ(waitForAny({&m, &other}, 1000), WAIT_ABANDONED_0);
    EXPECT_EQ(waitForSingle(m, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(m.release());
    EXPECT_TRUE(m.release());
    std::thread next([&] {
        EXPECT_EQ(waitForSingle(m, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(m.release());
    });
    next.join();
}

TEST(Mutex, SameNameIsOneObjectForTheProcess) {
    Mutex first("test shared mutex");
    EXPECT_FALSE(first.alreadyExisted());
    Mutex second("test shared mutex");
    EXPECT_TRUE(second.alreadyExisted());
    Mutex unrelated("test other mutex");
    EXPECT_FALSE(unrelated.alreadyExisted());

    ASSERT_EQ(waitForSingle(first, 0), WAIT_OBJECT_0);
    std::thread other([&] {
        EXPECT_EQ(waitForSingle(second, 0), WAIT_TIMEOUT);
        EXPECT_EQ(waitForSingle(unrelated, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(unrelated.release());
    });
    other.join();
    // Released through the other object of the same name.
    EXPECT_TRUE(second.release());
    std::thread after([&] {
        EXPECT_EQ(waitForSingle(second, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(second.release());
    });
    after.join();
}

TEST(WaitableTimer, FiresAtItsDueTimeAndThenEveryPeriod) {
    WaitableTimer timer(WaitableTimer::Reset::Auto);
    ASSERT_TRUE(timer.valid());
    EXPECT_EQ(waitForSingle(timer, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(timer.setRelative(10, 15));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(waitForSingle(timer, 2000), WAIT_OBJECT_0) << "expiry " << i;
    }
    ASSERT_TRUE(timer.cancel());
    // An expiry since the last wait may still be signalled; nothing comes after it.
    static_cast<void>(waitForSingle(timer, 0));
    sleepMs(40);
    EXPECT_EQ(waitForSingle(timer, 0), WAIT_TIMEOUT);
}

TEST(WaitableTimer, CancelKeepsAnExpiryNobodyWaitedOnYet) {
    for (const auto reset : {WaitableTimer::Reset::Auto, WaitableTimer::Reset::Manual}) {
        WaitableTimer timer(reset);
        ASSERT_TRUE(timer.setRelative(5));
        sleepMs(30);
        ASSERT_TRUE(timer.cancel());
        EXPECT_EQ(waitForSingle(timer, 0), WAIT_OBJECT_0);
    }
}

TEST(WaitableTimer, AbsoluteDueTimeAndManualReset) {
    WaitableTimer timer(WaitableTimer::Reset::Manual);
    ASSERT_TRUE(timer.set(std::chrono::system_clock::now() + std::chrono::milliseconds(20)));
    EXPECT_EQ(waitForSingle(timer, 0), WAIT_TIMEOUT);
    EXPECT_EQ(waitForSingle(timer, 2000), WAIT_OBJECT_0);
    // A manual-reset timer stays signalled until it is set again.
    EXPECT_EQ(waitForSingle(timer, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(timer.set(std::chrono::system_clock::now() + std::chrono::hours(1)));
    EXPECT_EQ(waitForSingle(timer, 0), WAIT_TIMEOUT);
    // A due time in the past fires at once.
    ASSERT_TRUE(timer.set(std::chrono::system_clock::now() - std::chrono::hours(1)));
    EXPECT_EQ(waitForSingle(timer, 1000), WAIT_OBJECT_0);
}
