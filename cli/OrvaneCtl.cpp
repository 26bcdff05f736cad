#include "cli/OrvaneCtl.h"

#include "cli/CommandLine.h"
#include "cli/CommonOptions.h"
#include "cli/DeviceSession.h"
#include "cli/FlashCommand.h"
#include "cli/HexInfoCommand.h"
#include "cli/MonitorCommand.h"
#include "cli/ScanCommand.h"
#include "device/OrvaneMessage.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/TextConversion.h"

#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <optional>

namespace cli {

namespace {

using device::OrvaneMessage;
using wyr::windows::system::toNarrow;

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

std::string composeUsage() {
    std::string text = "compose <COMMAND> [value]\n"
                       "    Print the sentence sent to the instrument for a command, in hexadecimal.\n"
                       "    COMMAND is one of";
    std::size_t column = 23;
    const auto& registry = OrvaneMessage::registry();
    std::size_t left = registry.size();
    for (const auto& [id, message] : registry) {
        const std::string name = toNarrow(message->name()) + (--left == 0 ? ".\n" : ",");
        if (column + 1 + name.size() > 88) {
            text += "\n   ";
            column = 3;
        }
        text += " " + name;
        column += 1 + name.size();
    }
    return text;
}

const char* kErrorUsage = "error <code>\n"
                          "    Explain a result code found in the log (exit 1: no description is known).\n";

const char* kPortsUsage = "ports\n"
                          "    List the serial ports present, one per line:\n"
                          "    COM<n> <TAB> device path <TAB> description\n";

// The commands that take nothing but --help: false when the command ends here,
// with its exit code in `code`.
bool helpOnly(const std::vector<std::string>& args, const std::string& command, const std::string& usage,
              std::ostream& out, std::ostream& err, std::vector<std::string>& operands, int& code) {
    CommandLine line({{"help", 'h', false}});
    if (!line.parse(args)) {
        err << "orvanectl " << command << ": " << line.error() << " (see orvanectl " << command
            << " --help)\n";
        code = 2;
        return false;
    }
    if (line.has("help")) {
        out << "Usage: orvanectl " << usage;
        code = 0;
        return false;
    }
    operands = line.operands();
    return true;
}

} // namespace

int OrvaneCtl::run(const std::vector<std::string>& args) {
    if (args.empty()) {
        return usage(2);
    }
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "help" || command == "--help" || command == "-h") {
        if (!rest.empty()) {
            // "orvanectl help flash" is "orvanectl flash --help".
            return run({rest.front(), "--help"});
        }
        return usage(0);
    }
    if (command == "--version" || command == "-V") {
        _out << "orvanectl " << ORVANE_VERSION << "\n";
        return 0;
    }
    if (command == "compose") {
        return compose(rest);
    }
    if (command == "error") {
        return explainError(rest);
    }
    if (command == "ports") {
        return listPorts(rest);
    }
    if (command == "scan") {
        return ScanCommand(_out, _err, _ports).run(rest);
    }
    if (command == "monitor") {
        return MonitorCommand(_out, _err, _ports).run(rest);
    }
    if (command == "hexinfo") {
        return HexInfoCommand(_out, _err).run(rest);
    }
    if (command == "flash") {
        return FlashCommand(_out, _err, std::cin, FlashCommand::isTerminal(_out), _ports).run(rest);
    }
    _err << "orvanectl: unknown command '" << command << "'\n";
    return usage(2);
}

int OrvaneCtl::usage(int exitCode) {
    auto& s = exitCode == 0 ? _out : _err;
    s << "Usage: orvanectl <command> [arguments]\n"
         "       orvanectl <command> --help, orvanectl help <command>: the command's help\n"
         "       orvanectl -V, --version: the version\n"
         "\n"
         "Commands:\n"
      << kPortsUsage << ScanCommand::usage() << MonitorCommand::usage() << FlashCommand::usage()
      << HexInfoCommand::usage() << composeUsage() << kErrorUsage << "help [command]\n    Show this text.\n"
      << "\n"
      << CommonOptions::usageText()
      << "\n"
         "Settings are read from ~/.config/Tolvek/Orvane.reg (never written); see the README.\n";
    return exitCode;
}

int OrvaneCtl::compose(const std::vector<std::string>& args) {
    std::vector<std::string> operands;
    if (int code = 0; !helpOnly(args, "compose", composeUsage(), _out, _err, operands, code)) {
        return code;
    }
    if (operands.empty()) {
        _err << "orvanectl compose: name a command\n";
        return 2;
    }
    const OrvaneMessage* message = findCommand(operands[0]);
    if (message == nullptr) {
        _err << "orvanectl compose: unknown command '" << operands[0] << "'\n";
        return 2;
    }
    std::vector<std::uint8_t> sentence;
    if (takesArgument(*message)) {
        const auto value = operands.size() == 2
                               ? CommandLine::number<std::uint32_t>(operands[1], 0, UINT32_MAX)
                               : std::nullopt;
        if (!value) {
            _err << "orvanectl compose: " << operands[0] << " takes one unsigned value (0 to 4294967295)\n";
            return 2;
        }
        OrvaneMessage::compose(sentence, *message, *value);
    } else {
        if (operands.size() != 1) {
            _err << "orvanectl compose: " << operands[0] << " takes no value\n";
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
    std::vector<std::string> operands;
    if (int code = 0; !helpOnly(args, "error", kErrorUsage, _out, _err, operands, code)) {
        return code;
    }
    const auto code =
        operands.size() == 1 ? CommandLine::number<std::uint32_t>(operands[0], 0, UINT32_MAX) : std::nullopt;
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
    std::vector<std::string> operands;
    if (int code = 0; !helpOnly(args, "ports", kPortsUsage, _out, _err, operands, code)) {
        return code;
    }
    if (!operands.empty()) {
        _err << "orvanectl ports: takes no arguments\n";
        return 2;
    }
    std::vector<device::SerialPortEntry> ports;
    if (!_ports.enumeratePorts(ports)) {
        const auto code = wyr::windows::system::getLastError();
        _err << "orvanectl ports: the serial ports cannot be listed: " << DeviceSession::describe(code)
             << "\n";
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
