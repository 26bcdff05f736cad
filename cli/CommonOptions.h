#pragma once

#include "cli/CommandLine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// The options every device command shares: the port to use and where log records go.
struct CommonOptions {
    std::optional<std::int32_t> port; // --port COM<n>
    std::uint16_t consoleMask = 0;    // -v / --log-level: that verbosity and above to stderr
    std::wstring logDirectory;        // --log-file DIR

    // Adds the shared options to a command's own.
    static std::vector<CommandLine::Option> with(std::vector<CommandLine::Option> options);

    // Takes the shared options from a parsed command line, or returns an error text.
    std::optional<std::string> take(const CommandLine& line);

    static const char* usageText();
};

} // namespace cli
