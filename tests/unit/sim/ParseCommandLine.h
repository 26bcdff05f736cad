#pragma once

#include "sim/SimulatorCommandLine.h"

#include <sstream>
#include <string>
#include <vector>

namespace test {

// Runs the simulator's option parser on `args` as if given after "orvane-sim".
inline int parseCommandLine(std::vector<std::string> args, sim::SimulatorCommandLine& commandLine) {
    args.insert(args.begin(), "orvane-sim");
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    std::ostringstream out, err;
    return commandLine.parse(static_cast<int>(argv.size()), argv.data(), out, err);
}

} // namespace test
