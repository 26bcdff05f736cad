#include "cli/DeviceScan.h"

#include "cli/DeviceSession.h"
#include "cli/PortAccess.h"
#include "cli/ProbeOnlyLink.h"
#include "device/DeviceSupervisor.h"
#include "device/IDeviceSupervisorSink.h"
#include "device/OrvaneNotification.h"
#include "device/OrvaneScanPhase.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/MessageLoop.h"

#include <boost/signals2/connection.hpp>

namespace cli {

using device::DeviceSupervisor;
using namespace wyr::windows::system;

namespace {

// The supervisor's dialogs have no place here: the command says what happened.
class SilentSink final : public device::IDeviceSupervisorSink {};

} // namespace

DeviceScan::Outcome DeviceScan::find(const PortSelection& selection,
                                     const std::function<void(std::int32_t)>& probing) {
    _port = 0;
    ProbeOnlyLink probe(_link);
    SilentSink sink;
    DeviceSupervisor supervisor(probe, wyr::windows::config::ConfigMgr::instance(), sink);
    const boost::signals2::scoped_connection announcements =
        _link.subscribe([&](const device::tagNMORVANEHDR* header) {
            const auto* record =
                device::OrvaneNotification::as<device::OrvaneInterrogateNotification>(header);
            if (record != nullptr && record->phase != nullptr &&
                *record->phase == device::OrvaneScanPhase::NotifyScanPort && probing) {
                probing(record->port);
            }
        });

    const bool single = selection.ports.size() == 1 && selection.given;
    const ErrorCode started = single ? supervisor.scanPort(selection.ports.front().portNumber)
                                     : supervisor.startScan(selection.ports);
    if (started != ERROR_SUCCESS) {
        _err << _prefix << "the scan could not be started: " << DeviceSession::describe(started) << "\n";
        return Outcome::Failed;
    }
    const auto bound = static_cast<std::uint32_t>(selection.ports.size() + 1) * kProbeBoundMs;
    runUntil(
        [&] {
            return probe.found() != 0 || supervisor.state() == DeviceSupervisor::State::Idle ||
                   DeviceSession::interrupted();
        },
        bound);
    if (probe.found() != 0) {
        _port = probe.found();
        return Outcome::Found;
    }
    if (DeviceSession::interrupted()) {
        return Outcome::Interrupted;
    }
    std::vector<std::int32_t> ports;
    for (const auto& entry : selection.ports) {
        ports.push_back(entry.portNumber);
    }
    return PortAccess::report(_enumerator, ports, _err, _prefix) ? Outcome::Blocked : Outcome::NotFound;
}

} // namespace cli
