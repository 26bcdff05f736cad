#include "sim/SimulatorCommandLine.h"

#include "sim/SimulatedBootloader.h"
#include "wyr/windows/communication/PortMap.h"
#include "wyr/windows/system/TextConversion.h"

#include <charconv>
#include <cstdlib>
#include <getopt.h>
#include <optional>
#include <string>

namespace sim {

namespace {

template <typename T> std::optional<T> number(const char* text) {
    T value{};
    const std::string s(text);
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || ptr != s.data() + s.size() || s.empty()) {
        return std::nullopt;
    }
    return value;
}

// A number in decimal, or in hexadecimal after 0x.
template <typename T> std::optional<T> code(const char* text) {
    const std::string s(text);
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const char* first = s.data() + (hex ? 2 : 0);
    T value{};
    const auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), value, hex ? 16 : 10);
    if (ec != std::errc() || ptr != s.data() + s.size() || first == s.data() + s.size()) {
        return std::nullopt;
    }
    return value;
}

// A port as orvanectl takes it.
std::optional<int> portNumber(const std::string& text) {
    using wyr::windows::communication::PortMap;
    const unsigned port = PortMap::parsePortArgument(text);
    if (port == PortMap::kNoPort) {
        return std::nullopt;
    }
    return static_cast<int>(port);
}

// NAME or NAME:COUNT of a command the instrument mistreats; false for another name
// or a bad count.
bool commandFault(const std::string& arg, std::string& name, int& count) {
    const auto colon = arg.find(':');
    name = arg.substr(0, colon);
    if (colon != std::string::npos) {
        const auto n = number<int>(arg.c_str() + colon + 1);
        if (!n || *n < -1) {
            return false;
        }
        count = *n;
    }
    static const char* const names[] = {"INTERROGATE", "START_STREAMING", "STOP_STREAMING", "SET_GAIN",
                                        "SET_FRAME_RATE"};
    for (const char* known : names) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

std::optional<float> voltage(const std::string& text) {
    char* end = nullptr;
    const float v = std::strtof(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !(v >= 0.0F && v < 1000.0F)) {
        return std::nullopt;
    }
    return v;
}

enum Option {
    Port = 1000,
    Model,
    Serial,
    Firmware,
    FrameRate,
    Gain,
    Voltage,
    VoltageProfile,
    Antenna,
    HeartbeatMs,
    HeartbeatsStop,
    IgnoreCommand,
    DropCommand,
    CorruptEvery,
    NoiseEvery,
    OverlongEvery,
    UnplugAfter,
    Bootloader,
    InterruptedUpdate,
    FlashFile,
    AppStart,
    AppEnd,
    PageSizeCode,
    PacketSizeCode,
    BufferSizeCode,
    CrcTypeCode,
    ProductCode,
    BadPageCrc,
    FailBlock,
    SilentBootloader,
    BootloaderDelay,
    UnplugAfterBlocks,
    Help = 'h',
    Version = 'V'
};

} // namespace

