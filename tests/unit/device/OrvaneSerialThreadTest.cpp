#include "device/OrvaneSerialThread.h"

#include "device/OrvaneInterface.h"
#include "device/OrvaneMessage.h"
#include "device/OrvaneParser.h"
#include "tests/unit/communication/PtyPair.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/communication/CommDefinitions.h"
#include "wyr/windows/communication/Serial.h"
#include "wyr/windows/system/Wait.h"
#include "wyr/windows/system/threading/ThreadImpl.h"
#include "wyr/windows/system/threading/ThreadState.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace device;
using namespace wyr::windows::system;
using wyr::windows::communication::Serial;

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// What reached the device interface and the parser's sink, in order, from the
// serial thread.
class Journal {
public:
    void add(const std::string& entry) {
        std::lock_guard guard(lock);
        entries.push_back(entry);
    }
    std::vector<std::string> all() const {
        std::lock_guard guard(lock);
        return entries;
    }
    std::size_t count(const std::string& entry) const {
        const auto list = all();
        return static_cast<std::size_t>(std::count(list.begin(), list.end(), entry));
    }

private:
    mutable std::mutex lock;
    std::vector<std::string> entries;
};

std::vector<std::uint8_t> ackSentence() {
    std::vector<std::uint8_t> bytes;
    return OrvaneMessage::compose(bytes, OrvaneMessage::ACK);
}

// The serial thread's calls into the device interface: disconnections, and ACKs,
// written to the port as the device interface writes them.
class DeviceRecorder final : public OrvaneInterface {
public:
    DeviceRecorder(Serial& serial, Journal& journal) : _port(serial), _journal(journal) {}

    ErrorCode disconnect(const DisconnectType& type, const std::uint32_t& reason) override {
        std::lock_guard guard(lock);
        calls.emplace_back(type.value(), reason);
        return 0;
    }
    std::vector<std::pair<int, std::uint32_t>> disconnects() const {
        std::lock_guard guard(lock);
        return calls;
    }

    void registerConfiguration() override {}
    int validateConfiguration() override { return 0; }
    void setDefaultConfiguration(const int&) override {}
    ErrorCode initialize() override { return 0; }
    void finalize() override {}
    boost::signals2::connection subscribe(const Callback&) override { return {}; }
    void unsubscribeAll() override {}
    ErrorCode interrogatePort(std::int32_t, std::int32_t) override { return 0; }
    ErrorCode connect(std::int32_t) override { return 0; }
    ErrorCode start() override { return 0; }
    ErrorCode stop() override { return 0; }
    ErrorCode setFrameRate(const std::uint32_t&) override { return 0; }
    ErrorCode setGain(const std::uint32_t&) override { return 0; }
    ErrorCode resetDevice() override { return 0; }
    ErrorCode enterBootloader(wyr::windows::communication::PortHandle&) override { return 0; }
    ErrorCode acknowledge() override {
        _journal.add("ack");
        const auto bytes = ackSentence();
        return _port.writePort(bytes.data(), static_cast<std::uint32_t>(bytes.size()), INFINITE, nullptr);
    }
    ErrorCode notify(OrvaneNotification* record) override {
        OrvaneNotification::release(record);
        return 0;
    }
    const std::wstring& name() const override { return deviceName; }
    std::int32_t portNumber() const override { return 0; }
    bool isOpen() const override { return false; }
    OrvaneDeviceState deviceState() const override { return {}; }
    bool commandPending() const override { return false; }

private:
    Serial& _port;
    Journal& _journal;
    mutable std::mutex lock;
    std::vector<std::pair<int, std::uint32_t>> calls;
    std::wstring deviceName = L"Test";
};

// Where the parser's records go: counted and journalled by kind. ACKs go to the
// serial thread as the device interface hands them on, `extraDelayMs` later.
class CountingSink final : public IOrvaneSink {
public:
    explicit CountingSink(Journal& journal) : _journal(journal) {}

    ErrorCode acknowledgeAt(SteadyClock::time_point due) override {
        worker->acknowledgeAt(due + std::chrono::milliseconds(extraDelayMs.load()));
        return 0;
    }
    ErrorCode notify(OrvaneNotification* record) override {
        const bool reading = OrvaneNotification::as<OrvaneReadingNotification>(record) != nullptr;
        readings.fetch_add(reading ? 1 : 0);
        _journal.add(reading ? "reading" : "state");
        OrvaneNotification::release(record);
        return 0;
    }

