#include "device/OrvaneExecutive.h"
#include "device/OrvaneMessage.h"
#include "tests/unit/support/LogCapture.h"
#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/MessageLoop.h"

#include <cmath>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace device;
using wyr::windows::config::ConfigMgr;
using namespace wyr::windows::system;

namespace {

struct Seen {
    int type = 0;
    std::uint64_t id = 0;
    std::int32_t port = 0;
    std::uint32_t error = 0;
    const OrvaneMessage* command = nullptr;
    std::vector<std::uint8_t> bytes;
    float readings[3] = {};
};

OrvaneStateNotification* stateRecord(const OrvaneNotificationType& type, bool antennaDisconnected,
                                     std::int32_t gain = 100) {
    auto* r = new OrvaneStateNotification(type);
    r->state.model = "X1";
    r->state.gain = gain;
    r->state.flags = OrvaneDeviceState::flagsFromStatus(antennaDisconnected ? 1U : 2U);
    return r;
}

OrvaneReadingNotification* readingRecord() {
    auto* r = new OrvaneReadingNotification;
    r->reading1 = 1.5F;
    r->reading2 = 2.5F;
    r->reading3 = 3.5F;
    return r;
}

// A device interface of its own per test, with its worker threads not started:
// what is tested here runs on the calling thread.
class DeviceInterface : public test::TempConfigHome {
protected:
    void SetUp() override {
        TempConfigHome::SetUp();
        impl = std::make_unique<OrvaneExecutive>(L"Device");
        impl->setDefaultConfiguration(-1);
        ConfigMgr::instance().setInt(L"Device.CommandAckTimeout", 1);
        subscription = impl->subscribe([this](const tagNMORVANEHDR* h) {
            Seen s;
            s.type = h->type->value();
            s.id = h->id;
            s.port = h->port;
            if (const auto* f = OrvaneNotification::as<OrvaneCommandFailureNotification>(h)) {
                s.error = f->error;
                s.command = f->command;
                s.bytes.assign(f->bytes.get(), f->bytes.get() + sentence.size());
            }
            if (const auto* r = OrvaneNotification::as<OrvaneReadingNotification>(h)) {
                s.readings[0] = r->reading1;
                s.readings[1] = r->reading2;
                s.readings[2] = r->reading3;
            }
            seen.push_back(std::move(s));
        });
        OrvaneMessage::compose(sentence, OrvaneMessage::SET_GAIN, 1234U);
    }

    void TearDown() override {
        subscription.disconnect();
        impl.reset();
        pump();
        TempConfigHome::TearDown();
    }

    std::size_t count(const OrvaneNotificationType& type) const {
        std::size_t n = 0;
        for (const auto& s : seen) {
            n += s.type == type.value() ? 1 : 0;
        }
        return n;
    }

    // Pumps for a while, so that a timer that should not fire would have.
    static void pumpFor(std::uint32_t ms) {
        runUntil([] { return false; }, ms);
    }

    std::unique_ptr<OrvaneExecutive> impl;
    boost::signals2::connection subscription;
    std::vector<Seen> seen;
    std::vector<std::uint8_t> sentence;
};

} // namespace

TEST_F(DeviceInterface, NotifyStampsIdsAndKeepsTheLatestDeviceState) {
    EXPECT_EQ(impl->lastHeartbeatId(), 0U);
    impl->notify(readingRecord());
    impl->notify(stateRecord(OrvaneNotificationType::NotifyHeartbeat, false, 321));
    std::thread([this] {
        impl->notify(stateRecord(OrvaneNotificationType::NotifyAcknowledge, false, 654));
    }).join();
    impl->notify(nullptr); // nothing to stamp, nothing counted

    EXPECT_EQ(impl->lastHeartbeatId(), 2U);
    EXPECT_EQ(impl->deviceState().gain, 654);
    EXPECT_EQ(impl->deviceState().model, "X1");
    pump();
    ASSERT_EQ(seen.size(), 3U);
    EXPECT_EQ(seen[0].id, 1U);
    EXPECT_EQ(seen[1].id, 2U);
    EXPECT_EQ(seen[2].id, 3U);
    EXPECT_EQ(seen[1].type, OrvaneNotificationType::NotifyHeartbeat.value());
    // An acknowledgement re-arms the watchdog.
    EXPECT_TRUE(impl->controlThread().watchDogEnabled());
    impl->controlThread().stopWatchDog();
}

