#include "cli/DeviceSession.h"

#include "cli/ErrorLog.h"
#include "device/OrvaneInterface.h"
#include "device/OrvaneInterfaceId.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/system/SystemTime.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/registry/RegRootKey.h"
#include "wyr/windows/system/registry/RegistryHive.h"

#include <algorithm>
#include <filesystem>
#include <set>
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

constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGPIPE};

std::string settingsFilePath() {
    std::string path;
    if (RegistryHive* hive = RegistryHive::of(RegRootKey::HKEY_CURRENT_USER)) {
        const auto guard = hive->lock();
        if (hive->filePath(path) != ERROR_SUCCESS) {
            path.clear();
        }
    }
    return path;
}

// The copies the settings store has set aside beside the file: "<file>.corrupt",
// "<file>.1.corrupt" ...
std::set<std::string> asideCopies(const std::string& file) {
    std::set<std::string> copies;
    if (file.empty()) {
        return copies;
    }
    namespace fs = std::filesystem;
    const fs::path path(file);
    const std::string stem = path.filename().string() + ".";
    std::error_code error;
    for (fs::directory_iterator it(path.parent_path(), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(stem) && name.ends_with(".corrupt")) {
            copies.insert(it->path().string());
        }
    }
    return copies;
}

} // namespace

bool DeviceSession::interrupted() {
    return g_interrupted != 0;
}

std::string DeviceSession::describe(ErrorCode code) {
    const auto& text = systemMessage(code);
    return (text.empty() ? std::string() : toNarrow(text) + " ") + "[" + std::to_string(code) + "]";
}

DeviceSession::DeviceSession(const CommonOptions& options, std::ostream& err, const std::string& command)
    : _options(options), _err(err), _prefix("orvanectl " + command + ": ") {}

DeviceSession::~DeviceSession() {
    if (_initialized) {
        _device->finalize();
    }
    LogBeacon::instance().flush();
    if (_logFile) {
        _logFile->stopBackgroundWriter();
        _logFile->close();
    }
    _console.reset();
    if (_signals) {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            ::sigaction(kSignals[i], &_previous[i], nullptr);
        }
    }
}

ErrorCode DeviceSession::open(Link link) {
    g_interrupted = 0;
    // Without SA_RESTART, so that a wait for the user's answer ends on Ctrl-C too.
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], kSignals[i] == SIGPIPE ? &ignore : &stop, &_previous[i]);
    }
    _signals = true;

    if (const ErrorCode rc = openLog(); rc != ERROR_SUCCESS) {
        return rc;
    }
    openSettings();

    if (const ErrorCode rc = device::getInterface(device::OrvaneInterfaceId::Orvane, &_device);
        rc != ERROR_SUCCESS) {
        _err << _prefix << "no device interface: " << describe(rc) << "\n";
        return rc;
    }
    _device->registerConfiguration();
    _settings = std::make_unique<DeviceSettings>(*_device, ConfigMgr::instance());
    if (!_settings->prepare(_err, _prefix)) {
        return ERROR_INVALID_DATA;
    }
    if (link == Link::SettingsOnly) {
        return ERROR_SUCCESS;
    }
    if (const ErrorCode rc = _device->initialize(); rc != ERROR_SUCCESS) {
        _err << _prefix << "the device link failed to start: " << describe(rc) << "\n";
        return rc;
    }
    _initialized = true;
    return ERROR_SUCCESS;
}

ErrorCode DeviceSession::openLog() {
    LogBeacon::instance();
    if (_options.consoleMask != 0) {
        _console = std::make_unique<ConsoleLog>(STDERR_FILENO, _options.consoleMask);
    }
    if (_options.logDirectory.empty()) {
        return ERROR_SUCCESS;
    }
    _logFile = std::make_unique<wyr::windows::logging::LogFileListener>();
    const std::wstring name = L"Tolvek-OrvaneUI_DEBUG-" + toWide(formatTime(getLocalTime(), "%Y%m%d_%H%M%S"));
    if (const ErrorCode rc = _logFile->open(_options.logDirectory, name); rc != ERROR_SUCCESS) {
        _err << _prefix << "cannot open a log file in " << toNarrow(_options.logDirectory) << ": "
             << describe(rc) << "\n";
        _logFile.reset();
        return rc;
    }
    _logFile->connect();
    _logFile->startBackgroundWriter();
    return ERROR_SUCCESS;
}

void DeviceSession::openSettings() {
    const std::string file = settingsFilePath();
    const auto before = asideCopies(file);
    ErrorLog fileErrors("RegistryHive");
    ErrorLog valueErrors("ConfigMgr::load");
    const ErrorCode loaded = ConfigMgr::instance().open(kSettingsPath);

    std::vector<std::wstring> reasons = fileErrors.take();
    for (auto& message : valueErrors.take()) {
        reasons.push_back(std::move(message));
    }
    // Each failure is logged with its code's system text after it; the text adds nothing here.
    std::erase_if(reasons, [&](const std::wstring& m) {
        return m == systemMessage(loaded) || m == systemMessage(ERROR_BADDB);
    });
    std::vector<std::string> setAside;
    for (const auto& copy : asideCopies(file)) {
        if (before.count(copy) == 0) {
            setAside.push_back(copy);
        }
    }
    if (!setAside.empty()) {
        _err << _prefix << "the settings file " << file
             << " could not be read as it was and was set aside as " << setAside.front()
             << "; the settings it held that could not be read take their defaults for this run\n";
    } else if (loaded != ERROR_SUCCESS && loaded != ERROR_FILE_NOT_FOUND) {
        _err << _prefix << "the settings could not all be read (" << describe(loaded)
             << "); defaults are used where they are missing\n";
    } else {
        return;
    }
    for (const auto& reason : reasons) {
        _err << "  " << toNarrow(reason) << "\n";
    }
}

} // namespace cli
