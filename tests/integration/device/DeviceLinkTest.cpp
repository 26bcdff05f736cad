#include "device/OrvaneInterface.h"
#include "device/OrvaneMessage.h"
#include "device/OrvaneScanPhase.h"
#include "sim/InstrumentSimulator.h"
#include "tests/unit/support/LogCapture.h"
#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/Descriptor.h"
#include "wyr/windows/system/MessageLoop.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace device;
using sim::FaultSettings;
using sim::InstrumentSettings;
using sim::InstrumentSimulator;
using wyr::windows::config::ConfigMgr;
using namespace wyr::windows::system;

namespace {

// A notification as a subscriber saw it, copied during the call.
struct Seen {
    const OrvaneNotificationType* type = nullptr;
    std::uint64_t id = 0;
    std::int32_t port = 0;
    std::uint32_t result = 0; // scan, connect, disconnect result; failure and watchdog error
    const OrvaneScanPhase* phase = nullptr;
    std::int32_t scanArg = 0;
    OrvaneDeviceState state;
    float readings[3] = {};
    const OrvaneMessage* command = nullptr;
    std::vector<std::uint8_t> bytes; // as long as the failed command's sentence

    bool is(const OrvaneNotificationType& t) const { return *type == t; }
};

std::vector<std::uint8_t> sentenceOf(const OrvaneMessage& message, std::uint32_t value) {
    std::vector<std::uint8_t> bytes;
    return OrvaneMessage::compose(bytes, message, value);
}

// The device link against the simulated instrument on pseudo-terminals. The test
// thread is the user-interface thread: it creates the interface and pumps while
// it waits. Each test has its own port directory and settings.
class DeviceLink : public test::TempConfigHome {
protected:
    void SetUp() override {
        TempConfigHome::SetUp();
        std::string pattern = (std::filesystem::temp_directory_path() / "orvane-ports-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        portDirectory = pattern;
        ::setenv("ORVANE_PORT_DIR", portDirectory.c_str(), 1);

        ASSERT_EQ(getInterface(OrvaneInterfaceId::Orvane, &link), ERROR_SUCCESS);
        link->setDefaultConfiguration(-1);
        ConfigMgr::instance().setInt(L"Device.CommandAckTimeout", 1);
        ConfigMgr::instance().setInt(L"Device.WatchDogTimeout", 1);
        ASSERT_EQ(link->validateConfiguration(), 0);
        subscription = link->subscribe([this](const tagNMORVANEHDR* h) { record(h); });
        ASSERT_EQ(link->initialize(), ERROR_SUCCESS);
    }

    void TearDown() override {
        if (link != nullptr) {
            if (link->isOpen()) {
                const std::size_t before = count(OrvaneNotificationType::NotifyDisconnect);
                link->disconnect(DisconnectType::Normal, 0);
                runUntil([&] { return count(OrvaneNotificationType::NotifyDisconnect) > before; }, 5000);
            }
            subscription.disconnect();
            link->finalize();
            pump();
        }
        simulators.clear();
        silent.clear();
        ::unsetenv("ORVANE_PORT_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(portDirectory, ignored);
        TempConfigHome::TearDown();
    }

    void record(const tagNMORVANEHDR* h) {
        Seen s;
        s.type = h->type;
        s.id = h->id;
        s.port = h->port;
        if (const auto* i = OrvaneNotification::as<OrvaneInterrogateNotification>(h)) {
            s.phase = i->phase;
            s.scanArg = i->scanArg;
            s.result = i->result;
        } else if (const auto* c = OrvaneNotification::as<OrvaneConnectNotification>(h)) {
            s.result = c->result;
        } else if (const auto* d = OrvaneNotification::as<OrvaneDisconnectNotification>(h)) {
            s.result = d->result;
        } else if (const auto* st = OrvaneNotification::as<OrvaneStateNotification>(h)) {
            s.state = st->state;
        } else if (const auto* r = OrvaneNotification::as<OrvaneReadingNotification>(h)) {
            s.readings[0] = r->reading1;
            s.readings[1] = r->reading2;
            s.readings[2] = r->reading3;
        } else if (const auto* f = OrvaneNotification::as<OrvaneCommandFailureNotification>(h)) {
            s.result = f->error;
            s.command = f->command;
            const std::size_t length = sentenceOf(*f->command, 0).size();
            s.bytes.assign(f->bytes.get(), f->bytes.get() + length);
        } else if (const auto* w = OrvaneNotification::as<OrvaneWatchDogNotification>(h)) {
            s.result = w->error;
        }
        seen.push_back(std::move(s));
    }

    std::size_t count(const OrvaneNotificationType& type) const {
        std::size_t n = 0;
        for (const auto& s : seen) {
            n += s.is(type) ? 1 : 0;
        }
        return n;
    }

    // The last record of a type, after pumping until one more than `before` arrived.
    const Seen* await(const OrvaneNotificationType& type, std::size_t before, std::uint32_t timeoutMs) {
        if (!runUntil([&] { return count(type) > before; }, timeoutMs)) {
            return nullptr;
        }
        for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
            if (it->is(type)) {
                return &*it;
            }
        }
        return nullptr;
    }

    InstrumentSimulator& startSimulator(FaultSettings faults = {}, int com = 0) {
        InstrumentSettings settings;
        settings.heartbeatPeriodMs = 200;
        auto simulator = std::make_unique<InstrumentSimulator>(settings, faults);
        EXPECT_EQ(simulator->start(com), ERROR_SUCCESS);
        simulators.push_back(std::move(simulator));
        return *simulators.back();
    }

    // A port that opens but where nobody answers: a pseudo-terminal nobody reads.
    int silentPort(int com) {
        Descriptor master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
        EXPECT_TRUE(master.valid());
        EXPECT_EQ(::grantpt(master.get()), 0);
        EXPECT_EQ(::unlockpt(master.get()), 0);
        char name[128] = {};
        EXPECT_EQ(::ptsname_r(master.get(), name, sizeof name), 0);
        const auto linkPath = std::filesystem::path(portDirectory) / ("COM" + std::to_string(com));
        std::filesystem::create_symlink(name, linkPath);
        silent.push_back(std::move(master));
        return silent.back().get();
    }

    // Probes the port (a scan of one) and connects.
    void probeAndConnect(int com) {
        const std::size_t scans = count(OrvaneNotificationType::NotifyInterrogate);
        ASSERT_EQ(link->interrogatePort(com, 1), ERROR_SUCCESS);
        ASSERT_TRUE(
            runUntil([&] { return count(OrvaneNotificationType::NotifyInterrogate) >= scans + 2; }, 8000));
        const Seen* result = await(OrvaneNotificationType::NotifyInterrogate, scans + 1, 8000);
        ASSERT_NE(result, nullptr);
        ASSERT_EQ(*result->phase, OrvaneScanPhase::NotifyScanResult);
        ASSERT_EQ(result->result, ERROR_SUCCESS);

        const std::size_t connects = count(OrvaneNotificationType::NotifyConnect);
        ASSERT_EQ(link->connect(com), ERROR_SUCCESS);
        const Seen* connected = await(OrvaneNotificationType::NotifyConnect, connects, 8000);
        ASSERT_NE(connected, nullptr);
        ASSERT_EQ(connected->result, ERROR_SUCCESS);
        ASSERT_EQ(connected->port, com);
    }

    static std::vector<std::string> commandsOf(const InstrumentSimulator& simulator) {
        std::vector<std::string> commands;
        for (const auto& payload : simulator.status().commands) {
            if (payload != "\x06") { // heartbeat answers
                commands.push_back(payload);
            }
        }
        return commands;
    }

    std::string portDirectory;
    OrvaneInterface* link = nullptr;
    boost::signals2::connection subscription;
    std::vector<Seen> seen;
    std::vector<std::unique_ptr<InstrumentSimulator>> simulators;
    std::vector<Descriptor> silent;
};

} // namespace

TEST_F(DeviceLink, AScanFindsTheOnePortWhereTheDeviceAnswers) {
    const int silentMaster = silentPort(210);
    InstrumentSimulator& instrument = startSimulator({}, 211);
    ASSERT_EQ(instrument.comNumber(), 211);

    // 212 has no device at all; 210 opens but stays silent; 211 answers.
    ASSERT_EQ(link->interrogatePort(0, 0), ERROR_SUCCESS);
    for (const int port : {212, 210, 211}) {
        ASSERT_EQ(link->interrogatePort(port, 7), ERROR_SUCCESS);
    }
    ASSERT_TRUE(runUntil([&] { return count(OrvaneNotificationType::NotifyInterrogate) == 7; }, 20000));

    struct Step {
        const OrvaneScanPhase* phase;
        std::int32_t port;
        std::int32_t scanArg;
        std::uint32_t result;
    };
    const std::vector<Step> expected{
        {&OrvaneScanPhase::NotifyScanBegin, 0, 0, 0},
        {&OrvaneScanPhase::NotifyScanPort, 212, 7, 0},
        {&OrvaneScanPhase::NotifyScanResult, 212, 7, ERROR_BAD_DEVICE},
        {&OrvaneScanPhase::NotifyScanPort, 210, 7, 0},
        {&OrvaneScanPhase::NotifyScanResult, 210, 7, ERROR_BAD_DEVICE},
        {&OrvaneScanPhase::NotifyScanPort, 211, 7, 0},
        {&OrvaneScanPhase::NotifyScanResult, 211, 7, ERROR_SUCCESS},
    };
    std::size_t step = 0;
    for (const auto& s : seen) {
        if (!s.is(OrvaneNotificationType::NotifyInterrogate)) {
            continue;
        }
        SCOPED_TRACE(step);
        ASSERT_LT(step, expected.size());
        EXPECT_EQ(s.phase, expected[step].phase);
        EXPECT_EQ(s.port, expected[step].port);
        EXPECT_EQ(s.scanArg, expected[step].scanArg);
        EXPECT_EQ(s.result, expected[step].result);
        ++step;
    }
    EXPECT_TRUE(link->isOpen());
    EXPECT_EQ(link->portNumber(), 211);

    // The silent port was asked too.
    char received[64] = {};
    const ssize_t got = ::read(silentMaster, received, sizeof received);
    EXPECT_EQ(std::string(received, got > 0 ? static_cast<std::size_t>(got) : 0U), std::string("\x02"
                                                                                               "1\x03"
                                                                                               "31\x04\x0D"));

    const std::size_t connects = count(OrvaneNotificationType::NotifyConnect);
    ASSERT_EQ(link->connect(211), ERROR_SUCCESS);
    const Seen* connected = await(OrvaneNotificationType::NotifyConnect, connects, 8000);
    ASSERT_NE(connected, nullptr);
    EXPECT_EQ(connected->result, ERROR_SUCCESS);
    EXPECT_EQ(connected->port, 211);
    EXPECT_EQ(commandsOf(instrument), std::vector<std::string>{"1"});
}

// A port a probe left open is let go with the link, so the next start can take it.
TEST_F(DeviceLink, FinalizeLetsGoOfAPortAProbeLeftOpen) {
    InstrumentSimulator& instrument = startSimulator({}, 213);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const std::size_t before = count(OrvaneNotificationType::NotifyInterrogate);
        ASSERT_EQ(link->interrogatePort(instrument.comNumber(), -1), ERROR_SUCCESS);
        ASSERT_TRUE(
            runUntil([&] { return count(OrvaneNotificationType::NotifyInterrogate) == before + 2; }, 10000));
        EXPECT_EQ(seen.back().result, ERROR_SUCCESS);
        ASSERT_TRUE(link->isOpen());
        link->finalize();
        EXPECT_FALSE(link->isOpen());
        EXPECT_EQ(link->portNumber(), 0);
        ASSERT_EQ(link->initialize(), ERROR_SUCCESS);
    }
}