void SimulatorCommandLine::usage(std::ostream& out) {
    out << "Usage: orvane-sim [options]\n"
           "\n"
           "Plays an Orvane X1 instrument on a pseudo-terminal and publishes it as COM<n> in the\n"
           "port directory ($ORVANE_PORT_DIR, else $XDG_RUNTIME_DIR/orvane/ports), where the\n"
           "application and orvanectl find it. Runs until Ctrl-C.\n"
           "\n"
           "Instrument:\n"
           "  --port COM<n>            publish as COM<n> (COM7, 7, --port=COM7 alike; default: the first\n"
           "                           free number from 200)\n"
           "  --model TEXT             model name reported (default X1)\n"
           "  --serial N               serial number of the factory application (default 1001)\n"
           "  --firmware A.B.C.D       firmware version of the factory application:\n"
           "                           major.minor.release.build (default 1.2.3.45)\n"
           "  --frame-rate N           power-on frame rate, 1-255 (default 30)\n"
           "  --gain N                 power-on gain (default 1000)\n"
           "  --voltage V              input voltage reported (default 12.0)\n"
           "  --voltage-profile V,V,.. voltages reported by successive heartbeats, cycling\n"
           "  --antenna-disconnected   report the antenna as disconnected\n"
           "  --heartbeat-ms N         heartbeat period in milliseconds (default 1000)\n"
           "\n"
           "Bootloader and flash (BOOTLOAD switches to the bootloader; its reset starts the flashed\n"
           "application, which then reports its own version and serial number):\n"
           "  --bootloader             a device without application firmware: a new flash starts erased,\n"
           "                           without the factory application, so the device waits in its "
           "bootloader\n"
           "  --interrupted-update     an earlier update stopped after writing the application's top page:\n"
           "                           the image is in flash but not signed, so the device waits in its\n"
           "                           bootloader (with --flash-file, the file's signature is withdrawn)\n"
           "  --flash-file PATH        keep the flash in PATH: read at start when it exists, else created;\n"
           "                           every change is written through, so an update survives a restart\n"
           "  --app-start ADDR         first byte of the application area, page aligned (default 0x001000)\n"
           "  --app-end ADDR           last byte of the application area, end of a page (default 0x007FFF)\n"
           "  --page-size-code N       flash page size 2^N bytes, 4-16 (default 9: 512 bytes)\n"
           "  --packet-size-code N     packet size 2^N bytes, 0-15 (default 6: 64 bytes)\n"
           "  --buffer-size-code N     largest write block 2^N bytes, up to the page size (default 6)\n"
           "  --crc-type CODE          page checksum: 0x40 CRC-16-CCITT or 0xC0 CRC-32 (default 0x40); any\n"
           "                           other code is reported, and checksum requests are then refused\n"
           "  --product-code N         product code of bootloader and factory application (default 0x42)\n"
           "\n"
           "Faults:\n"
           "  --heartbeats-stop-after N  stop sending heartbeats after N of them\n"
           "  --ignore-command NAME[:K]  withhold the acknowledgement of command NAME (e.g. SET_GAIN)\n"
           "                             K times (default once; -1: always); the command still takes effect\n"
           "  --drop-command NAME[:K]    drop command NAME K times (default once; -1: always): no effect "
           "and\n"
           "                             no acknowledgement, as for a sentence lost on the line\n"
           "  --corrupt-every N          every Nth sentence carries a wrong checksum\n"
           "  --noise-every N            line noise before every Nth sentence\n"
           "  --overlong-every N         an endless unterminated sentence before every Nth sentence\n"
           "  --unplug-after-ms N        the port vanishes N ms after start, like an unplugged adapter\n"
           "  (bootloader counts run over the simulator's whole life, from 1)\n"
           "  --bad-page-crc N           the Nth page checksum reply of the bootloader is wrong (once)\n"
           "  --fail-block N|always      the Nth block write is refused with ERROR (once), or every one is\n"
           "  --silent-bootloader        the bootloader never answers\n"
           "  --bootloader-delay-ms N    the bootloader waits N ms before every reply\n"
           "  --unplug-after-blocks N    once the bootloader has written N blocks, the port vanishes as the\n"
           "                             next frame arrives, like an adapter unplugged in mid-update\n"
           "\n"
           "  -h, --help                 show this text\n"
           "  -V, --version              show the version\n";
}

