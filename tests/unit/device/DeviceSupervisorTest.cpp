#include "device/DeviceSupervisor.h"

#include "device/OrvaneMessage.h"
#include "device/OrvaneScanPhase.h"
#include "tests/unit/device/FakeOrvaneInterface.h"
#include "tests/unit/device/RecordingSupervisorSink.h"
#include "tests/unit/support/CommaDecimalLocale.h"
#include "tests/unit/support/LogCapture.h"
#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/logging/LogVerbosity.h"

#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using device::DeviceSupervisor;
using device::OrvaneDeviceState;
using device::OrvaneNotificationType;
using device::OrvaneScanPhase;
using device::SerialPortEntry;
using wyr::windows::logging::LogVerbosity;
using Call = test::FakeOrvaneInterface::Call;
using State = DeviceSupervisor::State;
using Events = std::vector<std::wstring>;

namespace {

class OwnConfigMgr : public wyr::windows::config::ConfigMgr {
public:
    OwnConfigMgr() = default;
};

OrvaneDeviceState deviceAt(std::uint8_t frameRate, std::int32_t gain, float voltage = 24.0F) {
    OrvaneDeviceState state;
    state.model = "Orvane X1";
    state.frameRate = frameRate;
    state.gain = gain;
    state.voltage = voltage;
    return state;
}

class DeviceSupervisorTest : public test::TempConfigHome {
protected:
    DeviceSupervisor& supervisor() {
        if (!_supervisor) {
            _supervisor = std::make_unique<DeviceSupervisor>(device, config, sink);
        }
        return *_supervisor;
    }

    void scanPhase(const OrvaneScanPhase& phase, std::int32_t port, std::int32_t scanArg,
                   std::uint32_t result = 0) {
        device.deliver(device::OrvaneInterrogateNotification(phase, port, scanArg, result));
    }
    void connectResult(std::int32_t port, std::uint32_t result) {
        device.deliver(device::OrvaneConnectNotification(port, result));
    }
    // The device's latest state becomes `state`, then its report arrives.
    void report(const OrvaneNotificationType& type, const OrvaneDeviceState& state) {
        device.state = state;
        device::OrvaneStateNotification record(type);
        record.state = state;
        device.deliver(record);
    }
    void heartbeat(const OrvaneDeviceState& state) { report(OrvaneNotificationType::NotifyHeartbeat, state); }
    void disconnected(std::int32_t port) {
        device.open = false;
        device.state = {};
        device.deliver(device::OrvaneDisconnectNotification(port, 0));
    }
    void commandFailure(const device::OrvaneMessage& command) {
        device.deliver(device::OrvaneCommandFailureNotification(3, command, nullptr));
    }

    // Scans COM3 alone, connects and validates a device already in tolerance.
    void stream(const OrvaneDeviceState& state = deviceAt(16, 1023)) {
        ASSERT_EQ(supervisor().startScan({{3, L"link"}}), 0U);
        scanPhase(OrvaneScanPhase::NotifyScanBegin, 0, 0);
        scanPhase(OrvaneScanPhase::NotifyScanPort, 3, 1);
        scanPhase(OrvaneScanPhase::NotifyScanResult, 3, 1, 0);
        device.open = true;
        connectResult(3, 0);
        heartbeat(state);
        ASSERT_EQ(supervisor().state(), State::Streaming);
        device.calls.clear();
        sink.take();
    }

    OwnConfigMgr config;
    test::FakeOrvaneInterface device;
    test::RecordingSupervisorSink sink;

private:
    std::unique_ptr<DeviceSupervisor> _supervisor;
};

} // namespace