TEST_F(DeviceLink, CommandsGoOutAsSentencesAndEveryHeartbeatIsAnswered) {
    InstrumentSimulator& instrument = startSimulator();
    probeAndConnect(instrument.comNumber());
    test::LogCapture errors(0x0040);

    std::size_t acks = count(OrvaneNotificationType::NotifyAcknowledge);
    link->setFrameRate(25);
    ASSERT_NE(await(OrvaneNotificationType::NotifyAcknowledge, acks, 4000), nullptr);
    acks = count(OrvaneNotificationType::NotifyAcknowledge);
    link->setGain(50);
    ASSERT_NE(await(OrvaneNotificationType::NotifyAcknowledge, acks, 4000), nullptr);
    EXPECT_EQ(commandsOf(instrument), (std::vector<std::string>{"1", "5|25", "4|0050"}));
    EXPECT_EQ(link->deviceState().frameRate, 25);
    EXPECT_EQ(link->deviceState().gain, 50);
    EXPECT_EQ(link->deviceState().model, "X1");

    // Streaming; readings stop counting while the antenna is off.
    acks = count(OrvaneNotificationType::NotifyAcknowledge);
    link->start();
    ASSERT_NE(await(OrvaneNotificationType::NotifyAcknowledge, acks, 4000), nullptr);
    ASSERT_TRUE(runUntil([&] { return count(OrvaneNotificationType::NotifySentenceReceived) >= 5; }, 4000));
    instrument.setAntennaDisconnected(true);
    const auto antennaOff = [this] {
        for (std::size_t i = 0; i < seen.size(); ++i) {
            if (seen[i].is(OrvaneNotificationType::NotifyHeartbeat) && seen[i].state.antennaDisconnected()) {
                return i;
            }
        }
        return seen.size();
    };
    ASSERT_TRUE(runUntil([&] { return antennaOff() < seen.size(); }, 4000));
    const std::size_t off = antennaOff();
    const std::size_t readingsBefore = count(OrvaneNotificationType::NotifySentenceReceived);
    ASSERT_TRUE(runUntil(
        [&] { return count(OrvaneNotificationType::NotifySentenceReceived) >= readingsBefore + 5; }, 4000));
    std::size_t zeroed = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        if (!seen[i].is(OrvaneNotificationType::NotifySentenceReceived)) {
            continue;
        }
        const bool zero =
            seen[i].readings[0] == 0.0F && seen[i].readings[1] == 0.0F && seen[i].readings[2] == 0.0F;
        EXPECT_EQ(zero, i > off) << i;
        zeroed += zero ? 1 : 0;
    }
    EXPECT_GE(zeroed, 5U);

    // Every heartbeat sent so far gets its ACK, and only one.
    const unsigned sent = instrument.status().heartbeatsSent;
    EXPECT_GE(sent, 3U);
    EXPECT_TRUE(runUntil([&] { return instrument.status().acksReceived >= sent; }, 3000));
    const auto status = instrument.status();
    EXPECT_LE(status.acksReceived, status.heartbeatsSent);
    // Waiting for an ACK's time is routine, connected or streaming.
    for (const auto& e : errors.collect()) {
        ADD_FAILURE() << std::string(e.context.begin(), e.context.end()) << ": "
                      << std::string(e.message.begin(), e.message.end());
    }
    EXPECT_EQ(count(OrvaneNotificationType::NotifyWatchDog), 0U);
    EXPECT_EQ(count(OrvaneNotificationType::NotifyCommandFailure), 0U);
}

