#pragma once

#include "device/SerialPortEnumerator.h"

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// orvanectl scan [--port COM<n>]: probes the present ports in ascending order, or
// the one given, the way the main view scans, and prints the port that answered.
// Sends nothing but INTERROGATE. Exit 0 found, 1 none found, 2 bad usage or a
// port error.
class ScanCommand {
public:
    ScanCommand(std::ostream& out, std::ostream& err, const device::SerialPortEnumerator& ports)
        : _out(out), _err(err), _ports(ports) {}

    int run(std::vector<std::string> args);

private:
    std::ostream& _out;
    std::ostream& _err;
    const device::SerialPortEnumerator& _ports;
};

} // namespace cli
