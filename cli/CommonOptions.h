#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

// The options every device command shares: the port to use and where log records go.
struct CommonOptions {
    std::optional<std::int32_t> port; // --port COM<n>
    std::uint16_t consoleMask = 0;    // -v / --log-level: that verbosity and above to stderr
    std::wstring logDirectory;        // --log-file DIR

    // Takes the shared options out of `args` (leaving the command's own), or
    // returns an error text.
    std::optional<std::string> take(std::vector<std::string>& args);

    static const char* usageText();
};

} // namespace cli
