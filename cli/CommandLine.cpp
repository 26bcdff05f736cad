#include "cli/CommandLine.h"

#include "wyr/windows/communication/PortMap.h"
#include "wyr/windows/system/TextConversion.h"

#include <getopt.h>

namespace cli {

std::string CommandLine::key(const Option& option) const {
    return option.name.empty() ? std::string(1, option.shortName) : option.name;
}

bool CommandLine::parse(const std::vector<std::string>& args) {
    _values.clear();
    _operands.clear();
    _error.clear();

    // getopt_long reorders its argument vector, so it works on a copy; the first
    // entry stands for the program name.
    std::vector<std::string> copy;
    copy.reserve(args.size() + 1);
    copy.emplace_back("orvanectl");
    copy.insert(copy.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : copy) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    constexpr int kFirstLong = 256;
    std::vector<option> longOptions;
    std::string shortOptions = ":"; // ':' reports a missing value apart from an unknown option
    for (std::size_t i = 0; i < _options.size(); ++i) {
        const Option& o = _options[i];
        if (!o.name.empty()) {
            longOptions.push_back(option{o.name.c_str(), o.takesValue ? required_argument : no_argument,
                                         nullptr, kFirstLong + static_cast<int>(i)});
        }
        if (o.shortName != 0) {
            shortOptions += o.shortName;
            if (o.takesValue) {
                shortOptions += ':';
            }
        }
    }
    longOptions.push_back(option{nullptr, 0, nullptr, 0});

    optind = 0; // starts getopt afresh, whatever an earlier parse left
    opterr = 0;
    const int argc = static_cast<int>(copy.size());
    for (;;) {
        const int c = ::getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(), nullptr);
        if (c == -1) {
            break;
        }
        const std::string given = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        if (c == '?' || c == ':') {
            const std::string name =
                optopt != 0 && optopt < kFirstLong ? std::string("-") + static_cast<char>(optopt) : given;
            _error = c == ':' ? "option '" + name + "' needs a value" : "unknown option '" + given + "'";
            return false;
        }
        const Option* found = nullptr;
        if (c >= kFirstLong) {
            found = &_options[static_cast<std::size_t>(c - kFirstLong)];
        } else {
            for (const auto& o : _options) {
                if (o.shortName == c) {
                    found = &o;
                }
            }
        }
        if (found == nullptr) {
            _error = "unknown option '" + given + "'";
            return false;
        }
        _values[key(*found)].push_back(found->takesValue && optarg != nullptr ? optarg : "");
    }
    for (int i = optind; i < argc; ++i) {
        _operands.emplace_back(argv[static_cast<std::size_t>(i)]);
    }
    return true;
}

std::optional<std::string> CommandLine::value(const std::string& option) const {
    const auto it = _values.find(option);
    if (it == _values.end() || it->second.empty()) {
        return std::nullopt;
    }
    return it->second.back();
}

std::optional<std::int32_t> CommandLine::parsePort(const std::string& text) {
    using wyr::windows::communication::PortMap;
    const unsigned port = PortMap::parsePortArgument(text);
    if (port == PortMap::kNoPort) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(port);
}

} // namespace cli