TEST_F(DeviceInterface, ReadingsAreZeroedWhileTheAntennaIsDisconnected) {
    impl->notify(readingRecord());
    impl->notify(stateRecord(OrvaneNotificationType::NotifyHeartbeat, true));
    impl->notify(readingRecord());
    impl->notify(readingRecord());
    impl->notify(stateRecord(OrvaneNotificationType::NotifyAcknowledge, false));
    impl->notify(readingRecord());
    impl->controlThread().stopWatchDog();
    pump();
    std::vector<float> firstChannel;
    for (const auto& s : seen) {
        if (s.type == OrvaneNotificationType::NotifySentenceReceived.value()) {
            firstChannel.push_back(s.readings[0]);
            EXPECT_EQ(s.readings[1], s.readings[0] == 0.0F ? 0.0F : 2.5F);
            EXPECT_EQ(s.readings[2], s.readings[0] == 0.0F ? 0.0F : 3.5F);
        }
    }
    EXPECT_EQ(firstChannel, (std::vector<float>{1.5F, 0.0F, 0.0F, 1.5F}));
}

TEST_F(DeviceInterface, ASecondCommandWhileOneIsPendingIsRefused) {
    test::LogCapture log(0x0040);
    EXPECT_EQ(impl->queueCommand(OrvaneMessage::SET_GAIN, sentence), ERROR_SUCCESS);
    EXPECT_TRUE(impl->commandPending());
    EXPECT_EQ(impl->queueCommand(OrvaneMessage::SET_GAIN, sentence), ERROR_OPERATION_IN_PROGRESS);
    EXPECT_EQ(impl->start(), ERROR_OPERATION_IN_PROGRESS); // dropped, and said so
    const auto refused = log.matching(L"Failed to queue command.");
    ASSERT_EQ(refused.size(), 2U);
    EXPECT_EQ(refused[0].context, L"OrvaneImpl::queueCommand");
    const auto all = log.collect();
    const auto it = std::find_if(all.begin(), all.end(),
                                 [](const auto& r) { return r.message == L"Failed to queue command."; });
    ASSERT_NE(it + 1, all.end());
    EXPECT_EQ((it + 1)->message, systemMessage(ERROR_OPERATION_IN_PROGRESS));
}

TEST_F(DeviceInterface, AnUnacknowledgedCommandFailsOnceAfterTheTimeout) {
    ASSERT_EQ(impl->queueCommand(OrvaneMessage::SET_GAIN, sentence), ERROR_SUCCESS);
    EXPECT_FALSE(impl->controlThread().watchDogEnabled());
    ASSERT_TRUE(runUntil([this] { return count(OrvaneNotificationType::NotifyCommandFailure) > 0; }, 5000));
    pumpFor(1500); // the timer does not come back
    ASSERT_EQ(count(OrvaneNotificationType::NotifyCommandFailure), 1U);
    const Seen& failure = seen.back();
    EXPECT_EQ(failure.error, ERROR_TIMEOUT);
    EXPECT_EQ(failure.command, &OrvaneMessage::SET_GAIN);
    EXPECT_EQ(failure.bytes, sentence);
    EXPECT_EQ(failure.port, 0);
    EXPECT_FALSE(impl->commandPending());
    EXPECT_TRUE(impl->controlThread().watchDogEnabled()); // restarted by the failure
    impl->controlThread().stopWatchDog();

    // A late acknowledgement only updates the state; the next command goes.
    impl->notify(stateRecord(OrvaneNotificationType::NotifyAcknowledge, false, 777));
    EXPECT_EQ(impl->deviceState().gain, 777);
    EXPECT_EQ(impl->queueCommand(OrvaneMessage::SET_GAIN, sentence), ERROR_SUCCESS);
    impl->notify(stateRecord(OrvaneNotificationType::NotifyAcknowledge, false));
    impl->controlThread().stopWatchDog();
}

TEST_F(DeviceInterface, AnAcknowledgementFromAnotherThreadSettlesThePendingCommand) {
    ASSERT_EQ(impl->queueCommand(OrvaneMessage::SET_GAIN, sentence), ERROR_SUCCESS);
    // The parser runs on the serial thread; the timer belongs to this one.
    std::thread([this] {
        impl->notify(stateRecord(OrvaneNotificationType::NotifyAcknowledge, false));
    }).join();
    EXPECT_FALSE(impl->commandPending());
    // The subscriber may send the next command as soon as it sees the acknowledgement.
    bool accepted = false;
    boost::signals2::scoped_connection next = impl->subscribe([&](const tagNMORVANEHDR* h) {
        if (*h->type == OrvaneNotificationType::NotifyAcknowledge && !accepted) {
            accepted = impl->queueCommand(OrvaneMessage::SET_GAIN, sentence) == ERROR_SUCCESS;
        }
    });
    pump();
    EXPECT_TRUE(accepted);
    std::thread([this] {
        impl->notify(stateRecord(OrvaneNotificationType::NotifyAcknowledge, false));
    }).join();
    pumpFor(2500); // both timers expire at least once
    EXPECT_EQ(count(OrvaneNotificationType::NotifyCommandFailure), 0U);
    EXPECT_EQ(count(OrvaneNotificationType::NotifyAcknowledge), 2U);
    impl->controlThread().stopWatchDog();
}
