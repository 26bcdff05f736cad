#include "device/OrvaneBroadcastWnd.h"

#include "device/OrvaneMessage.h"
#include "device/OrvaneScanPhase.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/system/CurrentThread.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/RegisteredMessage.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace device;
using wyr::windows::system::currentThreadId;
using wyr::windows::system::pump;
using wyr::windows::system::runUntil;

namespace {

// Long enough that the text lives on the heap, so a leak or a use after release shows.
const std::string kModel = "Orvane X1 with a model name too long for any short-string buffer";

OrvaneNotification* heartbeat(std::uint64_t id) {
    auto* r = new OrvaneStateNotification(OrvaneNotificationType::NotifyHeartbeat);
    r->id = id;
    r->state.model = kModel;
    r->state.gain = static_cast<std::int32_t>(id);
    return r;
}

OrvaneNotification* commandFailure(std::uint64_t id) {
    std::vector<std::uint8_t> sentence;
    OrvaneMessage::compose(sentence, OrvaneMessage::SET_GAIN, 5U);
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[sentence.size()]);
    std::memcpy(copy.get(), sentence.data(), sentence.size());
    auto* r = new OrvaneCommandFailureNotification(7, OrvaneMessage::SET_GAIN, std::move(copy));
    r->id = id;
    return r;
}

OrvaneNotification* reading(std::uint64_t id, float value) {
    auto* r = new OrvaneReadingNotification;
    r->id = id;
    r->reading1 = value;
    return r;
}

// What a subscriber saw, copied during its call.
struct Seen {
    int subscriber;
    std::uint64_t id;
    int type;
    std::int32_t port;
    std::string detail;
    wyr::windows::system::ThreadId thread;
};

std::string detailOf(const tagNMORVANEHDR* h) {
    if (const auto* s = OrvaneNotification::as<OrvaneStateNotification>(h)) {
        return s->state.model;
    }
    if (const auto* f = OrvaneNotification::as<OrvaneCommandFailureNotification>(h)) {
        return std::string(reinterpret_cast<const char*>(f->bytes.get()), 12);
    }
    if (const auto* r = OrvaneNotification::as<OrvaneReadingNotification>(h)) {
        return std::to_string(r->reading1);
    }
    return {};
}

} // namespace

TEST(OrvaneBroadcastWnd, UsesTheRegisteredMessage) {
    EXPECT_EQ(
        OrvaneBroadcastWnd::WM_ON_ORVANE_NOTIFY,
        wyr::windows::system::registerMessage("WM_ON_ORVANE_NOTIFY-{FAF40DDE-8918-4DF5-A6C6-E14728203E3C}"));
    EXPECT_GE(OrvaneBroadcastWnd::WM_ON_ORVANE_NOTIFY, 0xC000U);
}

TEST(OrvaneBroadcastWnd, DeliversInPostingOrderOnTheOwnerThreadThenFrees) {
    OrvaneBroadcastWnd wnd;
    std::vector<Seen> seen;
    auto record = [&seen](int subscriber) {
        return [&seen, subscriber](const tagNMORVANEHDR* h) {
            seen.push_back(
                Seen{subscriber, h->id, h->type->value(), h->port, detailOf(h), currentThreadId()});
        };
    };
    boost::signals2::scoped_connection first = wnd.subscribe(record(1));
    boost::signals2::scoped_connection second = wnd.subscribe(record(2));

    // Producers run on other threads.
    std::thread producer([&wnd] {
        EXPECT_TRUE(wnd.post(heartbeat(1)));
        EXPECT_TRUE(wnd.post(commandFailure(2)));
        EXPECT_TRUE(wnd.post(reading(3, 2.5F)));
    });
    producer.join();
    EXPECT_TRUE(seen.empty()); // nothing runs until the owner pumps
    pump();

    const std::string sentBytes("\x02"
                                "4|0005\x03"
                                "4D\x04\x0D",
                                12);
    ASSERT_EQ(seen.size(), 6U);
    const std::vector<std::tuple<int, std::uint64_t, int, std::int32_t, std::string>> expected{
        {1, 1, 2, 0, kModel},    {2, 1, 2, 0, kModel},     {1, 2, 7, 7, sentBytes},
        {2, 2, 7, 7, sentBytes}, {1, 3, 3, 0, "2.500000"}, {2, 3, 3, 0, "2.500000"},
    };
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::make_tuple(seen[i].subscriber, seen[i].id, seen[i].type, seen[i].port, seen[i].detail),
                  expected[i]);
        EXPECT_EQ(seen[i].thread, currentThreadId());
    }
    EXPECT_EQ(pump(), 0U);
}

TEST(OrvaneBroadcastWnd, LogsAndFreesEveryRecordWithoutSubscribers) {
    test::LogCapture log(0x0008); // Debug Level 4
    OrvaneBroadcastWnd wnd;
    ASSERT_TRUE(wnd.post(heartbeat(41)));
    ASSERT_TRUE(wnd.post(new OrvaneInterrogateNotification(OrvaneScanPhase::NotifyScanResult, 3, 1, 1200)));
    ASSERT_TRUE(wnd.post(commandFailure(43)));
    pump();
    std::vector<std::wstring> messages;
    for (const auto& r : log.matching(L"OrvaneNotification - ")) {
        EXPECT_EQ(r.context, L"OrvaneBroadcastWnd::OnNotify");
        messages.push_back(r.message);
    }
    EXPECT_EQ(messages, (std::vector<std::wstring>{
                            L"OrvaneNotification - Message ID [41], type [2][NotifyHeartbeat]",
                            L"OrvaneNotification - Message ID [0], type [4][NotifyInterrogate]",
                            L"OrvaneNotification - Message ID [43], type [7][NotifyCommandFailure]",
                        }));
}

