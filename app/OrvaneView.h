#pragma once

#include "device/DeviceSupervisor.h"
#include "device/IDeviceSupervisorSink.h"

#include <QWidget>
#include <memory>

class QLabel;
class QMenu;
class QPushButton;
class QToolButton;

namespace controls {
class LedCtrl;
class SegmentDisplayCtrl;
} // namespace controls
namespace device {
class OrvaneInterface;
}
namespace wyr::windows::ui {
class NotificationDlg;
}

namespace app {

class GainIndicatorCtrl;
class HistoryWnd;
class OrvaneOutputWnd;

// The main form: finds and connects the instrument, and shows what it does. The
// rules (the scan, validation, the device state, the alerts) are the
// DeviceSupervisor's; the view is its sink, showing what it asks and forwarding
// the user's commands.
//
// Controls, found by objectName: "autoConnect" (a split button whose menu lists
// the present ports as "COM<n>" and "Rescan"), "disconnect", "gainDown" ("˅"),
// "gainUp" ("˄"), "decibels", "deviceLed", "antennaLed", "voltage", and the
// hosted "outputWnd", "gainIndicator" and "historyWnd".
class OrvaneView : public QWidget, public device::IDeviceSupervisorSink {
    Q_OBJECT
public:
    static constexpr int kFirstPortCommand = 56320;
    static constexpr int kMaxPortItems = 1022;
    static constexpr int kRescanCommand = 32777;

    OrvaneView(device::OrvaneInterface& device, QWidget* parent = nullptr);
    ~OrvaneView() override;

    // The commands.
    void autoConnect();
    void scanPort(int port);
    void disconnectDevice();
    void resetDevice();
    void gainDown();
    void gainUp();
    // After a firmware update: as after a disconnection, ready to scan.
    void resetView();
    void rebuildPortMenu() override;

    bool autoConnectEnabled() const;
    std::wstring frameRateText() const { return _supervisor->frameRateText(); }
    device::DeviceSupervisor& supervisor() noexcept { return *_supervisor; }
    QMenu& portMenu() const noexcept { return *_portMenu; }
    wyr::windows::ui::NotificationDlg* notificationDialog() const noexcept { return _notification; }

    // IDeviceSupervisorSink
    void clearDisplays() override;
    void showNotification(const std::wstring& text) override;
    void closeNotification() override;
    void showError(const std::wstring& text) override;
    void showAlert(AlertIcon icon, const std::wstring& text) override;
    void enableAutoConnect(bool enabled) override;
    void enableDisconnect(bool enabled) override;
    void enableGainButtons(bool down, bool up) override;
    void connected(std::int32_t port) override;
    void showDeviceLed(int state) override;
    void showAntennaLed(int state) override;
    void showVoltage(const std::wstring& text) override;
    void showVoltageLook(device::VoltageSupervisor::Look look) override;
    void showGain(std::int32_t gain) override;
    void showDecibels(const std::wstring& text) override;
    // After every device notification of normal operation.
    void refresh() override;

Q_SIGNALS:
    // The view has brought its controls up to date with the device.
    void refreshed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void build();

    device::OrvaneInterface& _device;
    std::unique_ptr<device::DeviceSupervisor> _supervisor;
    bool _shownOnce = false;

    OrvaneOutputWnd* _output = nullptr;
    GainIndicatorCtrl* _gainIndicator = nullptr;
    HistoryWnd* _history = nullptr;
    QToolButton* _autoConnect = nullptr;
    QMenu* _portMenu = nullptr;
    QPushButton* _disconnect = nullptr;
    QPushButton* _gainDown = nullptr;
    QPushButton* _gainUp = nullptr;
    QLabel* _decibels = nullptr;
    controls::LedCtrl* _deviceLed = nullptr;
    controls::LedCtrl* _antennaLed = nullptr;
    controls::SegmentDisplayCtrl* _voltage = nullptr;
    wyr::windows::ui::NotificationDlg* _notification = nullptr;
};

} // namespace app
