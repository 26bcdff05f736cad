#include "app/OrvaneApp.h"

#include "app/AboutDlg.h"
#include "app/AdminMode.h"
#include "app/ApplicationSettings.h"
#include "app/FailureDialogs.h"
#include "app/MainFrame.h"
#include "app/SingleInstance.h"
#include "app/SystemInfoDlg.h"
#include "app/UserGuide.h"
#include "controls/DesktopAlertMgr.h"
#include "device/OrvaneConfigKey.h"
#include "device/OrvaneInterface.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/config/ConfigTypeMismatch.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/system/Environment.h"
#include "wyr/windows/system/OsFacts.h"
#include "wyr/windows/system/SystemTime.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/ui/MessageQueuePump.h"
#include "wyr/windows/ui/PersistWindowPos.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

using wyr::windows::config::ConfigMgr;
using wyr::windows::logging::log;
using wyr::windows::logging::LogBeacon;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::logging::trace;
namespace sys = wyr::windows::system;

namespace {

constexpr std::size_t kMaxPath = 260;
constexpr const char* kLogContext = "OrvaneApp::openLog";

bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return QString::fromStdWString(a).compare(QString::fromStdWString(b), Qt::CaseInsensitive) == 0;
}

} // namespace

OrvaneApp::OrvaneApp(QStringList arguments, device::OrvaneInterface* device, QObject* parent)
    : QObject(parent), _arguments(std::move(arguments)), _device(device) {
    _debug = hasSwitch(_arguments, "-debug");
    std::vector<std::string> switches;
    for (qsizetype i = 1; i < _arguments.size(); ++i) {
        switches.push_back(_arguments[i].toStdString());
    }
    _admin = AdminMode::decide(switches);
}

OrvaneApp::~OrvaneApp() = default;

bool OrvaneApp::hasSwitch(const QStringList& arguments, const char* name) {
    // The first argument is the program.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String(name)) {
            return true;
        }
    }
    return false;
}

bool OrvaneApp::initInstance() {
    _instance = std::make_unique<SingleInstance>();
    if (!_instance->acquire()) {
        if (_instance->error().isEmpty()) {
            QMessageBox::information(nullptr, QStringLiteral("Orvane"),
                                     QStringLiteral("Detected previous running instance."));
            _instance->activatePrevious();
            return false;
        }
        // The runtime directory cannot hold the lock: run alone rather than not at all.
    }

    // Every notification, log record and settings change reaches the UI thread
    // through its queue; the pump runs it from whichever Qt loop runs.
    _pump = std::make_unique<wyr::windows::ui::MessageQueuePump>();
    LogBeacon::instance();
    if (!_instance->error().isEmpty()) {
        log(LogVerbosity::Warning, "OrvaneApp::InitInstance", L"Single-instance check not possible: %ls",
            _instance->error().toStdWString().c_str());
    }

    if (loadConfiguration() == sys::ERROR_CANCELLED) {
        return false;
    }

    if (_debug) {
        if (const ErrorCode result = openLog(); result != sys::ERROR_SUCCESS) {
            if (FailureDialogs::logFailure(result) != FailureDialogs::kFirstLink) {
                return false;
            }
        }
    }

    if (_device == nullptr && device::getInterface(device::OrvaneInterfaceId::Orvane, &_device) != 0) {
        return false;
    }
    for (ErrorCode result = _device->initialize(); result != sys::ERROR_SUCCESS;
         result = _device->initialize()) {
        if (FailureDialogs::initFailure(result) != FailureDialogs::kFirstLink) {
            return false;
        }
    }
    _deviceInitialized = true;

    MainFrame::Context context;
    context.admin = _admin;
    context.showLog = hasSwitch(_arguments, "-showlog");
    context.debug = _debug;
    context.systemInfo = [this] { showSystemInfo(); };
    context.help = [this] { showHelp(); };
    context.about = [this] { showAbout(); };
    _frame = std::make_unique<MainFrame>(*_device, context);
    connect(_instance.get(), &SingleInstance::activationRequested, _frame.get(), &MainFrame::activate);
    // The first start shows the window maximised, later ones as it was left.
    if (!_frame->placement().restore(*_frame)) {
        // Without a window manager maximising does nothing: fill the screen then.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            _frame->setGeometry(screen->availableGeometry());
        }
        _frame->setWindowState(Qt::WindowMaximized);
    }
    _frame->show();
    return true;
}

OrvaneApp::ErrorCode OrvaneApp::loadConfiguration() {
    trace("OrvaneApp::loadConfiguration");
    ConfigMgr& config = ConfigMgr::instance();
    config.open(ApplicationSettings::kStoragePath);
    _configurationLoaded = true;
    ApplicationSettings::defineTransient(config);
    if (_debug) {
        ApplicationSettings::enableDebugLogging(config);
    }
    ApplicationSettings::defineMissing(config);
    return validateDeviceSettings();
}