int SimulatorCommandLine::parse(int argc, char** argv, std::ostream& out, std::ostream& err) {
    static const option options[] = {
        {"port", required_argument, nullptr, Port},
        {"model", required_argument, nullptr, Model},
        {"serial", required_argument, nullptr, Serial},
        {"firmware", required_argument, nullptr, Firmware},
        {"frame-rate", required_argument, nullptr, FrameRate},
        {"gain", required_argument, nullptr, Gain},
        {"voltage", required_argument, nullptr, Voltage},
        {"voltage-profile", required_argument, nullptr, VoltageProfile},
        {"antenna-disconnected", no_argument, nullptr, Antenna},
        {"heartbeat-ms", required_argument, nullptr, HeartbeatMs},
        {"heartbeats-stop-after", required_argument, nullptr, HeartbeatsStop},
        {"ignore-command", required_argument, nullptr, IgnoreCommand},
        {"drop-command", required_argument, nullptr, DropCommand},
        {"corrupt-every", required_argument, nullptr, CorruptEvery},
        {"noise-every", required_argument, nullptr, NoiseEvery},
        {"overlong-every", required_argument, nullptr, OverlongEvery},
        {"unplug-after-ms", required_argument, nullptr, UnplugAfter},
        {"bootloader", no_argument, nullptr, Bootloader},
        {"interrupted-update", no_argument, nullptr, InterruptedUpdate},
        {"flash-file", required_argument, nullptr, FlashFile},
        {"app-start", required_argument, nullptr, AppStart},
        {"app-end", required_argument, nullptr, AppEnd},
        {"page-size-code", required_argument, nullptr, PageSizeCode},
        {"packet-size-code", required_argument, nullptr, PacketSizeCode},
        {"buffer-size-code", required_argument, nullptr, BufferSizeCode},
        {"crc-type", required_argument, nullptr, CrcTypeCode},
        {"product-code", required_argument, nullptr, ProductCode},
        {"bad-page-crc", required_argument, nullptr, BadPageCrc},
        {"fail-block", required_argument, nullptr, FailBlock},
        {"silent-bootloader", no_argument, nullptr, SilentBootloader},
        {"bootloader-delay-ms", required_argument, nullptr, BootloaderDelay},
        {"unplug-after-blocks", required_argument, nullptr, UnplugAfterBlocks},
        {"help", no_argument, nullptr, Help},
        {"version", no_argument, nullptr, Version},
        {nullptr, 0, nullptr, 0},
    };
    optind = 0; // starts getopt afresh, whatever an earlier parse left
    opterr = 0;
    auto bad = [&](const std::string& what) {
        err << "orvane-sim: " << what << "\n(see orvane-sim --help)\n";
        return 2;
    };
    for (;;) {
        const int c = ::getopt_long(argc, argv, "hV", options, nullptr);
        if (c == -1) {
            break;
        }
        const std::string arg = optarg != nullptr ? optarg : "";
        switch (c) {
        case Port: {
            const auto n = portNumber(arg);
            if (!n) {
                return bad("--port takes a port such as COM200 or 200 (COM1 to COM256)");
            }
            _port = *n;
            break;
        }
        case Model:
            if (arg.empty() || arg.find_first_of("|\x02\x03\x04") != std::string::npos) {
                return bad("--model takes a name without '|' or control characters");
            }
            _settings.model = arg;
            break;
        case Serial: {
            const auto n = number<std::int32_t>(optarg);
            if (!n) {
                return bad("--serial takes a number");
            }
            _settings.serialNumber = *n;
            break;
        }
        case Firmware:
            if (arg.empty() || arg.find_first_not_of("0123456789.") != std::string::npos) {
                return bad("--firmware takes numbers separated by dots, such as 1.2.3.45");
            }
            _settings.firmwareVersion = arg;
            break;
        case FrameRate: {
            const auto n = number<unsigned>(optarg);
            if (!n || *n < 1 || *n > 255) {
                return bad("--frame-rate takes a number from 1 to 255");
            }
            _settings.frameRate = *n;
            break;
        }
        case Gain: {
            const auto n = number<std::int32_t>(optarg);
            if (!n || *n < 0) {
                return bad("--gain takes a number from 0");
            }
            _settings.gain = *n;
            break;
        }
        case Voltage: {
            const auto v = voltage(arg);
            if (!v) {
                return bad("--voltage takes volts, such as 12.5");
            }
            _settings.voltage = *v;
            break;
        }
        case VoltageProfile: {
            _settings.voltageProfile.clear();
            std::size_t start = 0;
            while (start <= arg.size()) {
                const auto comma = arg.find(',', start);
                const auto v = voltage(
                    arg.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
                if (!v) {
                    return bad("--voltage-profile takes volts separated by commas, such as 12,9.5,50");
                }
                _settings.voltageProfile.push_back(*v);
                if (comma == std::string::npos) {
                    break;
                }
                start = comma + 1;
            }
            break;
        }
        case Antenna:
            _settings.antennaDisconnected = true;
            break;
        case HeartbeatMs: {
            const auto n = number<unsigned>(optarg);
            if (!n || *n < 10 || *n > 60000) {
                return bad("--heartbeat-ms takes a number from 10 to 60000");
            }
            _settings.heartbeatPeriodMs = *n;
            break;
        }
        case HeartbeatsStop: {
            const auto n = number<int>(optarg);
            if (!n || *n < 0) {
                return bad("--heartbeats-stop-after takes a count");
            }
            _faults.heartbeatsStopAfter = *n;
            break;
        }
        case IgnoreCommand:
            if (!commandFault(arg, _faults.ignoreCommand, _faults.ignoreCount)) {
                return bad(
                    "--ignore-command takes NAME or NAME:COUNT, NAME one of INTERROGATE, START_STREAMING, "
                    "STOP_STREAMING, SET_GAIN, SET_FRAME_RATE");
            }
            break;
        case DropCommand:
            if (!commandFault(arg, _faults.dropCommand, _faults.dropCount)) {
                return bad(
                    "--drop-command takes NAME or NAME:COUNT, NAME one of INTERROGATE, START_STREAMING, "
                    "STOP_STREAMING, SET_GAIN, SET_FRAME_RATE");
            }
            break;
        case CorruptEvery:
        case NoiseEvery:
        case OverlongEvery: {
            const auto n = number<unsigned>(optarg);
            if (!n) {
                return bad("the fault options take a count");
            }
            (c == CorruptEvery ? _faults.corruptEvery
             : c == NoiseEvery ? _faults.noiseEvery
                               : _faults.overlongEvery) = *n;
            break;
        }
        case UnplugAfter: {
            const auto n = number<int>(optarg);
            if (!n || *n < 0) {
                return bad("--unplug-after-ms takes milliseconds");
            }
            _faults.unplugAfterMs = *n;
            break;
        }
        case Bootloader:
            _settings.bootloader.startInBootloader = true;
            break;
        case InterruptedUpdate:
            _settings.bootloader.interruptedUpdate = true;
            break;
        case FlashFile:
            if (arg.empty()) {
                return bad("--flash-file takes a path");
            }
            _settings.bootloader.flashFile = arg;
            break;
        case AppStart:
        case AppEnd: {
            const auto n = code<std::uint32_t>(optarg);
            if (!n || *n > 0xFFFFFF) {
                return bad("--app-start and --app-end take a 24-bit address, such as 0x001000");
            }
            (c == AppStart ? _settings.bootloader.appStart : _settings.bootloader.appEnd) = *n;
            break;
        }
        case PageSizeCode:
        case PacketSizeCode:
        case BufferSizeCode: {
            const auto n = code<std::uint8_t>(optarg);
            if (!n || *n > 16) {
                return bad("the size codes take a power of two from 0 to 16");
            }
            (c == PageSizeCode     ? _settings.bootloader.pageSizeCode
             : c == PacketSizeCode ? _settings.bootloader.packetSizeCode
                                   : _settings.bootloader.bufferSizeCode) = *n;
            break;
        }
        case CrcTypeCode:
        case ProductCode: {
            const auto n = code<std::uint8_t>(optarg);
            if (!n) {
                return bad("--crc-type and --product-code take a byte, such as 0x40");
            }
            (c == CrcTypeCode ? _settings.bootloader.crcType : _settings.bootloader.productCode) = *n;
            break;
        }
        case BadPageCrc:
        case FailBlock:
        case UnplugAfterBlocks: {
            if (c == FailBlock && arg == "always") {
                _faults.failEveryBlock = true;
                break;
            }
            const auto n = number<unsigned>(optarg);
            if (!n || *n == 0 || *n > 0x7FFFFFFF) {
                return bad(c == FailBlock ? "--fail-block takes a count from 1, or always"
                                          : "--bad-page-crc and --unplug-after-blocks take a count from 1");
            }
            if (c == BadPageCrc) {
                _faults.badPageCrcAt = *n;
            } else if (c == FailBlock) {
                _faults.failBlockAt = *n;
            } else {
                _faults.unplugAfterBlocks = static_cast<int>(*n);
            }
            break;
        }
        case SilentBootloader:
            _faults.silentBootloader = true;
            break;
        case BootloaderDelay: {
            const auto n = number<unsigned>(optarg);
            if (!n || *n > 600000) {
                return bad("--bootloader-delay-ms takes milliseconds, up to 600000");
            }
            _faults.bootloaderDelayMs = *n;
            break;
        }
        case Help:
            usage(out);
            return 0;
        case Version:
            out << "orvane-sim " << ORVANE_VERSION << "\n";
            return 0;
        default:
            return bad(std::string("unknown option ") + (optind > 0 ? argv[optind - 1] : ""));
        }
    }
    if (optind < argc) {
        return bad(std::string("unexpected argument ") + argv[optind]);
    }
    if (const std::string problem = SimulatedBootloader::settingsProblem(_settings.bootloader);
        !problem.empty()) {
        return bad("bootloader settings: " + problem);
    }
    return -1;
}

} // namespace sim
