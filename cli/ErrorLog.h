#pragma once

#include "wyr/windows/logging/LogListener.h"
#include "wyr/windows/logging/TLogFilter.h"

#include <string>
#include <vector>

namespace cli {

// Keeps the error messages that code under one context prefix logs while it is
// connected, so that a command can tell the user why something failed in the
// words the log uses. Lives on the user-interface thread.
class ErrorLog : public wyr::windows::logging::LogListener,
                 public wyr::windows::logging::TLogFilter<ErrorLog> {
public:
    // "bootloader::IntelHexFile" keeps what the image reader reports.
    explicit ErrorLog(std::string contextPrefix);
    ~ErrorLog() override;

    void onLogMessage(const wyr::windows::logging::LogVerbosity& verbosity,
                      wyr::windows::system::SYSTEMTIME time, const wchar_t* context,
                      const wchar_t* message) override;

    // Delivers what is still queued, then hands over the messages kept so far,
    // leaving none behind.
    std::vector<std::wstring> take();

private:
    std::wstring _prefix;
    std::vector<std::wstring> _messages;
};

} // namespace cli
