#pragma once

#include "sim/InstrumentSettings.h"

#include <ostream>

namespace sim {

// The options of orvane-sim.
class SimulatorCommandLine {
public:
    // -1 to go on; otherwise the exit code (0 after --help, 2 for bad usage).
    int parse(int argc, char** argv, std::ostream& out, std::ostream& err);

    const InstrumentSettings& settings() const { return _settings; }
    const FaultSettings& faults() const { return _faults; }
    int port() const { return _port; }

    static void usage(std::ostream& out);

private:
    InstrumentSettings _settings;
    FaultSettings _faults;
    int _port = 0;
};

} // namespace sim
