#pragma once

#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// The options and operands of one command, read with getopt_long: a long option
// takes its value after "=" or as the next argument (--port=COM7, --port COM7),
// short options may be grouped, options and operands come in any order, and "--"
// ends the options.
class CommandLine {
public:
    struct Option {
        std::string name;   // the long name without "--"; empty for a short option alone
        char shortName = 0; // 0 for a long option alone
        bool takesValue = false;
    };

    // The highest port number a command accepts: COM1 to COM256.
    static constexpr std::int32_t kMaxPort = 256;

    explicit CommandLine(std::vector<Option> options) : _options(std::move(options)) {}

    // False with the complaint in error().
    bool parse(const std::vector<std::string>& args);

    // An option is named by its long name, or by its letter when it has none.
    bool has(const std::string& option) const { return _values.count(option) != 0; }
    // The value given last.
    std::optional<std::string> value(const std::string& option) const;
    const std::vector<std::string>& operands() const noexcept { return _operands; }
    const std::string& error() const noexcept { return _error; }

    // "COM7" (any letter case), "\\.\COM7" or "7", from 1 to kMaxPort.
    static std::optional<std::int32_t> parsePort(const std::string& text);

    // A decimal number from `low` to `high` and nothing else.
    template <typename T> static std::optional<T> number(const std::string& text, T low, T high) {
        T value{};
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, value);
        if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high) {
            return std::nullopt;
        }
        return value;
    }

private:
    std::string key(const Option& option) const;

    std::vector<Option> _options;
    std::map<std::string, std::vector<std::string>> _values;
    std::vector<std::string> _operands;
    std::string _error;
};

} // namespace cli
