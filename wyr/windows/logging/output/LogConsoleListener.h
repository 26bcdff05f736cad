#pragma once

#include "wyr/windows/logging/LogListener.h"
#include "wyr/windows/logging/TLogFilter.h"
#include "wyr/windows/system/Descriptor.h"

#include <cstdint>
#include <string>

namespace wyr::windows::logging {

// Writes log messages in colour to the process's terminal: standard output when
// it is a terminal, else standard error, else the controlling terminal. Colours
// are console text attributes (ConsoleForeground | ConsoleBackground |
// ConsoleIntensity), written as ANSI escape sequences.
class LogConsoleListener : public LogListener, public TLogFilter<LogConsoleListener> {
public:
    static constexpr const char* kTitle = "Orvane Console";

    LogConsoleListener();
    ~LogConsoleListener() override;

    // Finds a terminal, titles it and connects; true when connected. False, and
    // not connected, when no terminal can be written to. close gives the
    // terminal its title back.
    bool open();
    // Writes to the given descriptor instead (a command-line tool's standard
    // error), in colour only when it is a terminal; false when it cannot be used.
    bool open(int descriptor);
    void close();

    void onLogMessage(const LogVerbosity& verbosity, system::SYSTEMTIME time, const wchar_t* context,
                      const wchar_t* message) override;
    // "<date> <time>.<ms> <context> <message>\n"
    virtual std::wstring formatLine(const LogVerbosity& verbosity, const system::SYSTEMTIME& time,
                                    const wchar_t* context, const wchar_t* message);

    // The console text attribute a verbosity is written in.
    static std::uint16_t attributeFor(const LogVerbosity& verbosity);
    // The ANSI sequence that selects a console text attribute.
    static std::string escapeFor(std::uint16_t attribute);

private:
    struct Console {
        bool allocated = false; // this listener opened the terminal itself
        bool terminal = true;   // colours and titles only on a terminal
        system::Descriptor output;
        std::uint16_t attribute = 0;
    };

    void write(const std::string& text);

    Console _console;
};

} // namespace wyr::windows::logging
