#include "wyr/windows/logging/output/LogConsoleListener.h"

#include "wyr/windows/logging/output/ConsoleBackground.h"
#include "wyr/windows/logging/output/ConsoleForeground.h"
#include "wyr/windows/logging/output/ConsoleIntensity.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/SystemTime.h"
#include "wyr/windows/system/TextConversion.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace wyr::windows::logging {

using namespace wyr::windows::system;

namespace {

// Console colour bits are blue 1, green 2, red 4; ANSI colour numbers are red 1,
// green 2, blue 4.
int ansiColour(unsigned bits) {
    return static_cast<int>(((bits & 1U) << 2) | (bits & 2U) | ((bits & 4U) >> 2));
}

// A descriptor of the process's terminal, duplicated so the listener owns it.
Descriptor findTerminal(bool& allocated) {
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        if (::isatty(fd) != 0) {
            allocated = false;
            return Descriptor(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
        }
    }
    allocated = true;
    return Descriptor(::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC));
}

} // namespace

LogConsoleListener::LogConsoleListener() = default;

LogConsoleListener::~LogConsoleListener() {
    close();
}

std::uint16_t LogConsoleListener::attributeFor(const LogVerbosity& verbosity) {
    const std::uint16_t bright = ConsoleIntensity::Foreground.bits();
    std::uint16_t foreground = 0;
    if (verbosity == LogVerbosity::DebugLevel1) {
        foreground = ConsoleForeground::Blue.bits();
    } else if (verbosity == LogVerbosity::DebugLevel2) {
        foreground = ConsoleForeground::Blue.bits() | bright;
    } else if (verbosity == LogVerbosity::DebugLevel3) {
        foreground = ConsoleForeground::Cyan.bits() | bright;
    } else if (verbosity == LogVerbosity::DebugLevel4) {
        foreground = ConsoleForeground::Green.bits() | bright;
    } else if (verbosity == LogVerbosity::Information) {
        foreground = ConsoleForeground::White.bits();
    } else if (verbosity == LogVerbosity::Warning) {
        foreground = ConsoleForeground::Yellow.bits() | bright;
    } else if (verbosity == LogVerbosity::Error) {
        foreground = ConsoleForeground::Red.bits() | bright;
    } else {
        foreground = ConsoleForeground::Black.bits() | bright; // grey
    }
    return static_cast<std::uint16_t>(foreground | ConsoleBackground::Black.bits());
}

std::string LogConsoleListener::escapeFor(std::uint16_t attribute) {
    const unsigned foreground = attribute & 0x7U;
    const unsigned background = (attribute >> 4) & 0x7U;
    const bool brightForeground = (attribute & ConsoleIntensity::Foreground.bits()) != 0;
    const bool brightBackground = (attribute & ConsoleIntensity::Background.bits()) != 0;
    char sequence[32];
    std::snprintf(sequence, sizeof sequence, "\x1b[0;%d;%dm",
                  (brightForeground ? 90 : 30) + ansiColour(foreground),
                  (brightBackground ? 100 : 40) + ansiColour(background));
    return sequence;
}

bool LogConsoleListener::open() {
    if (!_console.output) {
        bool allocated = false;
        Descriptor terminal = findTerminal(allocated);
        if (!terminal) {
            setLastErrorFromErrno();
            return false;
        }
        _console.output = std::move(terminal);
        _console.allocated = allocated;
        // xterm sequences: keep the terminal's own title, then set ours; terminals
        // without titles ignore both.
        write(std::string("\x1b[22;0t\x1b]0;") + kTitle + "\x07");
    }
    const ErrorCode result = connect();
    return result == ERROR_SUCCESS || result == ERROR_ALREADY_INITIALIZED;
}

bool LogConsoleListener::open(int descriptor) {
    if (!_console.output) {
        Descriptor output(::fcntl(descriptor, F_DUPFD_CLOEXEC, 3));
        if (!output) {
            setLastErrorFromErrno();
            return false;
        }
        _console.terminal = ::isatty(output.get()) != 0;
        _console.output = std::move(output);
        _console.allocated = false;
    }
    const ErrorCode result = connect();
    return result == ERROR_SUCCESS || result == ERROR_ALREADY_INITIALIZED;
}

void LogConsoleListener::close() {
    if (isConnected()) {
        disconnect();
    }
    if (_console.output && _console.terminal) {
        write("\x1b[0m\x1b[23;0t"); // the terminal's colours and title back
    }
    _console.output.reset();
    _console.allocated = false;
    _console.terminal = true;
    _console.attribute = 0;
}

std::wstring LogConsoleListener::formatLine(const LogVerbosity&, const SYSTEMTIME& time,
                                            const wchar_t* context, const wchar_t* message) {
    wchar_t milliseconds[16];
    std::swprintf(milliseconds, 16, L".%03d ", static_cast<int>(time.wMilliseconds));
    std::wstring line = toWide(formatTime(time, "%m/%d/%Y %H:%M:%S"));
    line += milliseconds;
    line += context != nullptr ? context : L"";
    line += L' ';
    line += message != nullptr ? message : L"";
    line += L'\n';
    return line;
}

void LogConsoleListener::onLogMessage(const LogVerbosity& verbosity, SYSTEMTIME time, const wchar_t* context,
                                      const wchar_t* message) {
    if (!_console.output || !passes(verbosity)) {
        return;
    }
    _console.attribute = attributeFor(verbosity);
    std::wstring line = formatLine(verbosity, time, context, message);
    // The colour ends with the line, so a shell sharing the terminal keeps its own.
    const bool endsLine = !line.empty() && line.back() == L'\n';
    if (endsLine) {
        line.pop_back();
    }
    if (!_console.terminal) {
        write(toNarrow(line) + (endsLine ? "\n" : ""));
        return;
    }
    write(escapeFor(_console.attribute) + toNarrow(line) + "\x1b[0m" + (endsLine ? "\n" : ""));
}

void LogConsoleListener::write(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(_console.output.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // a console that cannot be written to drops the line
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace wyr::windows::logging
