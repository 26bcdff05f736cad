#pragma once

#include "wyr/windows/logging/LogListener.h"
#include "wyr/windows/logging/TLogFilter.h"
#include "wyr/windows/logging/output/LogConsoleListener.h"

namespace cli {

// Writes the log records that -v or --log-level ask for to a descriptor
// (standard error), in the log console's line format: in the log console's
// colours on a terminal that takes them, plain everywhere else. Lives on the
// user-interface thread.
class ConsoleLog : public wyr::windows::logging::LogListener,
                   public wyr::windows::logging::TLogFilter<ConsoleLog> {
public:
    ConsoleLog(int descriptor, std::uint16_t mask);
    ~ConsoleLog() override;

    void onLogMessage(const wyr::windows::logging::LogVerbosity& verbosity,
                      wyr::windows::system::SYSTEMTIME time, const wchar_t* context,
                      const wchar_t* message) override;

private:
    void write(const std::string& text) const;

    int _descriptor;
    bool _colours;
    wyr::windows::logging::LogConsoleListener _format; // never opened: lends its line format
};

} // namespace cli