TEST_F(DeviceLink, ASilentDeviceRaisesTheWatchDogEveryPeriod) {
    test::LogCapture log(0x0040);
    InstrumentSimulator& instrument = startSimulator();
    probeAndConnect(instrument.comNumber());
    instrument.setHeartbeats(false);
    ASSERT_TRUE(runUntil([&] { return count(OrvaneNotificationType::NotifyWatchDog) >= 2; }, 6000));
    for (const auto& s : seen) {
        if (s.is(OrvaneNotificationType::NotifyWatchDog)) {
            EXPECT_EQ(s.result, ERROR_TIMEOUT);
        }
    }
    EXPECT_GE(log.matching(L"Watch Dog timeout!!!").size(), 2U);

    // Heartbeats again: the watchdog goes quiet.
    instrument.setHeartbeats(true);
    const std::size_t heartbeats = count(OrvaneNotificationType::NotifyHeartbeat);
    ASSERT_NE(await(OrvaneNotificationType::NotifyHeartbeat, heartbeats, 3000), nullptr);
    runUntil([] { return false; }, 300);
    const std::size_t raised = count(OrvaneNotificationType::NotifyWatchDog);
    runUntil([] { return false; }, 2500);
    EXPECT_EQ(count(OrvaneNotificationType::NotifyWatchDog), raised);
}

