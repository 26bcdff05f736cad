#pragma once

#include "device/OrvaneNotification.h"
#include "tests/unit/device/FakeOrvaneInterface.h"

#include <cmath>

namespace test {

// A device state as a heartbeat reports it, and helpers that deliver records.
inline device::OrvaneDeviceState sampleState(bool streaming, int frameRate = 16) {
    device::OrvaneDeviceState state;
    state.model = "X1";
    state.serialNumber = 120034;
    state.firmwareVersion = device::OrvaneDeviceState::packFirmwareVersion(2, 10, 1, 345);
    state.flags = streaming ? device::OrvaneDeviceState::StreamingFlag : 0;
    state.frameRate = static_cast<std::uint8_t>(frameRate);
    state.measuredFrameRate = 15.96;
    state.gain = 512;
    state.voltage = 12.25F;
    return state;
}

inline void
deliverState(FakeOrvaneInterface& fake, const device::OrvaneDeviceState& state,
             const device::OrvaneNotificationType& type = device::OrvaneNotificationType::NotifyHeartbeat) {
    device::OrvaneStateNotification record(type);
    record.state = state;
    fake.deliver(record);
}

inline void deliverReading(FakeOrvaneInterface& fake, float a, float b, float c) {
    device::OrvaneReadingNotification record;
    record.reading1 = a;
    record.reading2 = b;
    record.reading3 = c;
    fake.deliver(record);
}

inline void deliverDisconnect(FakeOrvaneInterface& fake) {
    device::OrvaneDisconnectNotification record(7);
    fake.deliver(record);
}

} // namespace test
