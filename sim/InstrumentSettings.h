#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// What the simulated instrument reports and how it behaves. The defaults put the
// frame rate and the gain outside the application's defaults so that every
// connection has something to correct.
struct InstrumentSettings {
    std::string model = "X1";
    std::int32_t serialNumber = 1001;
    std::string firmwareVersion = "1.2.3.45";
    unsigned frameRate = 30;
    std::int32_t gain = 1000;
    float voltage = 12.0F;
    bool antennaDisconnected = false;
    // Voltages reported by successive heartbeats, cycling; empty: `voltage` always.
    std::vector<float> voltageProfile;
    unsigned heartbeatPeriodMs = 1000;
};

// Faults to inject, so that the link can be tested against everything it must survive.
struct FaultSettings {
    int heartbeatsStopAfter = -1;     // heartbeats sent before they stop; -1: never stop
    std::string ignoreCommand;        // a command name whose acknowledgement is withheld ...
    int ignoreCount = 1;              // ... this many times (-1: always)
    unsigned corruptEvery = 0;        // every Nth sentence sent carries a wrong checksum
    unsigned noiseEvery = 0;          // line noise before every Nth sentence sent
    unsigned overlongEvery = 0;       // every Nth sentence is preceded by an endless unterminated one
    int unplugAfterMs = -1;           // the port vanishes this long after start
};

} // namespace sim
