#pragma once

#include "device/SerialPortEnumerator.h"

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// orvanectl scan [--port COM<n>]: probes the present ports in ascending order, or
// the one given, the way the main view scans, and prints the port that answered.
// Sends nothing but INTERROGATE. Exit 0 found, 1 none found, 2 bad usage, a port
// that does not exist or cannot be opened.
class ScanCommand {
public:
    ScanCommand(std::ostream& out, std::ostream& err, const device::SerialPortEnumerator& ports)
        : _out(out), _err(err), _ports(ports) {}

    int run(const std::vector<std::string>& args);

    static const char* usage();

private:
    std::ostream& _out;
    std::ostream& _err;
    const device::SerialPortEnumerator& _ports;
};

} // namespace cli
