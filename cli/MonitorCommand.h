#pragma once

#include "device/SerialPortEnumerator.h"

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

// orvanectl monitor [--port COM<n>] [--count N] [--seconds S] [--csv FILE]: finds
// and connects the device as the main view does (frame rate and gain brought into
// tolerance, then streaming) and writes one CSV line per reading, each as it
// comes. Device events and alerts go to standard error. Stops after N readings, S
// seconds, Ctrl-C, a closed output or a lost link, then disconnects normally
// (which resets the device).
//
// Once a device answered, every step has a bound derived from the settings (see
// Bounds), after which the command says what failed and ends as for a lost link.
// Exit 0 normal stop, 1 no device, 2 bad usage or a port that cannot be opened,
// 3 the link was lost or the device did not come to stream.
class MonitorCommand {
public:
    // The longest each step may take once the device answered the scan.
    struct Bounds {
        std::uint32_t connectMs;      // the link's own wait for the first heartbeat, and room
        std::uint32_t validationMs;   // frame rate and gain corrected, one command each
        std::uint32_t firstReadingMs; // START_STREAMING acknowledged, and a heartbeat period

        // From CommandAckTimeout and WatchDogTimeout, in seconds: a correction is
        // acknowledged within the first and checked at the next heartbeat, which
        // the watchdog expects within the second.
        static Bounds fromSettings(std::int32_t commandAckSeconds, std::int32_t watchDogSeconds);
    };

    MonitorCommand(std::ostream& out, std::ostream& err, const device::SerialPortEnumerator& ports)
        : _out(out), _err(err), _ports(ports) {}

    int run(const std::vector<std::string>& args);

    static const char* usage();

    // "2026-12-10T14:05:09.123+01:00,1.500,2.500,3.500"
    static std::string csvLine(std::chrono::system_clock::time_point time, float r1, float r2, float r3);

private:
    std::ostream& _out;
    std::ostream& _err;
    const device::SerialPortEnumerator& _ports;
};

} // namespace cli