TEST_F(DeviceLink, AnUnacknowledgedCommandIsReportedAfterTheTimeout) {
    test::LogCapture log(0x0040);
    FaultSettings faults;
    faults.ignoreCommand = "SET_GAIN";
    InstrumentSimulator& instrument = startSimulator(faults);
    const int com = instrument.comNumber();
    probeAndConnect(com);

    link->setGain(77);
    link->setGain(78); // refused: the first is still pending
    const Seen* failure = await(OrvaneNotificationType::NotifyCommandFailure, 0, 4000);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->result, ERROR_TIMEOUT);
    EXPECT_EQ(failure->command, &OrvaneMessage::SET_GAIN);
    EXPECT_EQ(failure->bytes, sentenceOf(OrvaneMessage::SET_GAIN, 77));
    EXPECT_EQ(failure->port, com);
    EXPECT_EQ(log.matching(L"Failed to queue command.").size(), 1U);

    // The failure cleared the way for the next command, which the device answers.
    const std::size_t acks = count(OrvaneNotificationType::NotifyAcknowledge);
    link->setGain(78);
    ASSERT_NE(await(OrvaneNotificationType::NotifyAcknowledge, acks, 4000), nullptr);
    EXPECT_EQ(commandsOf(instrument), (std::vector<std::string>{"1", "4|0077", "4|0078"}));
    EXPECT_EQ(count(OrvaneNotificationType::NotifyCommandFailure), 1U);
}

