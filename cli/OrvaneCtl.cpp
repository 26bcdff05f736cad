#include "cli/OrvaneCtl.h"

#include "cli/CommonOptions.h"
#include "cli/FlashCommand.h"
#include "cli/HexInfoCommand.h"
#include "cli/MonitorCommand.h"
#include "cli/ScanCommand.h"
#include "device/OrvaneMessage.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/TextConversion.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <optional>

namespace cli {

namespace {

using device::OrvaneMessage;
using wyr::windows::system::toNarrow;

std::optional<std::uint32_t> parseUnsigned(const std::string& text) {
    std::uint32_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

const OrvaneMessage* findCommand(const std::string& name) {
    for (const auto& [id, message] : OrvaneMessage::registry()) {
        if (toNarrow(message->name()) == name) {
            return message;
        }
    }
    return nullptr;
}

bool takesArgument(const OrvaneMessage& message) {
    return message == OrvaneMessage::SET_GAIN || message == OrvaneMessage::SET_FRAME_RATE;
}

} // namespace

int OrvaneCtl::run(const std::vector<std::string>& args) {
    if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        return usage(args.empty() ? 2 : 0);
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "compose") {
        return compose(rest);
    }
    if (args[0] == "error") {
        return explainError(rest);
    }
    if (args[0] == "ports") {
        return listPorts(rest);
    }
    if (args[0] == "--version") {
        _out << "orvanectl " << ORVANE_VERSION << "\n";
        return 0;
    }
    if (args[0] == "scan") {
        return ScanCommand(_out, _err, _ports).run(rest);
    }
    if (args[0] == "monitor") {
        return MonitorCommand(_out, _err, _ports).run(rest);
    }
    if (args[0] == "hexinfo") {
        return HexInfoCommand(_out, _err).run(rest);
    }
    if (args[0] == "flash") {
        return FlashCommand(_out, _err, std::cin, FlashCommand::isTerminal(_out), _ports).run(rest);
    }
    _err << "orvanectl: unknown command '" << args[0] << "'\n";
    return usage(2);
}

int OrvaneCtl::usage(int exitCode) {
    auto& s = exitCode == 0 ? _out : _err;
    s << "Usage: orvanectl <command> [arguments]\n"
         "\n"
         "Commands:\n"
         "  compose <COMMAND> [value]  print the sentence sent to the instrument for a command\n"
         "                             (";
    bool first = true;
    for (const auto& [id, message] : OrvaneMessage::registry()) {
        s << (first ? "" : ", ") << toNarrow(message->name());
        first = false;
    }
    s << ")\n"
         "  error <code>               explain a result code found in the log\n"
         "  ports                      list the serial ports present, one per line:\n"
         "                             COM<n> <TAB> device path <TAB> description\n"
         "  scan [--port COM<n>]       probe the present ports in ascending order (or the one\n"
         "                             given) and print the port where the instrument answered\n"
         "                             (exit 1: none answered; 2: bad usage or a port error)\n"
         "  monitor [--port COM<n>] [--count N] [--seconds S] [--csv FILE]\n"
         "                             connect, bring frame rate and gain into tolerance, stream,\n"
         "                             and write one CSV line per reading (time, three channels)\n"
         "                             to standard output or FILE; events go to standard error;\n"
         "                             stops after N readings, S seconds or Ctrl-C, then\n"
         "                             disconnects (exit 1: no device; 3: the link was lost)\n"
         "  hexinfo FILE.hex           show a firmware image's info block and flash pages\n"
         "                             (exit 4: the image cannot be read or used)\n"
         "  flash FILE.hex [--port COM<n>] [--bootloader] [--serial N] [--yes]\n"
         "                             update the instrument's firmware: find the device (on\n"
         "                             --port, else on every port), ask, and program the image;\n"
         "                             --bootloader opens --port for a device that has no\n"
         "                             application firmware; --serial writes the device's serial\n"
         "                             number into the image (needed when the image has none)\n"
         "                             exit 1: no device or no bootloader answered; 3: the image\n"
         "                             does not fit the device (nothing erased); 4: the image\n"
         "                             cannot be read; 5: the update failed; 6: declined\n"
         "  help                       show this text\n"
         "  --version                  show the version\n"
         "\n"
      << CommonOptions::usageText()
      << "\n"
         "Settings are read from ~/.config/Tolvek/Orvane.reg (never written); see the README.\n";
    return exitCode;
}

int OrvaneCtl::compose(const std::vector<std::string>& args) {
    if (args.empty()) {
        _err << "orvanectl compose: name a command\n";
        return 2;
    }
    const OrvaneMessage* message = findCommand(args[0]);
    if (message == nullptr) {
        _err << "orvanectl compose: unknown command '" << args[0] << "'\n";
        return 2;
    }
    std::vector<std::uint8_t> sentence;
    if (takesArgument(*message)) {
        const auto value = args.size() == 2 ? parseUnsigned(args[1]) : std::nullopt;
        if (!value) {
            _err << "orvanectl compose: " << args[0] << " takes one unsigned value (0 to 4294967295)\n";
            return 2;
        }
        OrvaneMessage::compose(sentence, *message, *value);
    } else {
        if (args.size() != 1) {
            _err << "orvanectl compose: " << args[0] << " takes no value\n";
            return 2;
        }
        OrvaneMessage::compose(sentence, *message);
    }
    const auto flags = _out.flags();
    for (std::size_t i = 0; i < sentence.size(); ++i) {
        _out << (i == 0 ? "" : " ") << std::uppercase << std::hex << std::setw(2) << std::setfill('0')
             << static_cast<unsigned>(sentence[i]);
    }
    _out.flags(flags);
    _out << "\n";
    return 0;
}

int OrvaneCtl::explainError(const std::vector<std::string>& args) {
    const auto code = args.size() == 1 ? parseUnsigned(args[0]) : std::nullopt;
    if (!code) {
        _err << "orvanectl error: give one result code, such as 1460\n";
        return 2;
    }
    const auto& text = wyr::windows::system::systemMessage(*code);
    if (text.empty()) {
        _out << *code << ": no description is known for this code\n";
        return 1;
    }
    _out << *code << ": " << toNarrow(text) << "\n";
    return 0;
}

int OrvaneCtl::listPorts(const std::vector<std::string>& args) {
    if (!args.empty()) {
        _err << "orvanectl ports: takes no arguments\n";
        return 2;
    }
    std::vector<device::SerialPortEntry> ports;
    if (!_ports.enumeratePorts(ports)) {
        const auto code = wyr::windows::system::getLastError();
        _err << "orvanectl ports: the serial ports cannot be listed: "
             << toNarrow(wyr::windows::system::systemMessage(code)) << " [" << code << "]\n";
        return 1;
    }
    std::stable_sort(ports.begin(), ports.end(),
                     [](const auto& a, const auto& b) { return a.portNumber < b.portNumber; });
    for (const auto& port : ports) {
        _out << "COM" << port.portNumber << '\t' << _ports.devicePathForPort(port.portNumber) << '\t'
             << toNarrow(port.description) << '\n';
    }
    return 0;
}

} // namespace cli
