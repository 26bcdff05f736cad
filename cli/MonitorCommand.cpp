#include "cli/MonitorCommand.h"

#include "cli/CommonOptions.h"
#include "cli/DeviceSession.h"
#include "cli/PortSelection.h"
#include "device/DeviceSupervisor.h"
#include "device/IDeviceSupervisorSink.h"
#include "device/OrvaneInterface.h"
#include "device/OrvaneNotification.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/TextFormat.h"
#include "wyr/windows/system/Wait.h"

#include <boost/signals2/connection.hpp>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>

namespace cli {

using namespace wyr::windows::system;
using device::DeviceSupervisor;

namespace {

// The longest a scan of one port, a connection and the validation can take; the
// supervisor's own waits end every step well within it.
constexpr std::uint32_t kPerPortBoundMs = 20000;
constexpr std::uint32_t kConnectBoundMs = 30000;
constexpr std::uint32_t kDisconnectBoundMs = 5000;

// Device events and alerts, one line each on standard error.
class StderrSink final : public device::IDeviceSupervisorSink {
public:
    explicit StderrSink(std::ostream& err) : _err(err) {}

    void showNotification(const std::wstring& text) override { line(text); }
    void showError(const std::wstring& text) override { line(L"Error: " + text); }
    void showAlert(AlertIcon icon, const std::wstring& text) override {
        line(icon == AlertIcon::Warning ? L"Warning: " + text : text);
    }
    void connected(std::int32_t port) override { line(L"Connected to COM" + std::to_wstring(port) + L"."); }
    void streamingStarted() override { line(L"Streaming."); }

private:
    void line(const std::wstring& text) {
        if (text != _last) { // the progress dialog repeats its text on every update
            _err << toNarrow(text) << std::endl;
            _last = text;
        }
    }

    std::ostream& _err;
    std::wstring _last;
};

template <typename T> std::optional<T> number(const std::string& text) {
    T value{};
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string MonitorCommand::csvLine(const SYSTEMTIME& time, float r1, float r2, float r3) {
    return toNarrow(formatText(L"%s.%03u,%.3f,%.3f,%.3f", formatTime(time, "%Y-%m-%dT%H:%M:%S").c_str(),
                               static_cast<unsigned>(time.wMilliseconds), static_cast<double>(r1),
                               static_cast<double>(r2), static_cast<double>(r3)));
}

int MonitorCommand::run(std::vector<std::string> args) {
    CommonOptions options;
    if (const auto error = options.take(args)) {
        _err << "orvanectl monitor: " << *error << "\n";
        return 2;
    }
    std::optional<std::uint64_t> count;
    std::optional<std::uint32_t> seconds;
    std::string csvPath;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--count" && hasValue && (count = number<std::uint64_t>(args[i + 1])) && *count > 0) {
            ++i;
        } else if (args[i] == "--seconds" && hasValue && (seconds = number<std::uint32_t>(args[i + 1])) &&
                   *seconds > 0 && *seconds <= 31 * 24 * 3600) {
            ++i;
        } else if (args[i] == "--csv" && hasValue && !args[i + 1].empty()) {
            csvPath = args[++i];
        } else {
            _err << "orvanectl monitor: bad argument '" << args[i]
                 << "' (--count N and --seconds S take a positive number, --csv a file)\n";
            return 2;
        }
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

    DeviceSession session(options, _err);
    if (session.open() != ERROR_SUCCESS) {
        return 2;
    }
    auto& device = session.device();
    StderrSink sink(_err);
    DeviceSupervisor supervisor(device, wyr::windows::config::ConfigMgr::instance(), sink);

    std::uint64_t readings = 0;
    bool disconnected = false;
    bool stopping = false;
    csv << "time,reading1,reading2,reading3\n" << std::flush;
    const boost::signals2::scoped_connection subscription =
        device.subscribe([&](const device::tagNMORVANEHDR* header) {
            if (const auto* r = device::OrvaneNotification::as<device::OrvaneReadingNotification>(header)) {
                if (supervisor.state() == DeviceSupervisor::State::Streaming && !stopping &&
                    (!count || readings < *count)) {
                    csv << csvLine(getLocalTime(), r->reading1, r->reading2, r->reading3) << '\n';
                    ++readings;
                }
            } else if (device::OrvaneNotification::as<device::OrvaneDisconnectNotification>(header) !=
                       nullptr) {
                disconnected = true;
            }
        });

    const ErrorCode started =
        options.port ? supervisor.scanPort(*options.port) : supervisor.startScan(selection.ports);
    if (started != ERROR_SUCCESS) {
        return 1;
    }
    const auto bound = static_cast<std::uint32_t>(selection.ports.size()) * kPerPortBoundMs + kConnectBoundMs;
    runUntil(
        [&] {
            const auto s = supervisor.state();
            return s == DeviceSupervisor::State::Streaming || s == DeviceSupervisor::State::Idle ||
                   DeviceSession::interrupted();
        },
        bound);
    if (supervisor.state() != DeviceSupervisor::State::Streaming) {
        _err << (DeviceSession::interrupted() ? "Interrupted.\n" : "No Orvane device was found.\n");
        if (device.isOpen()) {
            supervisor.disconnect();
            runUntil([&] { return disconnected; }, kDisconnectBoundMs);
        }
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    runUntil(
        [&] {
            const bool timeUp =
                seconds && std::chrono::steady_clock::now() - start >= std::chrono::seconds(*seconds);
            return (count && readings >= *count) || timeUp || disconnected || DeviceSession::interrupted();
        },
        INFINITE);
    csv.flush();
    if (disconnected) {
        _err << "The link to the device was lost.\n";
        return 3;
    }
    stopping = true;
    supervisor.disconnect();
    runUntil([&] { return disconnected; }, kDisconnectBoundMs);
    return 0;
}

} // namespace cli