TEST_F(DeviceLink, UnpluggingEndsInAnAbnormalDisconnection) {
    test::LogCapture log(0x0040);
    InstrumentSimulator& instrument = startSimulator();
    const int com = instrument.comNumber();
    probeAndConnect(com);

    instrument.unplug();
    const Seen* disconnected = await(OrvaneNotificationType::NotifyDisconnect, 0, 5000);
    ASSERT_NE(disconnected, nullptr);
    EXPECT_EQ(disconnected->result, ERROR_SUCCESS);
    EXPECT_EQ(disconnected->port, com);
    EXPECT_EQ(log.matching(L"Abnormal disconnection from Orvane device! Reason [0].").size(), 1U);
    EXPECT_FALSE(link->isOpen());
    EXPECT_EQ(link->portNumber(), 0);
    EXPECT_EQ(link->deviceState().model, "");
}

TEST_F(DeviceLink, ANormalDisconnectionResetsTheDeviceAndClosesThePort) {
    InstrumentSimulator& instrument = startSimulator();
    const int com = instrument.comNumber();
    probeAndConnect(com);

    ASSERT_EQ(link->disconnect(DisconnectType::Normal, 0), ERROR_SUCCESS);
    const Seen* disconnected = await(OrvaneNotificationType::NotifyDisconnect, 0, 5000);
    ASSERT_NE(disconnected, nullptr);
    EXPECT_EQ(disconnected->result, ERROR_SUCCESS);
    EXPECT_EQ(disconnected->port, com);
    EXPECT_EQ(commandsOf(instrument).back(), "7");
    EXPECT_FALSE(link->isOpen());
    EXPECT_EQ(link->portNumber(), 0);

    // Nothing arrives from the closed port; the next notification is number 1.
    const unsigned acksAfter = instrument.status().acksReceived;
    const std::size_t before = seen.size();
    ASSERT_EQ(link->interrogatePort(0, 0), ERROR_SUCCESS);
    const Seen* begin = await(OrvaneNotificationType::NotifyInterrogate,
                              count(OrvaneNotificationType::NotifyInterrogate), 3000);
    ASSERT_NE(begin, nullptr);
    EXPECT_EQ(begin->id, 1U);
    EXPECT_EQ(seen.size(), before + 1);
    EXPECT_EQ(instrument.status().acksReceived, acksAfter);
}

TEST_F(DeviceLink, EnteringTheBootloaderHandsTheOpenPortOver) {
    InstrumentSimulator& instrument = startSimulator();
    probeAndConnect(instrument.comNumber());

    wyr::windows::communication::PortHandle port;
    ASSERT_EQ(link->enterBootloader(port), ERROR_SUCCESS);
    ASSERT_TRUE(port);
    EXPECT_TRUE(port->isOpen());
    EXPECT_FALSE(link->isOpen());
    EXPECT_EQ(link->portNumber(), 0);
    EXPECT_TRUE(runUntil([&] { return instrument.status().inBootloader; }, 2000));
    EXPECT_EQ(commandsOf(instrument).back(), "Z");

    // Nobody is subscribed any more and the link's threads are gone.
    const std::size_t delivered = seen.size();
    runUntil([] { return false; }, 300);
    EXPECT_EQ(seen.size(), delivered);

    // The new owner closes the port; the link starts again afterwards.
    port->close();
    wyr::windows::communication::PortHandle untouched;
    EXPECT_EQ(link->enterBootloader(untouched), ERROR_SUCCESS); // no port open: nothing to hand over
    EXPECT_FALSE(untouched);
    EXPECT_EQ(link->initialize(), ERROR_SUCCESS);
    subscription = link->subscribe([this](const tagNMORVANEHDR* h) { record(h); });
    ASSERT_EQ(link->interrogatePort(0, 0), ERROR_SUCCESS);
    const Seen* begin = await(OrvaneNotificationType::NotifyInterrogate,
                              count(OrvaneNotificationType::NotifyInterrogate), 3000);
    ASSERT_NE(begin, nullptr);
    EXPECT_EQ(begin->id, 1U);
}