TEST_F(DeviceSupervisorTest, ScansPortsInAscendingOrderWithRisingArguments) {
    ASSERT_EQ(supervisor().startScan({{9, L"c"}, {2, L"a"}, {5, L"b"}}), 0U);
    EXPECT_EQ(device.calls, (std::vector<Call>{{"interrogatePort", 0, 0}}));
    EXPECT_EQ(sink.take(), (Events{L"clear", L"autoConnect:0"}));
    EXPECT_EQ(supervisor().state(), State::Scanning);
    ASSERT_EQ(supervisor().scanList().size(), 3U);
    EXPECT_EQ(supervisor().scanList().front().portNumber, 2);
    EXPECT_EQ(device.subscribers(), 1U);

    scanPhase(OrvaneScanPhase::NotifyScanBegin, 0, 0);
    EXPECT_EQ(device.calls.back(), (Call{"interrogatePort", 2, 1}));
    EXPECT_EQ(sink.take(), (Events{L"notification:Scanning ports. Please wait..."}));
    EXPECT_EQ(supervisor().state(), State::Scanning);

    scanPhase(OrvaneScanPhase::NotifyScanPort, 2, 1);
    scanPhase(OrvaneScanPhase::NotifyScanResult, 2, 1, 1200);
    EXPECT_EQ(device.calls.back(), (Call{"interrogatePort", 5, 2}));
    scanPhase(OrvaneScanPhase::NotifyScanPort, 5, 2);
    scanPhase(OrvaneScanPhase::NotifyScanResult, 5, 2, 31);
    EXPECT_EQ(device.calls.back(), (Call{"interrogatePort", 9, 3}));
    EXPECT_EQ(sink.take(), (Events{
                               L"notification:Interrogating port...\"\\.\\COM2\".",
                               L"notification:No Orvane found on port...\\\\.\\COM2!",
                               L"notification:Interrogating port...\"\\.\\COM5\".",
                               L"notification:No Orvane found on port...\\\\.\\COM5!",
                           }));

    scanPhase(OrvaneScanPhase::NotifyScanPort, 9, 3);
    scanPhase(OrvaneScanPhase::NotifyScanResult, 9, 3, 1200);
    EXPECT_EQ(sink.take(), (Events{
                               L"notification:Interrogating port...\"\\.\\COM9\".",
                               L"notification:No Orvane found on port...\\\\.\\COM9!",
                               L"closeNotification",
                               L"error:Failed to find a Orvane.",
                               L"portMenu",
                               L"autoConnect:1",
                           }));
    EXPECT_EQ(device.calls.size(), 4U);
    EXPECT_EQ(supervisor().state(), State::Idle);
}

TEST_F(DeviceSupervisorTest, APortThatHangsUpWhileProbedDoesNotEndTheScan) {
    ASSERT_EQ(supervisor().startScan({{3, L""}, {5, L""}}), 0U);
    scanPhase(OrvaneScanPhase::NotifyScanBegin, 0, 0);
    scanPhase(OrvaneScanPhase::NotifyScanPort, 3, 1);
    sink.take();
    disconnected(3);
    EXPECT_TRUE(sink.take().empty());
    scanPhase(OrvaneScanPhase::NotifyScanResult, 3, 1, 1200);
    EXPECT_EQ(device.calls.back(), (Call{"interrogatePort", 5, 2}));
    EXPECT_EQ(sink.take(), (Events{L"notification:No Orvane found on port...\\\\.\\COM3!"}));
    EXPECT_EQ(supervisor().state(), State::Scanning);
}