    OrvaneSerialThread* worker = nullptr;
    std::atomic<int> readings{0};
    std::atomic<int> extraDelayMs{0};

private:
    Journal& _journal;
};

const std::string kHeartbeat = "0002|M1|1001|1.2.3.45|30|2|12.5|100";

std::string sentence(const std::string& payload) {
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X",
                  static_cast<unsigned>(OrvaneMessage::checksum(payload)) & 0xFFU);
    return "\x02" + payload + "\x03" + checksum + "\x04";
}

bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) {
            return true;
        }
        sleepMs(10);
    }
    return condition();
}

// The serial thread on the slave of a pseudo-terminal, set up as the device
// interface sets up its port; the test plays the device on the master.
class SerialThread : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(serial.open(pty.widePath()), ERROR_SUCCESS);
        ASSERT_EQ(
            serial.setCommMask(wyr::windows::communication::EV_ERR | wyr::windows::communication::EV_TXEMPTY),
            ERROR_SUCCESS);
        ASSERT_EQ(serial.setEventChar('\x04'), ERROR_SUCCESS);
        sink.worker = &worker();
        worker().setReadHandlers(
            [p = parser](Event* terminate, const std::uint8_t* data, const std::uint32_t& length,
                         std::uint32_t* consumed) mutable {
                return p.parseIOBuffer(terminate, data, length, consumed);
            },
            {});
        worker().setWriteHandlers(
            [this](Event*, const std::uint8_t* bytes, const std::uint32_t& count) {
                // A sentence whose payload starts with 'X' is refused.
                return count > 1 && bytes[1] == 'X' ? -1 : static_cast<std::int32_t>(count);
            },
            [this](Event*, const std::uint8_t*, const std::int32_t&, const ErrorCode& result,
                   const std::uint32_t&) { writes.fetch_add(result == ERROR_SUCCESS ? 1 : 0); });
        ASSERT_EQ(thread.create("Test.Serial", &serial), ERROR_SUCCESS);
    }

    void TearDown() override {
        thread.shutdown(2000);
        serial.close();
    }

    OrvaneSerialThread& worker() { return thread.object(); }

    bool queue(const std::string& text) {
        return worker().queueData(reinterpret_cast<const std::uint8_t*>(text.data()),
                                  static_cast<std::uint32_t>(text.size()), 1000);
    }

    test::PtyPair pty;
    Serial serial;
    Journal journal;
    DeviceRecorder device{serial, journal};
    CountingSink sink{journal};
    OrvaneParser parser{sink};
    std::atomic<int> writes{0};
    threading::ThreadImpl<OrvaneSerialThread> thread{static_cast<OrvaneInterface&>(device)};
};

} // namespace

TEST_F(SerialThread, WritesQueuedSentencesInOrderOnlyWhileEnabled) {
    test::LogCapture log(0x0040);
    EXPECT_FALSE(queue(sentence("2")));
    EXPECT_EQ(log.matching(L"No internal message queue.").size(), 1U);

    const auto done = std::make_shared<Event>(Event::Reset::Auto);
    ASSERT_EQ(worker().enable(done), WAIT_OBJECT_0);
    EXPECT_TRUE(worker().enabled());
    const std::string first = sentence("5|25");
    const std::string second = sentence("4|0050");
    const std::string third = sentence("2");
    EXPECT_TRUE(queue(first));
    EXPECT_TRUE(queue(sentence("X")));
    EXPECT_TRUE(queue(second));
    // A refused item ends that round of writing; what follows goes out by the
    // next wake-up at the latest.
    sleepMs(100);
    EXPECT_TRUE(queue(third));
    const test::Bytes received = pty.receive(first.size() + second.size() + third.size());
    EXPECT_EQ(std::string(received.begin(), received.end()), first + second + third);
    EXPECT_TRUE(eventually([this] { return writes.load() == 3; }));
    EXPECT_EQ(log.matching(L"Nothing to write!").size(), 1U);

    ASSERT_EQ(worker().disable(done, 7), WAIT_OBJECT_0);
    EXPECT_FALSE(worker().enabled());
    EXPECT_FALSE(queue(first));
    sleepMs(100);
    EXPECT_TRUE(pty.drain().empty());
    EXPECT_TRUE(device.disconnects().empty());
}

