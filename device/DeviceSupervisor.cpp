#include "device/DeviceSupervisor.h"

#include "device/DisconnectType.h"
#include "device/OrvaneInterface.h"
#include "device/OrvaneMessage.h"
#include "device/OrvaneNotificationType.h"
#include "device/OrvaneScanPhase.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/TextFormat.h"

#include <algorithm>

namespace device {

using wyr::windows::logging::log;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::system::ERROR_DEVICE_NOT_CONNECTED;
using wyr::windows::system::ERROR_SUCCESS;
using wyr::windows::system::ErrorCode;
using wyr::windows::system::formatText;
using Icon = IDeviceSupervisorSink::AlertIcon;

namespace {

constexpr const wchar_t* NoPortsError = L"No serial ports found!";
constexpr const wchar_t* InterrogateError = L"Failed to interrogate port(s).";
constexpr const wchar_t* NotFoundError = L"Failed to find a Orvane.";
constexpr const wchar_t* ResetError = L"Failed to perform reset.";
constexpr const wchar_t* ValidatingText = L"Validating Orvane settings.";
constexpr const wchar_t* DisconnectedAlert = L"Disconnected.";
constexpr const wchar_t* WatchDogAlert = L"Unable to communication with Orvane X1!";

void logNotification(const char* context, const tagNMORVANEHDR& header) {
    log(LogVerbosity::DebugLevel4, context, L"OrvaneNotification Message Id [%llu], type [%d][%ls]",
        static_cast<unsigned long long>(header.id), header.type->value(), header.type->name().c_str());
}

} // namespace

DeviceSupervisor::DeviceSupervisor(OrvaneInterface& device, const wyr::windows::config::ConfigMgr& config,
                                   IDeviceSupervisorSink& sink)
    : _device(device), _settings(config, device.name()), _sink(sink), _gains(_settings.gainSettings()),
      _voltage(_settings.voltageSamples(), _settings.voltageVariation()) {}

DeviceSupervisor::~DeviceSupervisor() = default;

void DeviceSupervisor::subscribeStartup() {
    _subscription = _device.subscribe([this](const tagNMORVANEHDR* header) { startupCallback(header); });
}

void DeviceSupervisor::subscribeNormal() {
    _subscription = _device.subscribe([this](const tagNMORVANEHDR* header) { normalCallback(header); });
}

// ---- Scanning ------------------------------------------------------------

ErrorCode DeviceSupervisor::startScan(std::vector<SerialPortEntry> ports) {
    _sink.clearDisplays();
    std::stable_sort(ports.begin(), ports.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
        return a.portNumber < b.portNumber;
    });
    _scanList = std::move(ports);
    if (_scanList.empty()) {
        _sink.showError(NoPortsError);
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    _sink.enableAutoConnect(false);
    _subscription.disconnect();
    subscribeStartup();
    const ErrorCode result = _device.interrogatePort(0, 0);
    if (result != ERROR_SUCCESS) {
        _sink.enableAutoConnect(true);
        _sink.showError(InterrogateError);
        return result;
    }
    _state = State::Scanning;
    return result;
}

ErrorCode DeviceSupervisor::scanPort(std::int32_t port) {
    _sink.clearDisplays();
    _sink.enableAutoConnect(false);
    _scanList.clear();
    _subscription.disconnect();
    subscribeStartup();
    const ErrorCode result = _device.interrogatePort(port, -1);
    if (result != ERROR_SUCCESS) {
        // Nothing will report back, so the button must not stay disabled.
        _sink.enableAutoConnect(true);
        _sink.showError(InterrogateError);
        return result;
    }
    _state = State::Scanning;
    return result;
}

void DeviceSupervisor::startupCallback(const tagNMORVANEHDR* header) {
    if (header == nullptr || header->type == nullptr) {
        return;
    }
    logNotification("DeviceSupervisor::startupCallback", *header);
    const OrvaneNotificationType& type = *header->type;
    if (const auto* interrogate = OrvaneNotification::as<OrvaneInterrogateNotification>(header)) {
        onInterrogate(*interrogate);
    } else if (const auto* connect = OrvaneNotification::as<OrvaneConnectNotification>(header)) {
        onConnect(*connect);
    } else if (type == OrvaneNotificationType::NotifyHeartbeat) {
        // Acknowledgements are not validated, and neither is a heartbeat that came
        // before the connection was confirmed.
        if (_connectionMarker) {
            onValidationHeartbeat();
        }
    } else if (type == OrvaneNotificationType::NotifyCommandFailure) {
        commandFailed(header);
    } else if (type == OrvaneNotificationType::NotifyDisconnect && _connectionMarker) {
        // The link went down during validation: leave the progress dialog and the
        // connection marker no older than the link. While scanning, a port that
        // hangs up is one more port without a device; its probe result follows.
        closeNotification();
        _sink.showAlert(Icon::Information, DisconnectedAlert);
        showDisconnected();
        // Disconnect too came on with the connection.
        updateControls();
    }
}

void DeviceSupervisor::onInterrogate(const OrvaneInterrogateNotification& record) {
    if (record.phase == nullptr) {
        return;
    }
    const OrvaneScanPhase& phase = *record.phase;
    if (phase == OrvaneScanPhase::NotifyScanBegin) {
        _state = State::Scanning;
        _notificationShown = true;
        _sink.showNotification(L"Scanning ports. Please wait...");
        interrogateNext(record.scanArg + 1);
    } else if (phase == OrvaneScanPhase::NotifyScanPort) {
        _state = State::Scanning;
        if (record.scanArg == -1) {
            _notificationShown = true;
        }
        notificationText(formatText(L"Interrogating port...\"\\.\\COM%d\".", record.port));
    } else if (phase == OrvaneScanPhase::NotifyScanResult) {
        if (record.result == ERROR_SUCCESS) {
            _state = State::Connecting;
            notificationText(formatText(L"Connecting to a Orvane found on port \"\\.\\COM%d\"", record.port));
            if (_device.connect(record.port) != ERROR_SUCCESS) {
                // No NotifyConnect will follow.
                closeNotification();
                _state = State::Idle;
                _sink.showError(
                    formatText(L"Failed to connect to the Orvane on port \"\\.\\COM%d\"", record.port));
                _sink.enableAutoConnect(!_device.isOpen());
            }
        } else {
            notificationText(formatText(L"No Orvane found on port...\\\\.\\COM%d!", record.port));
            interrogateNext(record.scanArg + 1);
        }
    }
}

bool DeviceSupervisor::interrogateNext(std::int32_t scanArg) {
    if (_scanList.empty()) {
        scanFailed(NotFoundError);
        return false;
    }
    const std::int32_t port = _scanList.front().portNumber;
    _scanList.erase(_scanList.begin());
    if (_device.interrogatePort(port, scanArg) != ERROR_SUCCESS) {
        // No result will come back for this port, so the scan ends here.
        _scanList.clear();
        scanFailed(InterrogateError);
        return false;
    }
    return true;
}

void DeviceSupervisor::scanFailed(const wchar_t* error) {
    _state = State::Idle;
    closeNotification();
    _sink.showError(error);
    _sink.rebuildPortMenu();
    _sink.enableAutoConnect(true);
}

void DeviceSupervisor::onConnect(const OrvaneConnectNotification& record) {
    if (record.result != ERROR_SUCCESS) {
        _state = State::Idle;
        closeNotification();
        _sink.showError(formatText(L"Failed to connect to the Orvane on port \"\\.\\COM%d\"", record.port));
        // The link closed the port again, so another scan may start.
        _sink.enableAutoConnect(!_device.isOpen());
        return;
    }
    _state = State::Validating;
    _connectionMarker = true;
    _sink.connected(record.port);
}

void DeviceSupervisor::onValidationHeartbeat() {
    // A correction not yet acknowledged may already show in this heartbeat, but
    // the link would drop the start: validate at the next one.
    if (_device.commandPending()) {
        return;
    }
    notificationText(ValidatingText);
    log(LogVerbosity::AppSpecific1, "DeviceSupervisor::startupCallback", ValidatingText);
    if (!checkFrameRate() || !checkGain()) {
        return;
    }
    if (const ErrorCode result = _device.start(); result != ERROR_SUCCESS) {
        // Not sent: still validating, the next heartbeat tries again.
        log(LogVerbosity::Warning, "DeviceSupervisor::startupCallback",
            L"Streaming could not be started [%d]; validating again at the next heartbeat.", result);
        return;
    }
    _subscription.disconnect();
    subscribeNormal();
    closeNotification();
    _state = State::Streaming;
    _sink.streamingStarted();
}

void DeviceSupervisor::notificationText(const std::wstring& text) {
    if (_notificationShown) {
        _sink.showNotification(text);
    }
}

void DeviceSupervisor::closeNotification() {
    if (_notificationShown) {
        _notificationShown = false;
        _sink.closeNotification();
    }
}

void DeviceSupervisor::commandFailed(const tagNMORVANEHDR* header) {
    const auto* failure = OrvaneNotification::as<OrvaneCommandFailureNotification>(header);
    const std::wstring name =
        failure != nullptr && failure->command != nullptr ? failure->command->name() : L"";
    _sink.showAlert(Icon::Warning, formatText(L"[%ls] command failed!", name.c_str()));
}

// ---- Validation ----------------------------------------------------------

bool DeviceSupervisor::checkFrameRate() {
    const OrvaneDeviceState state = _device.deviceState();
    const std::uint32_t rate = _settings.targetFrameRate();
    if (rate == state.frameRate) {
        return true;
    }
    log(LogVerbosity::Warning, "DeviceSupervisor::checkFrameRate",
        L"Frame rate out of tolerance - Adjusting frame rate from %u to %u",
        static_cast<unsigned>(state.frameRate), static_cast<unsigned>(rate));
    _device.setFrameRate(rate);
    return false;
}

bool DeviceSupervisor::checkGain() {
    const OrvaneDeviceState state = _device.deviceState();
    const auto adjusted = _gains.contains(state.gain) ? std::nullopt : _gains.adjusted(state.gain);
    if (!adjusted) {
        return true;
    }
    log(LogVerbosity::Warning, "DeviceSupervisor::checkGain",
        L"Gain out of tolerance - Adjusting gain from %u to %u", static_cast<unsigned>(state.gain),
        static_cast<unsigned>(*adjusted));
    _device.setGain(static_cast<std::uint32_t>(*adjusted));
    showShownGain(*adjusted);
    return false;
}

// ---- Normal operation ----------------------------------------------------

void DeviceSupervisor::normalCallback(const tagNMORVANEHDR* header) {
    if (header == nullptr || header->type == nullptr) {
        return;
    }
    logNotification("DeviceSupervisor::normalCallback", *header);
    const OrvaneNotificationType& type = *header->type;
    if (const auto* report = OrvaneNotification::as<OrvaneStateNotification>(header)) {
        if (type == OrvaneNotificationType::NotifyAcknowledge) {
            _deviceLed = 1;
        } else {
            _deviceLed = _deviceLed == 2 ? 1 : 2;
        }
        _sink.showDeviceLed(_deviceLed);
        showDeviceState(report->state);
    } else if (type == OrvaneNotificationType::NotifyDisconnect) {
        showDisconnected();
        _sink.showAlert(Icon::Information, DisconnectedAlert);
    } else if (type == OrvaneNotificationType::NotifyWatchDog) {
        _deviceLed = 3;
        _sink.showDeviceLed(_deviceLed);
        _sink.showAlert(Icon::Warning, WatchDogAlert);
    } else if (type == OrvaneNotificationType::NotifyCommandFailure) {
        commandFailed(header);
    }
    updateControls();
}

void DeviceSupervisor::showDeviceState(const OrvaneDeviceState& state) {
    _antennaLed = state.antennaDisconnected() ? 2 : 1;
    _sink.showAntennaLed(_antennaLed);

    const VoltageSupervisor::Outcome voltage =
        _voltage.add(state.voltage, _settings.inputVoltageMin(), _settings.inputVoltageMax());
    if (voltage.fluctuation) {
        _sink.showAlert(Icon::Warning, VoltageSupervisor::FluctuationAlert);
    }
    _sink.showVoltage(voltage.text);
    if (voltage.alarm != nullptr) {
        _sink.showAlert(Icon::Warning, voltage.alarm);
    }
    if (voltage.lookChanged) {
        _sink.showVoltageLook(voltage.look);
    }

    showShownGain(state.gain);
    _sink.showDecibels(GainList::decibelsText(_shownGain));
}

void DeviceSupervisor::showShownGain(std::int32_t gain) {
    if (gain != _shownGain) {
        _shownGain = gain;
        _sink.showGain(gain);
    }
}

void DeviceSupervisor::showDisconnected() {
    _state = State::Idle;
    showShownGain(ShownGainAtRest);
    _sink.showDecibels(IdleText);
    _deviceLed = 0;
    _antennaLed = 0;
    _sink.showDeviceLed(0);
    _sink.showAntennaLed(0);
    _voltage.reset();
    _sink.showVoltage(VoltageSupervisor::IdleText);
    _sink.showVoltageLook(VoltageSupervisor::Look::Idle);
    _connectionMarker = false;
    _sink.rebuildPortMenu();
}

void DeviceSupervisor::updateControls() {
    const bool open = _device.isOpen();
    _sink.enableAutoConnect(!open);
    _sink.enableDisconnect(open);
    const GainList::Steps steps = open ? _gains.steps(_device.deviceState().gain) : GainList::Steps{};
    _sink.enableGainButtons(steps.down, steps.up);
    _sink.refresh();
}

// ---- User commands -------------------------------------------------------

ErrorCode DeviceSupervisor::disconnect() {
    const std::uint32_t reason = 0;
    return _device.disconnect(DisconnectType::Normal, reason);
}

ErrorCode DeviceSupervisor::resetDevice() {
    const ErrorCode result = _device.resetDevice();
    if (result != ERROR_SUCCESS) {
        _sink.showError(ResetError);
    }
    return result;
}

bool DeviceSupervisor::gainDown() {
    const auto gain = _gains.stepDown(_shownGain);
    if (gain) {
        _device.setGain(static_cast<std::uint32_t>(*gain));
    }
    return gain.has_value();
}

bool DeviceSupervisor::gainUp() {
    const auto gain = _gains.stepUp(_shownGain);
    if (gain) {
        _device.setGain(static_cast<std::uint32_t>(*gain));
    }
    return gain.has_value();
}

void DeviceSupervisor::resetView() {
    _sink.clearDisplays();
    closeNotification();
    _scanList.clear();
    showDisconnected();
    _subscription.disconnect();
    subscribeStartup();
}

std::wstring DeviceSupervisor::frameRateText() const {
    const double measured = _device.deviceState().measuredFrameRate;
    if (_device.isOpen() && measured > 0.0) {
        return formatText(L"%.1f fps", measured);
    }
    return L"---";
}

} // namespace device
