#include "cli/DeviceSession.h"

#include "device/OrvaneInterface.h"
#include "device/OrvaneInterfaceId.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/SystemTime.h"
#include "wyr/windows/system/TextConversion.h"

#include <csignal>
#include <unistd.h>

namespace cli {

using namespace wyr::windows::system;
using wyr::windows::config::ConfigMgr;
using wyr::windows::logging::LogBeacon;

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onStopSignal(int) {
    g_interrupted = 1;
}

std::string describe(ErrorCode code) {
    const auto& text = systemMessage(code);
    return std::to_string(code) + (text.empty() ? std::string() : " " + toNarrow(text));
}

} // namespace

bool DeviceSession::interrupted() {
    return g_interrupted != 0;
}

DeviceSession::DeviceSession(const CommonOptions& options, std::ostream& err)
    : _options(options), _err(err) {}

DeviceSession::~DeviceSession() {
    if (_initialized) {
        _device->finalize();
    }
    LogBeacon::instance().flush();
    if (_logFile) {
        _logFile->stopBackgroundWriter();
        _logFile->close();
    }
    if (_console) {
        _console->close();
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

ErrorCode DeviceSession::open() {
    g_interrupted = 0;
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    LogBeacon::instance();
    if (_options.consoleMask != 0) {
        _console = std::make_unique<wyr::windows::logging::LogConsoleListener>();
        _console->setFilter(_options.consoleMask);
        if (!_console->open(STDERR_FILENO)) {
            _err << "orvanectl: cannot write log records to standard error\n";
            _console.reset();
        }
    }
    if (!_options.logDirectory.empty()) {
        _logFile = std::make_unique<wyr::windows::logging::LogFileListener>();
        const std::wstring name =
            L"Tolvek-OrvaneUI_DEBUG-" + toWide(formatTime(getLocalTime(), "%Y%m%d_%H%M%S"));
        if (const ErrorCode rc = _logFile->open(_options.logDirectory, name); rc != ERROR_SUCCESS) {
            _err << "orvanectl: cannot open a log file in " << toNarrow(_options.logDirectory) << ": "
                 << describe(rc) << "\n";
            _logFile.reset();
            return rc;
        }
        _logFile->connect();
        _logFile->startBackgroundWriter();
    }

    auto& config = ConfigMgr::instance();
    const ErrorCode loaded = config.open(kSettingsPath);
    if (loaded != ERROR_SUCCESS && loaded != ERROR_FILE_NOT_FOUND) {
        _err << "orvanectl: the settings could not all be read (" << describe(loaded)
             << "); defaults are used where they are missing\n";
    }

    if (const ErrorCode rc = device::getInterface(device::OrvaneInterfaceId::Orvane, &_device);
        rc != ERROR_SUCCESS) {
        _err << "orvanectl: no device interface: " << describe(rc) << "\n";
        return rc;
    }
    _device->registerConfiguration();
    // As the application does: repair what is missing or out of range with the
    // defaults. Only a settings file that exists deserves a word about it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int group = _device->validateConfiguration();
        if (group == 0) {
            break;
        }
        if (loaded == ERROR_SUCCESS) {
            _err << "orvanectl: invalid device settings (group " << group
                 << ") are replaced by their defaults for this run\n";
        }
        _device->setDefaultConfiguration(group);
    }
    if (const ErrorCode rc = _device->initialize(); rc != ERROR_SUCCESS) {
        _err << "orvanectl: the device link failed to start: " << describe(rc) << "\n";
        return rc;
    }
    _initialized = true;
    return ERROR_SUCCESS;
}

} // namespace cli
