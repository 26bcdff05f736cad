#pragma once

#include "cli/CommonOptions.h"
#include "cli/ConsoleLog.h"
#include "cli/DeviceSettings.h"
#include "wyr/windows/logging/output/LogFileListener.h"
#include "wyr/windows/system/SystemError.h"

#include <csignal>
#include <memory>
#include <ostream>
#include <string>

namespace device {
class OrvaneInterface;
}

namespace cli {

// What every device command runs in, set up as the application does at start-up:
// the stop signals, the logging core with the listeners the options ask for, the
// settings, the device keys, and the device interface with its worker threads.
// The calling thread is the user-interface thread. Settings are read, never
// written: a command-line run does not change what the window will find.
//
// Ctrl-C and SIGTERM only raise interrupted(), which each command checks where it
// can stop cleanly. SIGPIPE is ignored, so that a closed output shows as a failed
// write that a command ends on like on Ctrl-C, instead of killing the process with
// the device left streaming.
class DeviceSession {
public:
    static constexpr const wchar_t* kSettingsPath = L"Software\\Tolvek\\Orvane\\Config";

    // Whether open() starts the device link's worker threads; a command that opens
    // the port itself (flash --bootloader) needs only its settings.
    enum class Link { Start, SettingsOnly };

    // `command` names the command in every message ("scan": "orvanectl scan: ...").
    DeviceSession(const CommonOptions& options, std::ostream& err, const std::string& command);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // 0 when the session runs; otherwise the reason was written to err.
    wyr::windows::system::ErrorCode open(Link link = Link::Start);

    device::OrvaneInterface& device() { return *_device; }
    DeviceSettings& settings() { return *_settings; }
    const std::string& prefix() const noexcept { return _prefix; }

    // Set by SIGINT/SIGTERM while a session is open.
    static bool interrupted();

    // "<system text> [code]", or "[code]" for a code without a text.
    static std::string describe(wyr::windows::system::ErrorCode code);

private:
    wyr::windows::system::ErrorCode openLog();
    void openSettings();

    const CommonOptions& _options;
    std::ostream& _err;
    std::string _prefix;
    device::OrvaneInterface* _device = nullptr;
    std::unique_ptr<DeviceSettings> _settings;
    bool _signals = false;
    bool _initialized = false;
    struct sigaction _previous[3] = {};
    std::unique_ptr<ConsoleLog> _console;
    std::unique_ptr<wyr::windows::logging::LogFileListener> _logFile;
};

} // namespace cli
