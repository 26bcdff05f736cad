#pragma once

#include "device/GainList.h"
#include "device/IDeviceSupervisorSink.h"
#include "device/OrvaneNotification.h"
#include "device/SerialPortEntry.h"
#include "device/SupervisorSettings.h"
#include "device/VoltageSupervisor.h"
#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/SystemError.h"

#include <boost/signals2/connection.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace wyr::windows::config {
class ConfigMgr;
}

namespace device {

class OrvaneInterface;

// The rules by which the main view finds, validates and watches the device,
// without the view: it scans the ports one by one until a device answers,
// connects, brings the frame rate and the gain into tolerance, starts streaming,
// and from then on follows the device state (LEDs, voltage, gain) and the link's
// failures. What the user should see goes to the sink.
//
// Notifications reach it through its own subscription with the device interface:
// startupCallback from the start of a scan until the device is validated,
// normalCallback from then on. Everything runs on the user-interface thread.
class DeviceSupervisor : private wyr::memory::NonCopyable {
public:
    // Idle until a scan starts and again after a failed scan or connection or a
    // disconnection; Scanning until a device answers, Connecting until the
    // connection is confirmed, Validating until frame rate and gain are in
    // tolerance, then Streaming.
    enum class State { Idle, Scanning, Connecting, Validating, Streaming };

    static constexpr std::int32_t ShownGainAtRest = 1023;
    static constexpr const wchar_t* IdleText = L"-----";

    // Reads UI.VoltageSamples, UI.VoltageVariation and UI.GainSettings now; the
    // other settings are read where they are used. Subscribes nothing until the
    // first scan or resetView().
    DeviceSupervisor(OrvaneInterface& device, const wyr::windows::config::ConfigMgr& config,
                     IDeviceSupervisorSink& sink);
    ~DeviceSupervisor();

    // Automatic scan of the given present ports, in ascending port order. 0 when
    // the scan started; ERROR_DEVICE_NOT_CONNECTED when there is no port ("No
    // serial ports found!"); else the failure of interrogatePort ("Failed to
    // interrogate port(s).").
    wyr::windows::system::ErrorCode startScan(std::vector<SerialPortEntry> ports);
    // Scan of one port; 0 or the failure of interrogatePort.
    wyr::windows::system::ErrorCode scanPort(std::int32_t port);

    // Normal disconnection, reason 0.
    wyr::windows::system::ErrorCode disconnect();
    // "Failed to perform reset." on a non-zero result, which is returned.
    wyr::windows::system::ErrorCode resetDevice();

    // The gain buttons: one step from the shown gain ("˅" towards larger register
    // values, "˄" towards smaller ones). The display follows the device's
    // acknowledgement. False when nothing was sent.
    bool gainDown();
    bool gainUp();

    // After the device link was replaced (a firmware update): everything as after
    // a disconnection, the displays cleared, and ready for the next scan.
    void resetView();

    // The notification handlers, subscribed by the supervisor itself.
    void startupCallback(const tagNMORVANEHDR* header);
    void normalCallback(const tagNMORVANEHDR* header);

    // Bring the device into tolerance; true when it already is, else the
    // correction was sent and the next heartbeat checks again.
    bool checkFrameRate();
    bool checkGain();

    // The status bar's frame-rate pane: "%.1f fps" of the measured rate while the
    // port is open and the rate is above 0, "---" otherwise.
    std::wstring frameRateText() const;

    State state() const noexcept { return _state; }
    bool connectionMarker() const noexcept { return _connectionMarker; }
    std::int32_t shownGain() const noexcept { return _shownGain; }
    int deviceLed() const noexcept { return _deviceLed; }
    int antennaLed() const noexcept { return _antennaLed; }
    const GainList& gainList() const noexcept { return _gains; }
    const VoltageSupervisor& voltage() const noexcept { return _voltage; }
    // The ports an automatic scan still has to probe.
    const std::vector<SerialPortEntry>& scanList() const noexcept { return _scanList; }
    const SupervisorSettings& settings() const noexcept { return _settings; }

private:
    void subscribeStartup();
    void subscribeNormal();

    void onInterrogate(const OrvaneInterrogateNotification& record);
    void onConnect(const OrvaneConnectNotification& record);
    void onValidationHeartbeat();
    bool interrogateNext(std::int32_t scanArg);
    void scanFailed(const wchar_t* error);
    void notificationText(const std::wstring& text);
    void closeNotification();
    void commandFailed(const tagNMORVANEHDR* header);

    void showDeviceState(const OrvaneDeviceState& state);
    void showShownGain(std::int32_t gain);
    void showDisconnected();
    void updateControls();

    OrvaneInterface& _device;
    SupervisorSettings _settings;
    IDeviceSupervisorSink& _sink;

    State _state = State::Idle;
    std::vector<SerialPortEntry> _scanList;
    boost::signals2::scoped_connection _subscription;
    bool _notificationShown = false;
    bool _connectionMarker = false;

    GainList _gains;
    std::int32_t _shownGain = ShownGainAtRest;
    VoltageSupervisor _voltage;
    int _deviceLed = 0;
    int _antennaLed = 0;
};

} // namespace device
