#pragma once

#include "device/SerialPortEnumerator.h"
#include "wyr/windows/system/SystemError.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

// What keeps a port from being probed at all: the user may not open it, or another
// program holds it. A probe reports either as a port without a device, so a
// command that found nothing asks each port once more, and says what stands in
// the way and what to do about it.
class PortAccess {
public:
    // 0 when the port can be opened (it is closed again at once, without touching
    // its modem lines); else the error of opening it.
    static wyr::windows::system::ErrorCode check(const std::string& devicePath);

    // The explanation of a port that `code` keeps from use; empty for a code that
    // does not (a port that opens, or that vanished).
    static std::string explain(std::int32_t port, const std::string& devicePath,
                               wyr::windows::system::ErrorCode code);

    // Checks the ports and writes one explanation each (after `prefix`) for those
    // that cannot be used; true when there was one.
    static bool report(const device::SerialPortEnumerator& enumerator, const std::vector<std::int32_t>& ports,
                       std::ostream& err, const std::string& prefix);
};

} // namespace cli
