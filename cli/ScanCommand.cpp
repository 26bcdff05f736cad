#include "cli/ScanCommand.h"

#include "cli/CommandLine.h"
#include "cli/CommonOptions.h"
#include "cli/DeviceScan.h"
#include "cli/DeviceSession.h"
#include "cli/PortSelection.h"

namespace cli {

using namespace wyr::windows::system;

const char* ScanCommand::usage() {
    return "scan [--port COM<n>]\n"
           "    Probe the present ports in ascending order (or the one given) and print the port\n"
           "    where the instrument answered. Sends nothing but INTERROGATE.\n"
           "    Exit 0: found; 1: none answered; 2: bad usage, or a port that does not exist, that\n"
           "    you may not open or that another program holds (said on standard error).\n";
}

int ScanCommand::run(const std::vector<std::string>& args) {
    CommandLine line(CommonOptions::with({{"help", 'h', false}}));
    CommonOptions options;
    if (!line.parse(args)) {
        _err << "orvanectl scan: " << line.error() << " (see orvanectl scan --help)\n";
        return 2;
    }
    if (line.has("help")) {
        _out << "Usage: orvanectl " << usage() << "\n" << CommonOptions::usageText();
        return 0;
    }
    if (const auto error = options.take(line)) {
        _err << "orvanectl scan: " << *error << "\n";
        return 2;
    }
    if (!line.operands().empty()) {
        _err << "orvanectl scan: unexpected argument '" << line.operands().front() << "'\n";
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

    DeviceSession session(options, _err, "scan");
    if (session.open() != ERROR_SUCCESS) {
        return 2;
    }
    DeviceScan scan(session.device(), _ports, _err, session.prefix());
    switch (scan.find(selection)) {
    case DeviceScan::Outcome::Found:
        _out << "COM" << scan.port() << "\n";
        return 0;
    case DeviceScan::Outcome::Interrupted:
        _err << "orvanectl scan: interrupted\n";
        return 1;
    case DeviceScan::Outcome::Blocked:
    case DeviceScan::Outcome::Failed:
        return 2;
    case DeviceScan::Outcome::NotFound:
        break;
    }
    _err << "orvanectl scan: no Orvane device answered\n";
    return 1;
}

} // namespace cli