OrvaneApp::ErrorCode OrvaneApp::validateDeviceSettings() {
    if (_device == nullptr && device::getInterface(device::OrvaneInterfaceId::Orvane, &_device) != 0) {
        return sys::ERROR_CANCELLED;
    }
    _device->registerConfiguration();
    // A first start has no device settings yet: that is no configuration fault
    // to ask the user about. Missing keys take their defaults and are saved.
    ConfigMgr& config = ConfigMgr::instance();
    for (const auto& [id, key] : device::OrvaneConfigKey::registry()) {
        const std::wstring name = key->fullName(_device->name());
        if (!config.contains(name)) {
            config.define(name, key->defaultValue(), key->transient());
        }
    }
    for (int result = _device->validateConfiguration(); result != 0;
         result = _device->validateConfiguration()) {
        if (result == device::OrvaneConfigKey::GroupLink) {
            _device->setDefaultConfiguration(result);
        } else if (FailureDialogs::configFailure(static_cast<ErrorCode>(result)) ==
                   FailureDialogs::kFirstLink) {
            _device->setDefaultConfiguration(-1);
        } else {
            return sys::ERROR_CANCELLED;
        }
    }
    return sys::ERROR_SUCCESS;
}

OrvaneApp::ErrorCode OrvaneApp::openLog() {
    ConfigMgr& config = ConfigMgr::instance();
    std::wstring location = ApplicationSettings::kTempLocation;
    try {
        config.getString(ApplicationSettings::kDebugLogLocation, location);
    } catch (const wyr::windows::config::ConfigTypeMismatch&) {
        location = ApplicationSettings::kTempLocation;
    }
    if (equalsIgnoringCase(location, ApplicationSettings::kTempLocation)) {
        location = sys::expandEnvironmentStrings(location).substr(0, kMaxPath);
    }

    const std::string directory = sys::toNarrow(location);
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return sys::ERROR_PATH_NOT_FOUND;
    }
    if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        return sys::ERROR_ACCESS_DENIED;
    }

    const std::string time = sys::formatTime(sys::getLocalTime(), "%Y%m%d_%H%M%S");
    _logFile.setFilter(0xFFFF);
    const std::wstring name = L"Tolvek-OrvaneUI_DEBUG-" + sys::toWide(time);
    const std::string file = directory + "/" + sys::toNarrow(name) + ".log";
    if (::access(file.c_str(), F_OK) == 0 && ::access(file.c_str(), W_OK) != 0) {
        return sys::ERROR_ACCESS_DENIED;
    }
    _logFile.open(location, name);
    _logFile.connect();
    writeBanner();
    _logFile.startBackgroundWriter();
    return sys::ERROR_SUCCESS;
}

void OrvaneApp::writeBanner() {
    const auto line = [](const std::wstring& text) {
        log(LogVerbosity::Information, kLogContext, L"%ls", text.c_str());
    };
    const std::wstring rule = L"============================================================";
    auto& facts = sys::OsFacts::instance();
    facts.probe();
    line(rule);
    line(L"                       CONFIGURATION");
    line(rule);
    line(L"OS Name                       : " + facts.osName());
    line(L"Processor Architecture        : " + facts.processorArchitecture());
    line(L"Service Pack                  : " + facts.servicePack());
    line(L"Build Number                  : " + std::to_wstring(facts.buildNumber()));
    line(rule);
}

int OrvaneApp::exitInstance(int code) {
    // The window goes first, as when its close ended the loop.
    if (_frame) {
        _frame->close();
        _frame.reset();
    }
    controls::DesktopAlertMgr::destroyInstance();
    if (_deviceInitialized) {
        _device->finalize();
        _deviceInitialized = false;
    }
    if (_configurationLoaded) {
        ConfigMgr::instance().save(ApplicationSettings::kStoragePath);
        _configurationLoaded = false;
    }
    _logFile.stopBackgroundWriter();
    if (LogBeacon* beacon = LogBeacon::existing()) {
        beacon->flush();
    }
    _logFile.close();
    _instance.reset();
    _pump.reset();
    return code;
}

void OrvaneApp::showSystemInfo() {
    SystemInfoDlg dialog(_admin, _debug, _frame.get());
    dialog.exec();
}

void OrvaneApp::showHelp() {
    UserGuide::open();
}

void OrvaneApp::showAbout() {
    AboutDlg dialog(_frame.get());
    dialog.exec();
}

} // namespace app
