#pragma once

#include "device/SerialPortEnumerator.h"

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace cli {

// The command-line front end. Its commands grow with the system; each returns the
// process exit code and writes to the streams it is given.
class OrvaneCtl {
public:
    // `ports` is where the ports command looks; by default the running system.
    OrvaneCtl(std::ostream& out, std::ostream& err,
              device::SerialPortEnumerator ports = device::SerialPortEnumerator())
        : _out(out), _err(err), _ports(std::move(ports)) {}

    int run(const std::vector<std::string>& args);

private:
    int usage(int exitCode);
    int compose(const std::vector<std::string>& args);
    int explainError(const std::vector<std::string>& args);
    int listPorts(const std::vector<std::string>& args);

    std::ostream& _out;
    std::ostream& _err;
    device::SerialPortEnumerator _ports;
};

} // namespace cli
