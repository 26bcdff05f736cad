#include "cli/CommonOptions.h"

#include "wyr/windows/system/TextConversion.h"

#include <utility>

namespace cli {

namespace {

// Verbosity names for --log-level; a level includes everything above it.
const std::pair<const char*, std::uint16_t> kLevels[] = {
    {"debug1", 0x0001}, {"debug2", 0x0002},  {"debug3", 0x0004}, {"debug4", 0x0008},
    {"info", 0x0010},   {"warning", 0x0020}, {"error", 0x0040},
};

std::uint16_t andAbove(std::uint16_t bit) {
    return static_cast<std::uint16_t>(~(bit - 1U) & 0x0FFFU);
}

} // namespace

std::vector<CommandLine::Option> CommonOptions::with(std::vector<CommandLine::Option> options) {
    options.push_back({"port", 0, true});
    options.push_back({"", 'v', false});
    options.push_back({"log-level", 0, true});
    options.push_back({"log-file", 0, true});
    return options;
}

std::optional<std::string> CommonOptions::take(const CommandLine& line) {
    if (const auto text = line.value("port")) {
        port = CommandLine::parsePort(*text);
        if (!port) {
            return "--port takes a port such as COM7 or 7 (COM1 to COM" +
                   std::to_string(CommandLine::kMaxPort) + ")";
        }
    }
    if (line.has("v")) {
        consoleMask = andAbove(0x0010);
    }
    if (const auto level = line.value("log-level")) {
        bool known = false;
        for (const auto& [name, bit] : kLevels) {
            if (*level == name) {
                consoleMask = andAbove(bit);
                known = true;
            }
        }
        if (!known) {
            return std::string(
                "--log-level takes one of debug1, debug2, debug3, debug4, info, warning, error");
        }
    }
    if (const auto directory = line.value("log-file")) {
        if (directory->empty()) {
            return std::string("--log-file takes a directory");
        }
        logDirectory = wyr::windows::system::toWide(*directory);
    }
    return std::nullopt;
}

const char* CommonOptions::usageText() {
    return "Options of the device commands:\n"
           "  --port COM<n>              use this port instead of scanning every present port\n"
           "                             (COM7, 7, --port=COM7 and --port COM7 are the same)\n"
           "  -v, --log-level LEVEL      log records of LEVEL and above to standard error (-v: info);\n"
           "                             LEVEL is debug1, debug2, debug3, debug4, info, warning or error\n"
           "  --log-file DIR             also write every log record to a log file in DIR\n"
           "  -h, --help                 show the command's help\n";
}

} // namespace cli
