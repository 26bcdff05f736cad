#pragma once

#include "device/SerialPortEnumerator.h"
#include "wyr/windows/system/SystemTime.h"

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// orvanectl monitor [--port COM<n>] [--count N] [--seconds S] [--csv FILE]: finds
// and connects the device as the main view does (frame rate and gain brought into
// tolerance, then streaming) and writes one CSV line per reading. Device events
// and alerts go to standard error. Stops after N readings, S seconds, Ctrl-C or a
// lost link, then disconnects normally (which resets the device).
// Exit 0 normal stop, 1 no device, 2 bad usage, 3 link lost.
class MonitorCommand {
public:
    MonitorCommand(std::ostream& out, std::ostream& err, const device::SerialPortEnumerator& ports)
        : _out(out), _err(err), _ports(ports) {}

    int run(std::vector<std::string> args);

    // "2026-12-10T14:05:09.123,1.500,2.500,3.500"
    static std::string csvLine(const wyr::windows::system::SYSTEMTIME& time, float r1, float r2, float r3);

private:
    std::ostream& _out;
    std::ostream& _err;
    const device::SerialPortEnumerator& _ports;
};

} // namespace cli
