#include "cli/MonitorCommand.h"

#include "cli/CommandLine.h"
#include "cli/CommonOptions.h"
#include "cli/ConsoleSink.h"
#include "cli/DeviceSession.h"
#include "cli/PortAccess.h"
#include "cli/PortSelection.h"
#include "cli/Timestamp.h"
#include "device/DeviceSupervisor.h"
#include "device/OrvaneInterface.h"
#include "device/OrvaneMessage.h"
#include "device/OrvaneNotification.h"
#include "device/OrvaneScanPhase.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/TextFormat.h"
#include "wyr/windows/system/Wait.h"

#include <boost/signals2/connection.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>

namespace cli {

using namespace wyr::windows::system;
using device::DeviceSupervisor;
using device::OrvaneConfigKey;
using device::OrvaneMessage;
using State = DeviceSupervisor::State;

namespace {

// The longest a scan of one port takes; the supervisor's own waits end it well within.
constexpr std::uint32_t kPerPortBoundMs = 20000;
constexpr std::uint32_t kDisconnectBoundMs = 5000;
// The link waits this long for the first heartbeat of a connection.
constexpr std::uint32_t kFirstHeartbeatMs = 5000;

std::string seconds(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%u s", (ms + 999) / 1000);
    return text;
}

} // namespace

MonitorCommand::Bounds MonitorCommand::Bounds::fromSettings(std::int32_t commandAckSeconds,
                                                            std::int32_t watchDogSeconds) {
    const auto step =
        static_cast<std::uint32_t>(std::max(1, commandAckSeconds) + std::max(1, watchDogSeconds));
    return Bounds{kFirstHeartbeatMs * 2, 2 * step * 1000, step * 1000};
}

const char* MonitorCommand::usage() {
    return "monitor [--port COM<n>] [--count N] [--seconds S] [--csv FILE]\n"
           "    Connect, bring frame rate and gain into tolerance, stream, and write one CSV line\n"
           "    per reading as it comes (local time with its UTC offset, three channels) to\n"
           "    standard output or FILE; events and alerts (each with its time) go to standard\n"
           "    error. Stops after N readings, S seconds, Ctrl-C or when the output is closed,\n"
           "    then disconnects, which resets the device.\n"
           "    Once the device answered, monitor gives it 10 s to confirm the connection,\n"
           "    2 x (CommandAckTimeout + WatchDogTimeout) to take the frame rate and gain\n"
           "    (14 s with the default settings) and CommandAckTimeout + WatchDogTimeout for the\n"
           "    first reading (7 s); then it says what failed and ends with exit 3.\n"
           "    Exit 0: stopped; 1: no device; 2: bad usage, or a port you may not open or that\n"
           "    another program holds; 3: the link was lost or the device did not come to stream.\n";
}

std::string MonitorCommand::csvLine(std::chrono::system_clock::time_point time, float r1, float r2,
                                    float r3) {
    return Timestamp::local(time) + toNarrow(formatText(L",%.3f,%.3f,%.3f", static_cast<double>(r1),
                                                        static_cast<double>(r2), static_cast<double>(r3)));
}

int MonitorCommand::run(const std::vector<std::string>& args) {
    CommandLine line(CommonOptions::with(
        {{"help", 'h', false}, {"count", 0, true}, {"seconds", 0, true}, {"csv", 0, true}}));
    CommonOptions options;
    if (!line.parse(args)) {
        _err << "orvanectl monitor: " << line.error() << " (see orvanectl monitor --help)\n";
        return 2;
    }
    if (line.has("help")) {
        _out << "Usage: orvanectl " << usage() << "\n" << CommonOptions::usageText();
        return 0;
    }
    if (const auto error = options.take(line)) {
        _err << "orvanectl monitor: " << *error << "\n";
        return 2;
    }
    std::optional<std::uint64_t> count;
    std::optional<std::uint32_t> limitSeconds;
    if (const auto text = line.value("count")) {
        count = CommandLine::number<std::uint64_t>(*text, 1, UINT64_MAX);
        if (!count) {
            _err << "orvanectl monitor: --count takes a positive number\n";
            return 2;
        }
    }
    if (const auto text = line.value("seconds")) {
        limitSeconds = CommandLine::number<std::uint32_t>(*text, 1, 31 * 24 * 3600);
        if (!limitSeconds) {
            _err << "orvanectl monitor: --seconds takes a positive number of seconds, up to 31 days\n";
            return 2;
        }
    }
    const std::string csvPath = line.value("csv").value_or("");
    if (line.has("csv") && csvPath.empty()) {
        _err << "orvanectl monitor: --csv takes a file\n";
        return 2;
    }
    if (!line.operands().empty()) {
        _err << "orvanectl monitor: unexpected argument '" << line.operands().front() << "'\n";
        return 2;
    }
    std::ofstream csvFile;
    if (!csvPath.empty()) {
        csvFile.open(csvPath, std::ios::out | std::ios::trunc);
        if (!csvFile) {
            _err << "orvanectl monitor: cannot write " << csvPath << "\n";
            return 2;
        }
    }
    std::ostream& csv = csvPath.empty() ? _out : csvFile;

    const PortSelection selection = PortSelection::choose(_ports, options.port, _err, "monitor");
    if (selection.failed) {
        return 2;
    }
    if (selection.ports.empty()) {
        _err << "orvanectl monitor: no serial ports are present\n";
        return 1;
    }

    DeviceSession session(options, _err, "monitor");
    if (session.open() != ERROR_SUCCESS) {
        return 2;
    }
    const std::string& prefix = session.prefix();
    auto& device = session.device();
    const Bounds bounds =
        Bounds::fromSettings(session.settings().value(OrvaneConfigKey::CommandAckTimeout).value_or(2),
                             session.settings().value(OrvaneConfigKey::WatchDogTimeout).value_or(5));
    ConsoleSink sink(_err);
    DeviceSupervisor supervisor(device, wyr::windows::config::ConfigMgr::instance(), sink);

    // Each line leaves at once, so that a reader of a pipe sees every reading as it comes.
    bool outputClosed = false;
    const auto write = [&](const std::string& text) {
        if (!outputClosed) {
            csv << text << '\n' << std::flush;
            outputClosed = !csv;
        }
    };

    std::uint64_t readings = 0;
    std::int32_t found = 0;
    bool disconnected = false;
    bool stopping = false;
    bool watchdog = false;
    const OrvaneMessage* unacknowledged = nullptr;
    write("time,reading1,reading2,reading3");
    const boost::signals2::scoped_connection subscription =
        device.subscribe([&](const device::tagNMORVANEHDR* header) {
            using device::OrvaneNotification;
            if (const auto* r = OrvaneNotification::as<device::OrvaneReadingNotification>(header)) {
                if (supervisor.state() == State::Streaming && !stopping && (!count || readings < *count)) {
                    write(csvLine(std::chrono::system_clock::now(), r->reading1, r->reading2, r->reading3));
                    ++readings;
                }
            } else if (const auto* scan =
                           OrvaneNotification::as<device::OrvaneInterrogateNotification>(header)) {
                if (*scan->phase == device::OrvaneScanPhase::NotifyScanResult &&
                    scan->result == ERROR_SUCCESS) {
                    found = scan->port;
                }
            } else if (const auto* failure =
                           OrvaneNotification::as<device::OrvaneCommandFailureNotification>(header)) {
                unacknowledged = failure->command;
            } else if (*header->type == device::OrvaneNotificationType::NotifyWatchDog) {
                watchdog = true;
            } else if (OrvaneNotification::as<device::OrvaneDisconnectNotification>(header) != nullptr) {
                // A port lost while it was probed is one more port without a device.
                disconnected = disconnected || found != 0;
            }
        });
    const auto stopRequested = [&] { return DeviceSession::interrupted() || outputClosed; };
    const auto wait = [&](const std::function<bool()>& done, std::uint32_t boundMs) {
        return runUntil([&] { return done() || disconnected || stopRequested(); }, boundMs) &&
               !disconnected && !stopRequested();
    };
    // Ends a run that did not come to stream: the device is reset unless the link is gone.
    const auto giveUp = [&](int code) {
        if (!disconnected && device.isOpen()) {
            stopping = true;
            supervisor.disconnect();
            runUntil([&] { return disconnected; }, kDisconnectBoundMs);
        }
        return code;
    };
    const auto stopped = [&] {
        _err << (outputClosed ? prefix + "the output was closed\n" : std::string("Interrupted.\n"));
        return giveUp(outputClosed ? 0 : 1);
    };

    const ErrorCode started = selection.given ? supervisor.scanPort(selection.ports.front().portNumber)
                                              : supervisor.startScan(selection.ports);
    if (started != ERROR_SUCCESS) {
        return 1;
    }
    const auto scanBound = static_cast<std::uint32_t>(selection.ports.size() + 1) * kPerPortBoundMs;
    wait([&] { return found != 0 || supervisor.state() == State::Idle; }, scanBound);
    if (stopRequested()) {
        return stopped();
    }
    if (found == 0) {
        std::vector<std::int32_t> ports;
        for (const auto& entry : selection.ports) {
            ports.push_back(entry.portNumber);
        }
        if (PortAccess::report(_ports, ports, _err, prefix)) {
            return giveUp(2);
        }
        _err << "No Orvane device was found.\n";
        return giveUp(1);
    }

    const std::string where = "the device on COM" + std::to_string(found);
    if (!wait([&] { return supervisor.state() != State::Connecting; }, bounds.connectMs) ||
        supervisor.state() == State::Idle) {
        if (stopRequested()) {
            return stopped();
        }
        _err << prefix << where << " answered the scan but "
             << (disconnected ? "the link was lost before it was connected"
                              : "did not confirm the connection (no heartbeat came)")
             << "\n";
        return giveUp(3);
    }

    if (!wait([&] { return supervisor.state() != State::Validating; }, bounds.validationMs) ||
        supervisor.state() != State::Streaming) {
        if (stopRequested()) {
            return stopped();
        }
        if (disconnected || supervisor.state() == State::Idle) {
            _err << prefix << "the link to " << where
                 << " was lost while its frame rate and gain were checked\n";
        } else {
            std::string why = "its frame rate and gain did not come into tolerance";
            if (watchdog) {
                why = "it stopped sending heartbeats after the connection";
            } else if (unacknowledged != nullptr) {
                why = "it did not acknowledge " + toNarrow(unacknowledged->name());
            }
            _err << prefix << where << " was not ready to stream within " << seconds(bounds.validationMs)
                 << ": " << why << "\n";
        }
        return giveUp(3);
    }

    const bool startFailedBefore =
        unacknowledged != nullptr && *unacknowledged == OrvaneMessage::START_STREAMING;
    if (!wait([&] { return readings > 0 || (count && readings >= *count); }, bounds.firstReadingMs)) {
        if (stopRequested()) {
            return stopped();
        }
        if (disconnected) {
            _err << "The link to the device was lost.\n";
            return 3;
        }
        const bool startFailed = startFailedBefore || (unacknowledged != nullptr &&
                                                       *unacknowledged == OrvaneMessage::START_STREAMING);
        _err << prefix << "no reading came within " << seconds(bounds.firstReadingMs)
             << " after streaming was requested: "
             << (startFailed ? "the device did not acknowledge START_STREAMING"
                             : "the device does not stream")
             << "\n";
        return giveUp(3);
    }

    const auto start = std::chrono::steady_clock::now();
    runUntil(
        [&] {
            const bool timeUp = limitSeconds && std::chrono::steady_clock::now() - start >=
                                                    std::chrono::seconds(*limitSeconds);
            return (count && readings >= *count) || timeUp || disconnected || stopRequested();
        },
        INFINITE);
    if (disconnected) {
        _err << "The link to the device was lost.\n";
        return 3;
    }
    if (outputClosed) {
        _err << prefix << "the output was closed\n";
    }
    return giveUp(0);
}

} // namespace cli
