#include "cli/PortSelection.h"

#include "cli/DeviceSession.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/TextConversion.h"

#include <algorithm>
#include <unistd.h>

namespace cli {

using namespace wyr::windows::system;

PortSelection PortSelection::choose(const device::SerialPortEnumerator& enumerator,
                                    std::optional<std::int32_t> port, std::ostream& err,
                                    const char* command) {
    PortSelection selection;
    if (port) {
        const std::string path = enumerator.devicePathForPort(*port);
        if (path.empty() || ::access(path.c_str(), F_OK) != 0) {
            err << "orvanectl " << command << ": COM" << *port << " does not exist\n";
            selection.failed = true;
            return selection;
        }
        selection.ports.push_back(device::SerialPortEntry{*port, {}});
        selection.given = true;
        return selection;
    }
    if (!enumerator.enumeratePorts(selection.ports)) {
        const ErrorCode code = getLastError();
        err << "orvanectl " << command
            << ": the serial ports cannot be listed: " << DeviceSession::describe(code) << "\n";
        selection.failed = true;
        return selection;
    }
    std::sort(selection.ports.begin(), selection.ports.end(),
              [](const auto& a, const auto& b) { return a.portNumber < b.portNumber; });
    return selection;
}

} // namespace cli
