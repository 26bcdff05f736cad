#pragma once

#include "cli/PortSelection.h"
#include "device/OrvaneInterface.h"
#include "device/SerialPortEnumerator.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace cli {

// The scan of the commands that only need to know where the device is (scan,
// flash): the supervisor's own scan (device::DeviceSupervisor) over the chosen
// ports, stopped where a device answered, before anything is connected. When
// nothing answered, the ports are asked whether something kept them from being
// probed. Runs on the user-interface thread and pumps it.
class DeviceScan {
public:
    enum class Outcome {
        Found,       // port() answered
        NotFound,    // every port was probed, none answered
        Blocked,     // none answered, and some could not be opened (explained on err)
        Failed,      // a probe could not be started (explained on err)
        Interrupted, // Ctrl-C
    };

    // The longest one probe can take: two 750 ms pauses, the enable and write waits
    // and the longest CommandAckTimeout (10 s), with room to spare.
    static constexpr std::uint32_t kProbeBoundMs = 20000;

    DeviceScan(device::OrvaneInterface& link, const device::SerialPortEnumerator& enumerator,
               std::ostream& err, std::string prefix)
        : _link(link), _enumerator(enumerator), _err(err), _prefix(std::move(prefix)) {}

    // `probing` hears of each port as its probe begins.
    Outcome find(const PortSelection& selection, const std::function<void(std::int32_t)>& probing = {});

    std::int32_t port() const noexcept { return _port; }

private:
    device::OrvaneInterface& _link;
    const device::SerialPortEnumerator& _enumerator;
    std::ostream& _err;
    std::string _prefix;
    std::int32_t _port = 0;
};

} // namespace cli
