#include "cli/ConsoleLog.h"

#include "cli/Terminal.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/system/TextConversion.h"

#include <cerrno>
#include <unistd.h>

namespace cli {

using wyr::windows::logging::LogConsoleListener;
using wyr::windows::logging::LogVerbosity;

ConsoleLog::ConsoleLog(int descriptor, std::uint16_t mask)
    : _descriptor(descriptor), _colours(Terminal::colours(descriptor)) {
    wyr::windows::logging::LogBeacon::instance();
    setFilter(mask);
    connect();
}

ConsoleLog::~ConsoleLog() {
    disconnect();
}

void ConsoleLog::onLogMessage(const LogVerbosity& verbosity, wyr::windows::system::SYSTEMTIME time,
                              const wchar_t* context, const wchar_t* message) {
    if (!passes(verbosity)) {
        return;
    }
    std::string line = wyr::windows::system::toNarrow(_format.formatLine(verbosity, time, context, message));
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    // The colour ends with the line, so that whatever follows keeps its own.
    write(_colours ? LogConsoleListener::escapeFor(LogConsoleListener::attributeFor(verbosity)) + line +
                         "\x1b[0m\n"
                   : line + "\n");
}

void ConsoleLog::write(const std::string& text) const {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(_descriptor, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // an output that cannot be written to loses the line
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace cli
