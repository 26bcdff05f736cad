#pragma once

#include "cli/CommonOptions.h"
#include "wyr/windows/logging/output/LogConsoleListener.h"
#include "wyr/windows/logging/output/LogFileListener.h"
#include "wyr/windows/system/SystemError.h"

#include <memory>
#include <ostream>

namespace device {
class OrvaneInterface;
}

namespace cli {

// What a device command needs around it, set up as the application does at
// start-up: the logging core and the listeners the options ask for, the settings,
// and the device interface with its worker threads. The calling thread is the
// user-interface thread. Settings are read, never written: a command-line run
// does not change what the window will find.
class DeviceSession {
public:
    static constexpr const wchar_t* kSettingsPath = L"Software\\Tolvek\\Orvane\\Config";

    DeviceSession(const CommonOptions& options, std::ostream& err);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // 0 when the device interface runs; otherwise the reason was written to err.
    wyr::windows::system::ErrorCode open();

    device::OrvaneInterface& device() { return *_device; }

    // Set by SIGINT/SIGTERM while a session is open.
    static bool interrupted();

private:
    const CommonOptions& _options;
    std::ostream& _err;
    device::OrvaneInterface* _device = nullptr;
    bool _initialized = false;
    std::unique_ptr<wyr::windows::logging::LogConsoleListener> _console;
    std::unique_ptr<wyr::windows::logging::LogFileListener> _logFile;
};

} // namespace cli
