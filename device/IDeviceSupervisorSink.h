#pragma once

#include "device/VoltageSupervisor.h"

#include <cstdint>
#include <string>

namespace device {

// What the supervision of the device wants the user to see. The Qt main view
// turns these into widgets, dialogs and alerts; the command-line front end prints
// them. Every call comes from the user-interface thread, from a supervisor
// operation or from a device notification. Each has an empty default, so a front
// end overrides only what it shows.
class IDeviceSupervisorSink {
public:
    enum class AlertIcon { Warning, Information };

    // A scan starts: empty the live output and the history pane.
    virtual void clearDisplays() {}

    // The progress dialog of scanning, connecting and validating: shows `text`,
    // opening the dialog when it is not open.
    virtual void showNotification(const std::wstring& /*text*/) {}
    virtual void closeNotification() {}

    // A user action failed (modal error box).
    virtual void showError(const std::wstring& /*text*/) {}
    // A transient desktop alert.
    virtual void showAlert(AlertIcon /*icon*/, const std::wstring& /*text*/) {}

    virtual void enableAutoConnect(bool /*enabled*/) {}
    virtual void enableDisconnect(bool /*enabled*/) {}
    // "˅" steps towards larger gain register values, "˄" towards smaller ones.
    virtual void enableGainButtons(bool /*down*/, bool /*up*/) {}
    // Enumerate the ports again and offer them for a single-port scan.
    virtual void rebuildPortMenu() {}

    // The device on `port` confirmed the connection: readings will follow (the
    // live output subscribes now).
    virtual void connected(std::int32_t /*port*/) {}
    // Frame rate and gain are in tolerance and streaming was requested.
    virtual void streamingStarted() {}

    // Device LED: 0 off, 1 acknowledgement, 2 heartbeat (alternating with 1),
    // 3 heartbeats lost. Antenna LED: 0 off, 1 connected, 2 disconnected.
    virtual void showDeviceLed(int /*state*/) {}
    virtual void showAntennaLed(int /*state*/) {}

    // The voltage display's text and, when it changes, its look.
    virtual void showVoltage(const std::wstring& /*text*/) {}
    virtual void showVoltageLook(VoltageSupervisor::Look /*look*/) {}

    // The shown gain register value changed: update and repaint the gain indicator.
    virtual void showGain(std::int32_t /*gain*/) {}
    // The gain in dB, or "-----" while disconnected.
    virtual void showDecibels(const std::wstring& /*text*/) {}

    // A notification was handled in normal operation: refresh the controls.
    virtual void refresh() {}

protected:
    IDeviceSupervisorSink() = default;
    IDeviceSupervisorSink(const IDeviceSupervisorSink&) = default;
    IDeviceSupervisorSink& operator=(const IDeviceSupervisorSink&) = default;
    ~IDeviceSupervisorSink() = default;
};

} // namespace device
