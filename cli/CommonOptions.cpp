#include "cli/CommonOptions.h"

#include "wyr/windows/communication/PortMap.h"
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

std::optional<std::string> CommonOptions::take(std::vector<std::string>& args) {
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                return std::nullopt;
            }
            return args[++i];
        };
        if (a == "--port") {
            const auto v = value();
            const unsigned n =
                v ? wyr::windows::communication::PortMap::parsePortName(wyr::windows::system::toWide(*v)) : 0;
            if (n == 0 || n > 256) {
                return std::string("--port takes a port name such as COM7");
            }
            port = static_cast<std::int32_t>(n);
        } else if (a == "-v") {
            consoleMask = andAbove(0x0010);
        } else if (a == "--log-level") {
            const auto v = value();
            bool known = false;
            for (const auto& [name, bit] : kLevels) {
                if (v && *v == name) {
                    consoleMask = andAbove(bit);
                    known = true;
                }
            }
            if (!known) {
                return std::string(
                    "--log-level takes one of debug1, debug2, debug3, debug4, info, warning, error");
            }
        } else if (a == "--log-file") {
            const auto v = value();
            if (!v || v->empty()) {
                return std::string("--log-file takes a directory");
            }
            logDirectory = wyr::windows::system::toWide(*v);
        } else {
            rest.push_back(a);
        }
    }
    args = std::move(rest);
    return std::nullopt;
}

const char* CommonOptions::usageText() {
    return "Options of the device commands:\n"
           "  --port COM<n>              use this port instead of scanning every present port\n"
           "  -v, --log-level LEVEL      log records of LEVEL and above to standard error (-v: info);\n"
           "                             LEVEL is debug1, debug2, debug3, debug4, info, warning or error\n"
           "  --log-file DIR             also write every log record to a log file in DIR\n";
}

} // namespace cli