TEST(OrvaneBroadcastWnd, RecordOfNoKnownTypeIsReportedAndItsStorageFreed) {
    test::LogCapture log(0x0040);
    OrvaneBroadcastWnd wnd;
    int calls = 0;
    boost::signals2::scoped_connection c = wnd.subscribe([&calls](const tagNMORVANEHDR*) { ++calls; });
    auto* broken = new OrvaneConnectNotification(4);
    broken->type = nullptr;
    ASSERT_TRUE(wnd.post(broken));
    pump();
    EXPECT_EQ(calls, 1);
    const auto errors = log.matching(L"Unhandled OrvaneNotification");
    ASSERT_EQ(errors.size(), 1U);
    EXPECT_EQ(errors[0].message, L"Unhandled OrvaneNotification type [0] -- Memory leak!!!");
    EXPECT_EQ(errors[0].context, L"OrvaneBroadcastWnd::OnNotify");
}

// The leak checker of the sanitizer build proves that these records are freed.
TEST(OrvaneBroadcastWnd, RecordsThatAreNeverDeliveredAreFreed) {
    int calls = 0;
    {
        OrvaneBroadcastWnd wnd;
        boost::signals2::scoped_connection c = wnd.subscribe([&calls](const tagNMORVANEHDR*) { ++calls; });
        ASSERT_TRUE(wnd.post(heartbeat(1)));
        ASSERT_TRUE(wnd.post(commandFailure(2)));
        ASSERT_TRUE(wnd.post(reading(3, 1.0F)));
    } // destroyed with the three records waiting
    EXPECT_EQ(pump(), 0U);
    EXPECT_EQ(calls, 0);

    // Posting to a window that is gone fails and frees the record at once.
    OrvaneBroadcastWnd wnd;
    wnd.window().destroy();
    EXPECT_FALSE(wnd.post(heartbeat(4)));
    EXPECT_EQ(wyr::windows::system::getLastError(), wyr::windows::system::ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(wnd.post(nullptr));

    // A window whose thread ended without pumping: its queue's records are freed
    // as the thread goes, and later posts fail.
    std::unique_ptr<OrvaneBroadcastWnd> orphan;
    std::thread owner([&orphan] {
        orphan = std::make_unique<OrvaneBroadcastWnd>();
        ASSERT_TRUE(orphan->post(heartbeat(5)));
        ASSERT_TRUE(orphan->post(commandFailure(6)));
    });
    owner.join();
    ASSERT_TRUE(orphan);
    EXPECT_FALSE(orphan->post(heartbeat(7)));
    EXPECT_EQ(wyr::windows::system::getLastError(), wyr::windows::system::ERROR_INVALID_THREAD_ID);
}

TEST(OrvaneBroadcastWnd, SubscribersMayChangeTheListDuringDelivery) {
    OrvaneBroadcastWnd wnd;
    std::vector<std::string> calls;
    boost::signals2::connection late;
    boost::signals2::connection once;
    once = wnd.subscribe([&](const tagNMORVANEHDR* h) {
        calls.push_back("once " + std::to_string(h->id));
        once.disconnect();
        late = wnd.subscribe(
            [&calls](const tagNMORVANEHDR* hh) { calls.push_back("late " + std::to_string(hh->id)); });
    });
    wnd.post(reading(1, 0.0F));
    wnd.post(reading(2, 0.0F));
    pump();
    EXPECT_EQ(calls, (std::vector<std::string>{"once 1", "late 2"}));

    wnd.unsubscribeAll();
    EXPECT_FALSE(late.connected());
    wnd.post(reading(3, 0.0F));
    pump();
    EXPECT_EQ(calls.size(), 2U);
}

TEST(OrvaneBroadcastWnd, ManyProducersKeepTheirOwnOrder) {
    OrvaneBroadcastWnd wnd;
    constexpr int kProducers = 4;
    constexpr int kEach = 500;
    std::vector<std::vector<std::uint64_t>> received(kProducers);
    std::size_t total = 0;
    boost::signals2::scoped_connection c = wnd.subscribe([&](const tagNMORVANEHDR* h) {
        const auto* r = OrvaneNotification::as<OrvaneReadingNotification>(h);
        ASSERT_NE(r, nullptr);
        received.at(static_cast<std::size_t>(r->reading1)).push_back(h->id);
        ++total;
    });
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&wnd, p] {
            for (int i = 0; i < kEach; ++i) {
                wnd.post(reading(static_cast<std::uint64_t>(i), static_cast<float>(p)));
            }
        });
    }
    EXPECT_TRUE(runUntil([&] { return total == kProducers * kEach; }, 30000));
    for (auto& t : producers) {
        t.join();
    }
    pump();
    for (const auto& ids : received) {
        ASSERT_EQ(ids.size(), static_cast<std::size_t>(kEach));
        for (std::size_t i = 0; i < ids.size(); ++i) {
            EXPECT_EQ(ids[i], i);
        }
    }
}