TEST_F(SerialThread, HandsReadsToTheParserSentenceBySentenceAndReportsALostPort) {
    const auto done = std::make_shared<Event>(Event::Reset::Auto);
    ASSERT_EQ(worker().enable(done), WAIT_OBJECT_0);

    // Two whole readings and half of a third arrive together.
    const std::string third = sentence("0003|7|8|9");
    pty.send(sentence("0003|1|2|3") + sentence("0003|4|5|6") + third.substr(0, 6));
    EXPECT_TRUE(eventually([this] { return sink.readings.load() == 2; }));
    pty.send(third.substr(6));
    EXPECT_TRUE(eventually([this] { return sink.readings.load() == 3; }));

    // The device goes away: one "Abnormal" disconnection, then the thread idles.
    pty.closeMaster();
    EXPECT_TRUE(eventually([this] { return !device.disconnects().empty(); }));
    sleepMs(300);
    const auto calls = device.disconnects();
    ASSERT_EQ(calls.size(), 1U);
    EXPECT_EQ(calls[0], std::make_pair(DisconnectType::Abnormal.value(), 0U));
    EXPECT_EQ(thread.state(), threading::ThreadState::Wait);
}

TEST_F(SerialThread, AnswersEachHeartbeatAPauseLaterWithoutHoldingUpTheReadingsBehindIt) {
    const auto done = std::make_shared<Event>(Event::Reset::Auto);
    ASSERT_EQ(worker().enable(done), WAIT_OBJECT_0);

    // A heartbeat with a reading right behind it, in one read.
    const auto sent = SteadyClock::now();
    pty.send(sentence(kHeartbeat) + sentence("0003|1|2|3"));
    const test::Bytes ack = pty.receive(ackSentence().size());
    const auto answered = SteadyClock::now();
    EXPECT_EQ(ack, ackSentence());
    EXPECT_GE(answered - sent, std::chrono::milliseconds(OrvaneParser::AcknowledgePauseMs));
    // The reading did not wait for the ACK.
    EXPECT_EQ(journal.all(), (std::vector<std::string>{"state", "reading", "ack"}));

    // One ACK per heartbeat, a malformed one (seven fields) included, and no more.
    pty.send(sentence(kHeartbeat) + sentence("0002|M1|1001|1.2.3.45|30|2|12.5") + sentence(kHeartbeat));
    test::Bytes three;
    for (int i = 0; i < 3; ++i) {
        three.insert(three.end(), ack.begin(), ack.end());
    }
    EXPECT_EQ(pty.receive(three.size()), three);
    EXPECT_TRUE(pty.receive(1, 200ms).empty());
    EXPECT_EQ(journal.count("ack"), 4U);
    EXPECT_TRUE(device.disconnects().empty());
}

TEST_F(SerialThread, ASentenceQueuedWhileAnAckWaitsGoesOutAfterIt) {
    sink.extraDelayMs = 300;
    const auto done = std::make_shared<Event>(Event::Reset::Auto);
    ASSERT_EQ(worker().enable(done), WAIT_OBJECT_0);
    pty.send(sentence(kHeartbeat));
    ASSERT_TRUE(eventually([this] { return journal.count("state") == 1; }));

    const std::string command = sentence("5|25");
    EXPECT_TRUE(queue(command));
    const auto ack = ackSentence();
    const test::Bytes received = pty.receive(ack.size() + command.size());
    EXPECT_EQ(std::string(received.begin(), received.end()), std::string(ack.begin(), ack.end()) + command);
    EXPECT_TRUE(eventually([this] { return writes.load() == 1; }));
}

TEST_F(SerialThread, ADisableDropsTheAcksStillWaiting) {
    sink.extraDelayMs = 1000;
    const auto done = std::make_shared<Event>(Event::Reset::Auto);
    ASSERT_EQ(worker().enable(done), WAIT_OBJECT_0);
    pty.send(sentence(kHeartbeat));
    ASSERT_TRUE(eventually([this] { return journal.count("state") == 1; }));

    ASSERT_EQ(worker().disable(done, 7), WAIT_OBJECT_0);
    ASSERT_EQ(worker().enable(done), WAIT_OBJECT_0);
    // Well past the time the ACK was due.
    EXPECT_TRUE(pty.receive(1, 1500ms).empty());
    EXPECT_EQ(journal.count("ack"), 0U);
}
