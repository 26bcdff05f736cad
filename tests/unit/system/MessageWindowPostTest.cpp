#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/MessageWindow.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace wyr::windows::system;

// A message that carries a heap record must reach either the handler or the
// discard callback, even when the window is destroyed while other threads post to
// it; otherwise its record leaks.
TEST(MessageWindow, EveryAcceptedPostIsHandledOrDiscardedWhileDestroyRaces) {
    long unaccounted = 0;
    for (int round = 0; round < 1000; ++round) {
        std::atomic<long> accepted{0};
        long accounted = 0;
        MessageWindow window(
            [&accounted](MessageId, WPARAM, LPARAM) -> LRESULT {
                ++accounted;
                return 0;
            },
            [&accounted](MessageId, WPARAM, LPARAM) { ++accounted; });
        std::atomic<int> started{0};
        const auto poster = [&] {
            ++started;
            for (int i = 0; i < 200; ++i) {
                if (window.post(WM_USER, 0, 0)) {
                    ++accepted;
                }
            }
        };
        std::thread a(poster);
        std::thread b(poster);
        while (started.load() < 2) {
            std::this_thread::yield();
        }
        window.destroy();
        a.join();
        b.join();
        pump();
        unaccounted += accepted.load() - accounted;
    }
    EXPECT_EQ(unaccounted, 0);
}

// The owner may already hold a message it took from the queue when another thread
// destroys the window; that message must still reach the discard callback.
TEST(MessageWindow, AMessageTheOwnerHoldsIsDiscardedWhenAnotherThreadDestroys) {
    long unaccounted = 0;
    for (int round = 0; round < 300; ++round) {
        std::atomic<long> accounted{0};
        std::atomic<bool> ready{false};
        std::atomic<bool> stop{false};
        std::unique_ptr<MessageWindow> window;
        std::thread owner([&] {
            window = std::make_unique<MessageWindow>(
                [&accounted](MessageId, WPARAM, LPARAM) -> LRESULT {
                    ++accounted;
                    return 0;
                },
                [&accounted](MessageId, WPARAM, LPARAM) { ++accounted; });
            ready = true;
            while (!stop) {
                pump();
            }
            pump();
        });
        while (!ready) {
            std::this_thread::yield();
        }
        long accepted = 0;
        for (int i = 0; i < 200; ++i) {
            accepted += window->post(WM_USER, 0, 0) ? 1 : 0;
        }
        window->destroy();
        stop = true;
        owner.join();
        unaccounted += accepted - accounted.load();
        EXPECT_FALSE(window->exists());
    }
    EXPECT_EQ(unaccounted, 0);
}