TEST_F(DeviceSupervisorTest, NoPortOrAScanThatCannotStartEndsAtOnce) {
    EXPECT_EQ(supervisor().startScan({}), wyr::windows::system::ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(sink.take(), (Events{L"clear", L"error:No serial ports found!"}));
    EXPECT_TRUE(device.calls.empty());
    EXPECT_EQ(device.subscribers(), 0U);
    EXPECT_EQ(supervisor().state(), State::Idle);

    device.interrogateResult = wyr::windows::system::ERROR_INVALID_THREAD_ID;
    EXPECT_EQ(supervisor().startScan({{1, L""}}), wyr::windows::system::ERROR_INVALID_THREAD_ID);
    EXPECT_EQ(sink.take(), (Events{L"clear", L"autoConnect:0", L"autoConnect:1",
                                   L"error:Failed to interrogate port(s)."}));
    EXPECT_EQ(supervisor().scanPort(4), wyr::windows::system::ERROR_INVALID_THREAD_ID);
    EXPECT_EQ(sink.take(), (Events{L"clear", L"autoConnect:0", L"autoConnect:1",
                                   L"error:Failed to interrogate port(s)."}));
    EXPECT_EQ(supervisor().state(), State::Idle);
}

TEST_F(DeviceSupervisorTest, AScanStopsWhenTheNextPortCannotBeInterrogated) {
    ASSERT_EQ(supervisor().startScan({{1, L""}, {2, L""}}), 0U);
    scanPhase(OrvaneScanPhase::NotifyScanBegin, 0, 0);
    sink.take();
    device.interrogateResult = wyr::windows::system::ERROR_INVALID_THREAD_ID;
    scanPhase(OrvaneScanPhase::NotifyScanResult, 1, 1, 1200);
    EXPECT_EQ(device.calls.back(), (Call{"interrogatePort", 2, 2}));
    EXPECT_EQ(sink.take(),
              (Events{L"notification:No Orvane found on port...\\\\.\\COM1!", L"closeNotification",
                      L"error:Failed to interrogate port(s).", L"portMenu", L"autoConnect:1"}));
    EXPECT_TRUE(supervisor().scanList().empty());
    EXPECT_EQ(supervisor().state(), State::Idle);

    // A scan start nobody asked for finds no port to probe.
    scanPhase(OrvaneScanPhase::NotifyScanBegin, 0, 0);
    EXPECT_EQ(device.calls.size(), 3U);
    EXPECT_TRUE(sink.has(L"error:Failed to find a Orvane."));
}

TEST_F(DeviceSupervisorTest, SinglePortScanCarriesMinusOneAndOpensTheDialogOnThePort) {
    ASSERT_EQ(supervisor().startScan({{1, L""}, {2, L""}}), 0U);
    ASSERT_EQ(supervisor().scanPort(7), 0U);
    EXPECT_EQ(device.calls.back(), (Call{"interrogatePort", 7, -1}));
    EXPECT_EQ(supervisor().state(), State::Scanning);
    EXPECT_TRUE(supervisor().scanList().empty());
    EXPECT_EQ(device.subscribers(), 1U);
    sink.take();

    scanPhase(OrvaneScanPhase::NotifyScanPort, 7, -1);
    scanPhase(OrvaneScanPhase::NotifyScanResult, 7, -1, 1200);
    EXPECT_EQ(sink.take(), (Events{
                               L"notification:Interrogating port...\"\\.\\COM7\".",
                               L"notification:No Orvane found on port...\\\\.\\COM7!",
                               L"closeNotification",
                               L"error:Failed to find a Orvane.",
                               L"portMenu",
                               L"autoConnect:1",
                           }));
    EXPECT_EQ(device.calls.size(), 2U);
}

TEST_F(DeviceSupervisorTest, ConnectsValidatesFrameRateThenGainThenStreams) {
    test::LogCapture capture;
    ASSERT_EQ(supervisor().startScan({{4, L""}}), 0U);
    scanPhase(OrvaneScanPhase::NotifyScanBegin, 0, 0);
    scanPhase(OrvaneScanPhase::NotifyScanPort, 4, 1);
    sink.take();
    scanPhase(OrvaneScanPhase::NotifyScanResult, 4, 1, 0);
    EXPECT_EQ(device.calls.back(), (Call{"connect", 4, 0}));
    EXPECT_EQ(sink.take(), (Events{L"notification:Connecting to a Orvane found on port \"\\.\\COM4\""}));
    EXPECT_EQ(supervisor().state(), State::Connecting);

    // Not validated before the connection is confirmed.
    heartbeat(deviceAt(25, 1023));
    EXPECT_EQ(device.calls.size(), 3U);
    EXPECT_FALSE(supervisor().connectionMarker());

    device.open = true;
    connectResult(4, 0);
    EXPECT_EQ(sink.take(), (Events{L"connected:4"}));
    EXPECT_TRUE(supervisor().connectionMarker());
    EXPECT_EQ(supervisor().state(), State::Validating);

    // The default setting is 16 fps.
    heartbeat(deviceAt(25, 1023));
    EXPECT_EQ(device.calls.back(), (Call{"setFrameRate", 16, 0}));
    EXPECT_EQ(sink.take(), (Events{L"notification:Validating Orvane settings."}));

    // Acknowledgements are not validated.
    report(OrvaneNotificationType::NotifyAcknowledge, deviceAt(16, 900));
    EXPECT_EQ(device.calls.size(), 4U);

    heartbeat(deviceAt(16, 900));
    EXPECT_EQ(device.calls.back(), (Call{"setGain", 793, 0}));
    EXPECT_EQ(sink.take(), (Events{L"notification:Validating Orvane settings.", L"gain:793"}));
    EXPECT_EQ(supervisor().shownGain(), 793);

    heartbeat(deviceAt(16, 793));
    EXPECT_EQ(device.calls.back(), (Call{"start", 0, 0}));
    EXPECT_EQ(sink.take(),
              (Events{L"notification:Validating Orvane settings.", L"closeNotification", L"streaming"}));
    EXPECT_EQ(supervisor().state(), State::Streaming);
    EXPECT_EQ(device.calls.size(), 6U);

    // From now on the normal handling runs, through the one subscription.
    EXPECT_EQ(device.subscribers(), 1U);
    heartbeat(deviceAt(16, 793));
    EXPECT_EQ(device.calls.size(), 6U);
    EXPECT_TRUE(sink.has(L"deviceLed:2"));

    const auto warnings = capture.matching(L"out of tolerance");
    ASSERT_EQ(warnings.size(), 2U);
    EXPECT_EQ(warnings[0].message, L"Frame rate out of tolerance - Adjusting frame rate from 25 to 16");
    EXPECT_EQ(warnings[0].verbosity, LogVerbosity::Warning.value());
    EXPECT_EQ(warnings[0].context, L"DeviceSupervisor::checkFrameRate");
    EXPECT_EQ(warnings[1].message, L"Gain out of tolerance - Adjusting gain from 900 to 793");
    EXPECT_EQ(warnings[1].verbosity, LogVerbosity::Warning.value());
    const auto validating = capture.matching(L"Validating Orvane settings.");
    ASSERT_EQ(validating.size(), 3U);
    EXPECT_EQ(validating[0].verbosity, LogVerbosity::AppSpecific1.value());
    const auto received = capture.matching(L"OrvaneNotification Message Id [0], type [5][NotifyConnect]");
    ASSERT_EQ(received.size(), 1U);
    EXPECT_EQ(received[0].verbosity, LogVerbosity::DebugLevel4.value());
}

// The device may apply a correction before it acknowledges it: the heartbeat then
// shows the corrected value while the link would still drop the start.
TEST_F(DeviceSupervisorTest, StreamingStartsOnlyWhenTheStartWasSent) {
    ASSERT_EQ(supervisor().startScan({{4, L""}}), 0U);
    scanPhase(OrvaneScanPhase::NotifyScanBegin, 0, 0);
    scanPhase(OrvaneScanPhase::NotifyScanResult, 4, 1, 0);
    device.open = true;
    connectResult(4, 0);
    heartbeat(deviceAt(16, 900));
    ASSERT_EQ(device.calls.back(), (Call{"setGain", 793, 0}));
    sink.take();

    device.pending = true;
    heartbeat(deviceAt(16, 793));
    EXPECT_EQ(device.calls.back(), (Call{"setGain", 793, 0})); // nothing new
    EXPECT_TRUE(sink.take().empty());
    EXPECT_EQ(supervisor().state(), State::Validating);

    // A start the link refuses all the same is not streaming either.
    device.pending = false;
    device.startResult = 329;
    heartbeat(deviceAt(16, 793));
    EXPECT_EQ(device.calls.back(), (Call{"start", 0, 0}));
    EXPECT_FALSE(sink.has(L"streaming"));
    EXPECT_EQ(supervisor().state(), State::Validating);

    device.startResult = 0;
    heartbeat(deviceAt(16, 793));
    EXPECT_EQ(device.callsOf("start").size(), 2U);
    EXPECT_TRUE(sink.has(L"streaming"));
    EXPECT_EQ(supervisor().state(), State::Streaming);
    EXPECT_EQ(device.subscribers(), 1U);
}

TEST_F(DeviceSupervisorTest, FrameRateIsBroughtIntoTheLimits) {
    struct Case {
        const wchar_t* limits;
        const wchar_t* wanted;
        std::uint8_t deviceRate;
        std::int64_t expected; // -1: in tolerance
    };
    const std::vector<Case> cases{
        {L"1|655380", L"1|30", 16, 20}, // minimum 10, maximum 20
        {L"1|655380", L"1|5", 16, 10},
        {L"1|655380", L"1|30", 20, -1},
        {L"1|655380", L"1|15", 15, -1},
        {L"1|8200", L"1|16", 16, -1}, // the defaults: 0 to 8200
        {L"1|8200", L"1|16", 25, 16},
        // A wanted rate the device cannot hold, before or after the limits, is
        // replaced by the default instead of being asked for at every heartbeat.
        {L"1|655380", L"1|-4", 25, 16},
        {L"1|8200", L"1|300", 16, -1},
        {L"1|8200", L"1|256", 44, 16},
        {L"1|19661200", L"1|16", 16, -1}, // limits 300 to 400
        {L"1|0", L"1|16", 16, -1},        // limits 0 to 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::wstring(c.limits) + L" " + c.wanted);
        ASSERT_EQ(config.define(L"Device.FrameRateLimits", c.limits, false), 0U);
        ASSERT_EQ(config.define(L"UI.FrameRate", c.wanted, false), 0U);
        device.state = deviceAt(c.deviceRate, 1023);
        device.calls.clear();
        EXPECT_EQ(supervisor().checkFrameRate(), c.expected < 0);
        if (c.expected < 0) {
            EXPECT_TRUE(device.calls.empty());
        } else {
            EXPECT_EQ(device.calls, (std::vector<Call>{{"setFrameRate", c.expected, 0}}));
        }
    }
}

TEST_F(DeviceSupervisorTest, GainIsBroughtOntoThePermittedList) {
    test::LogCapture capture;
    struct Case {
        std::int32_t gain;
        std::int64_t expected; // -1: in tolerance
    };
    for (const auto& c :
         std::vector<Case>{{2000, 1023}, {900, 793}, {700, 793}, {100, 106}, {0, 1}, {793, -1}, {1, -1}}) {
        SCOPED_TRACE(c.gain);
        device.state = deviceAt(16, c.gain);
        device.calls.clear();
        EXPECT_EQ(supervisor().checkGain(), c.expected < 0);
        if (c.expected < 0) {
            EXPECT_TRUE(device.calls.empty());
        } else {
            EXPECT_EQ(device.calls, (std::vector<Call>{{"setGain", c.expected, 0}}));
            EXPECT_EQ(supervisor().shownGain(), c.expected);
        }
    }
    EXPECT_EQ(sink.starting(L"gain:"), (Events{L"gain:793", L"gain:106", L"gain:1"}));
    EXPECT_EQ(capture.matching(L"Gain out of tolerance - Adjusting gain from 100 to 106").size(), 1U);
}

TEST_F(DeviceSupervisorTest, WithoutGainSettingsAnyGainIsAcceptedAndTheButtonsDoNothing) {
    ASSERT_EQ(config.define(L"UI.GainSettings", L"3|", false), 0U);
    device.state = deviceAt(16, 512);
    EXPECT_TRUE(supervisor().checkGain());
    EXPECT_FALSE(supervisor().gainDown());
    EXPECT_FALSE(supervisor().gainUp());
    EXPECT_TRUE(device.calls.empty());
}

TEST_F(DeviceSupervisorTest, AConnectionThatFailsIsReported) {
    for (const bool posted : {true, false}) {
        SCOPED_TRACE(posted);
        device.connectResult = posted ? 0 : wyr::windows::system::ERROR_INVALID_THREAD_ID;
        ASSERT_EQ(supervisor().startScan({{4, L""}}), 0U);
        scanPhase(OrvaneScanPhase::NotifyScanBegin, 0, 0);
        sink.take();
        scanPhase(OrvaneScanPhase::NotifyScanResult, 4, 1, 0);
        if (posted) {
            connectResult(4, 1200);
        }
        EXPECT_EQ(
            sink.take(),
            (Events{L"notification:Connecting to a Orvane found on port \"\\.\\COM4\"", L"closeNotification",
                    L"error:Failed to connect to the Orvane on port \"\\.\\COM4\"", L"autoConnect:1"}));
        EXPECT_FALSE(supervisor().connectionMarker());
        EXPECT_EQ(supervisor().state(), State::Idle);
    }
}

TEST_F(DeviceSupervisorTest, ALinkLostDuringValidationEndsIt) {
    ASSERT_EQ(supervisor().startScan({{4, L""}}), 0U);
    scanPhase(OrvaneScanPhase::NotifyScanBegin, 0, 0);
    scanPhase(OrvaneScanPhase::NotifyScanResult, 4, 1, 0);
    device.open = true;
    connectResult(4, 0);
    sink.take();
    disconnected(4);
    EXPECT_FALSE(supervisor().connectionMarker());
    EXPECT_EQ(supervisor().state(), State::Idle);
    EXPECT_TRUE(sink.has(L"closeNotification"));
    EXPECT_TRUE(sink.has(L"information:Disconnected."));
    EXPECT_TRUE(sink.has(L"autoConnect:1"));
    EXPECT_TRUE(sink.has(L"disconnectButton:0"));
    EXPECT_TRUE(sink.has(L"portMenu"));
    // A late heartbeat validates nothing.
    device.calls.clear();
    heartbeat(deviceAt(25, 900));
    EXPECT_TRUE(device.calls.empty());
}

TEST_F(DeviceSupervisorTest, UnacknowledgedCommandsRaiseAnAlertInEitherPhase) {
    ASSERT_EQ(supervisor().startScan({{4, L""}}), 0U);
    commandFailure(device::OrvaneMessage::SET_FRAME_RATE);
    EXPECT_TRUE(sink.has(L"warning:[SET_FRAME_RATE] command failed!"));
    stream();
    commandFailure(device::OrvaneMessage::SET_GAIN);
    EXPECT_TRUE(sink.has(L"warning:[SET_GAIN] command failed!"));
}

TEST_F(DeviceSupervisorTest, ShowsTheDeviceStateWhileStreaming) {
    stream();
    heartbeat(deviceAt(16, 512, 24.0F));
    EXPECT_EQ(sink.take(),
              (Events{L"deviceLed:2", L"antennaLed:1", L"voltage: 24.0", L"look:inRange", L"gain:512",
                      L"dB: 70.5", L"autoConnect:0", L"disconnectButton:1", L"gainButtons:0,0", L"refresh"}));

    // The LED alternates with heartbeats; an acknowledgement lights it steadily.
    auto state = deviceAt(16, 1023, 24.4F);
    state.flags = OrvaneDeviceState::AntennaDisconnectedFlag;
    heartbeat(state);
    EXPECT_EQ(sink.take(),
              (Events{L"deviceLed:1", L"antennaLed:2", L"voltage: 24.2", L"gain:1023", L"dB: 65.7",
                      L"autoConnect:0", L"disconnectButton:1", L"gainButtons:0,1", L"refresh"}));
    heartbeat(deviceAt(16, 1, 24.0F));
    EXPECT_EQ(sink.starting(L"deviceLed:"), (Events{L"deviceLed:2"}));
    EXPECT_TRUE(sink.has(L"dB:105.2"));
    EXPECT_TRUE(sink.has(L"gainButtons:1,0"));
    sink.take();
    report(OrvaneNotificationType::NotifyAcknowledge, deviceAt(16, 793, 25.5F));
    EXPECT_EQ(sink.take(), (Events{L"deviceLed:1", L"antennaLed:1", L"warning:Voltage fluctuation!",
                                   L"voltage: 25.5", L"gain:793", L"dB: 67.4", L"autoConnect:0",
                                   L"disconnectButton:1", L"gainButtons:1,1", L"refresh"}));
    EXPECT_EQ(supervisor().voltage().size(), 1U);

    device.deliver(device::OrvaneWatchDogNotification());
    EXPECT_EQ(sink.starting(L"deviceLed:"), (Events{L"deviceLed:3"}));
    EXPECT_TRUE(sink.has(L"warning:Unable to communication with Orvane X1!"));
}

TEST_F(DeviceSupervisorTest, VoltageOutOfRangeIsAnnouncedOncePerExcursion) {
    ASSERT_EQ(config.define(L"UI.VoltageSamples", L"1|1", false), 0U);
    ASSERT_EQ(config.define(L"UI.VoltageVariation", L"1|1176256512", false), 0U); // 10000.0
    config.setFloat(L"UI.InputVoltageMin", 10.0F);
    stream();
    for (const float volts : {9.0F, 8.0F, 12.0F, 60.0F, 70.0F, 4.0F}) {
        heartbeat(deviceAt(16, 1023, volts));
    }
    EXPECT_EQ(sink.starting(L"warning:"), (Events{L"warning:Under voltage!", L"warning:Over voltage!"}));
    EXPECT_EQ(sink.starting(L"look:"), (Events{L"look:alarm", L"look:inRange", L"look:alarm"}));
    // The range is read for every state.
    sink.take();
    config.setFloat(L"UI.InputVoltageMax", 100.0F);
    heartbeat(deviceAt(16, 1023, 70.0F));
    EXPECT_EQ(sink.starting(L"look:"), (Events{L"look:inRange"}));
}

TEST_F(DeviceSupervisorTest, ADisconnectionResetsTheDisplays) {
    stream();
    heartbeat(deviceAt(16, 512, 24.0F));
    sink.take();
    disconnected(3);
    EXPECT_EQ(sink.take(), (Events{L"gain:1023", L"dB:-----", L"deviceLed:0", L"antennaLed:0",
                                   L"voltage:-----", L"look:idle", L"portMenu", L"information:Disconnected.",
                                   L"autoConnect:1", L"disconnectButton:0", L"gainButtons:0,0", L"refresh"}));
    EXPECT_EQ(supervisor().shownGain(), 1023);
    EXPECT_FALSE(supervisor().connectionMarker());
    EXPECT_EQ(supervisor().voltage().size(), 0U);
    EXPECT_EQ(supervisor().state(), State::Idle);

    // A new scan goes back to the scan handling.
    ASSERT_EQ(supervisor().startScan({{3, L""}}), 0U);
    EXPECT_EQ(device.subscribers(), 1U);
    scanPhase(OrvaneScanPhase::NotifyScanBegin, 0, 0);
    EXPECT_EQ(device.calls.back(), (Call{"interrogatePort", 3, 1}));
}

TEST_F(DeviceSupervisorTest, GainButtonsStepFromTheShownGain) {
    stream(deviceAt(16, 793));
    heartbeat(deviceAt(16, 793));
    EXPECT_TRUE(supervisor().gainDown());
    EXPECT_TRUE(supervisor().gainUp());
    EXPECT_EQ(device.calls, (std::vector<Call>{{"setGain", 1023, 0}, {"setGain", 666, 0}}));
    // The display follows the device, not the request.
    EXPECT_EQ(supervisor().shownGain(), 793);

    device.calls.clear();
    heartbeat(deviceAt(16, 1));
    EXPECT_TRUE(supervisor().gainDown());
    EXPECT_FALSE(supervisor().gainUp());
    EXPECT_EQ(device.calls, (std::vector<Call>{{"setGain", 3, 0}}));
}

TEST_F(DeviceSupervisorTest, UserCommandsAndTheFrameRatePane) {
    EXPECT_EQ(supervisor().disconnect(), 0U);
    EXPECT_EQ(device.calls.back(), (Call{"disconnect", device::DisconnectType::Normal.value(), 0}));

    EXPECT_EQ(supervisor().resetDevice(), 0U);
    EXPECT_FALSE(sink.has(L"error:Failed to perform reset."));
    device.resetResult = wyr::windows::system::ERROR_BAD_DEVICE;
    EXPECT_EQ(supervisor().resetDevice(), wyr::windows::system::ERROR_BAD_DEVICE);
    EXPECT_TRUE(sink.has(L"error:Failed to perform reset."));

    struct Case {
        bool open;
        double measured;
        const wchar_t* expected;
    };
    for (const auto& c : std::vector<Case>{{false, 16.0, L"---"},
                                           {true, std::numeric_limits<double>::quiet_NaN(), L"---"},
                                           {true, 0.0, L"---"},
                                           {true, 15.96, L"16.0 fps"},
                                           {true, 123.44, L"123.4 fps"}}) {
        device.open = c.open;
        device.state.measuredFrameRate = c.measured;
        EXPECT_EQ(supervisor().frameRateText(), c.expected);
    }
}

TEST_F(DeviceSupervisorTest, DisplayedNumbersReadTheSameInAUserLocale) {
    const test::CommaDecimalLocale locale;
    if (!locale.active()) {
        GTEST_SKIP() << locale.why();
    }
    stream();
    heartbeat(deviceAt(16, 512, 24.5F));
    EXPECT_TRUE(sink.has(L"voltage: 24.5"));
    EXPECT_TRUE(sink.has(L"dB: 70.5"));
    device.state.measuredFrameRate = 15.96;
    EXPECT_EQ(supervisor().frameRateText(), L"16.0 fps");
}

TEST_F(DeviceSupervisorTest, ResetViewPreparesTheNextScan) {
    stream();
    heartbeat(deviceAt(16, 512));
    sink.take();
    supervisor().resetView();
    EXPECT_EQ(sink.take(), (Events{L"clear", L"gain:1023", L"dB:-----", L"deviceLed:0", L"antennaLed:0",
                                   L"voltage:-----", L"look:idle", L"portMenu"}));
    EXPECT_FALSE(supervisor().connectionMarker());
    EXPECT_EQ(device.subscribers(), 1U);
    // The scan handling is subscribed, and no connection is confirmed.
    device.calls.clear();
    heartbeat(deviceAt(25, 900));
    EXPECT_TRUE(device.calls.empty());
    EXPECT_TRUE(sink.events.empty());
}
