#include "cli/ScanCommand.h"

#include "cli/CommonOptions.h"
#include "cli/DeviceSession.h"
#include "cli/PortSelection.h"
#include "device/OrvaneInterface.h"
#include "device/OrvaneNotification.h"
#include "device/OrvaneScanPhase.h"
#include "wyr/windows/system/MessageLoop.h"

#include <boost/signals2/connection.hpp>
#include <optional>

namespace cli {

using namespace wyr::windows::system;

namespace {

// The longest one probe can take: two 750 ms pauses, the enable and write waits
// and the longest CommandAckTimeout (10 s), with room to spare.
constexpr std::uint32_t kProbeBoundMs = 20000;

} // namespace

int ScanCommand::run(std::vector<std::string> args) {
    CommonOptions options;
    if (const auto error = options.take(args)) {
        _err << "orvanectl scan: " << *error << "\n";
        return 2;
    }
    if (!args.empty()) {
        _err << "orvanectl scan: unexpected argument '" << args[0] << "'\n";
        return 2;
    }
    const PortSelection selection = PortSelection::choose(_ports, options.port, _err, "scan");
    if (selection.failed) {
        return 2;
    }
    if (selection.ports.empty()) {
        _err << "orvanectl scan: no serial ports are present\n";
        return 1;
    }

    DeviceSession session(options, _err);
    if (session.open() != ERROR_SUCCESS) {
        return 2;
    }
    auto& device = session.device();
    std::optional<std::uint32_t> result;
    std::int32_t resultPort = 0;
    const boost::signals2::scoped_connection subscription =
        device.subscribe([&](const device::tagNMORVANEHDR* header) {
            const auto* record =
                device::OrvaneNotification::as<device::OrvaneInterrogateNotification>(header);
            if (record != nullptr && *record->phase == device::OrvaneScanPhase::NotifyScanResult) {
                result = record->result;
                resultPort = record->port;
            }
        });

    // As the main view: an automatic scan announces itself with port 0 and numbers
    // its probes 1, 2, 3 ...; a single-port scan probes with -1.
    const bool single = options.port.has_value();
    if (!single && device.interrogatePort(0, 0) != ERROR_SUCCESS) {
        _err << "orvanectl scan: the scan could not be started\n";
        return 2;
    }
    std::int32_t scanArg = single ? -1 : 1;
    for (const auto& entry : selection.ports) {
        result.reset();
        if (const ErrorCode rc = device.interrogatePort(entry.portNumber, scanArg); rc != ERROR_SUCCESS) {
            _err << "orvanectl scan: COM" << entry.portNumber << " could not be probed (" << rc << ")\n";
            return 2;
        }
        runUntil([&] { return (result && resultPort == entry.portNumber) || DeviceSession::interrupted(); },
                 kProbeBoundMs);
        if (DeviceSession::interrupted()) {
            _err << "orvanectl scan: interrupted\n";
            return 1;
        }
        if (result && *result == ERROR_SUCCESS) {
            _out << "COM" << entry.portNumber << "\n";
            return 0;
        }
        if (!single) {
            ++scanArg;
        }
    }
    _err << "orvanectl scan: no Orvane device answered\n";
    return 1;
}

} // namespace cli
