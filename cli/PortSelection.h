#pragma once

#include "device/SerialPortEntry.h"
#include "device/SerialPortEnumerator.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

namespace cli {

// The ports a device command works on: the one given with --port, which must
// exist, or every present port in ascending order. Empty with a message on err
// when the given port does not exist or the ports cannot be listed.
struct PortSelection {
    std::vector<device::SerialPortEntry> ports;
    bool failed = false;
    bool given = false; // the port came from --port

    static PortSelection choose(const device::SerialPortEnumerator& enumerator,
                                std::optional<std::int32_t> port, std::ostream& err, const char* command);
};

} // namespace cli
