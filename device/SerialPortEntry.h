#pragma once

#include <cstdint>
#include <string>

namespace device {

// One present serial port: the n of COMn and a readable description (empty when
// none could be read).
struct SerialPortEntry {
    std::int32_t portNumber = 0;
    std::wstring description;

    bool operator==(const SerialPortEntry&) const = default;
};

} // namespace device
