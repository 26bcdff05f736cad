#pragma once

#include "app/DebugPanel.h"

#include <QDialog>
#include <array>

class QLineEdit;
class QPushButton;
class QToolButton;

namespace device {
class OrvaneInterface;
}

namespace app {

// The administrator's debug window: every field of the device's latest state,
// the latest readings, and direct Start, Stop, frame-rate and gain commands. A
// modeless window titled "Debug"; it shows without taking the activation from
// its parent. The rules are DebugPanel's; this shows them and forwards presses.
//
// It follows the device notifications while it is open: from its first showing
// until it closes (its close box, Escape, or its destruction). closed() tells
// the owner, which destroys it.
//
// Object names, for tests: the fields "model", "serialNumber",
// "firmwareRevision", "inputVoltage", "antennaState", "streamingState",
// "frameRate", "calculatedRate", "gain", "adc1", "adc2", "adc3"; the controls
// "start", "stop", "frameRateDown", "frameRateUp", "gainEntry", "set".
class DebugDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kRangeMessage = "Please enter an integer between 1 and 1023.";

    explicit DebugDlg(device::OrvaneInterface& device, QWidget* parent = nullptr);
    ~DebugDlg() override;

    const DebugPanel& panel() const noexcept { return _panel; }

public Q_SLOTS:
    // What "Set" does: sends the entered gain, or shows the range message
    // (kRangeMessage) and sends nothing.
    void pressSet();
    void reject() override;

Q_SIGNALS:
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void showPanel();

    DebugPanel _panel;
    std::array<QLineEdit*, 12> _fields{};
    QPushButton* _start = nullptr;
    QPushButton* _stop = nullptr;
    QToolButton* _down = nullptr;
    QToolButton* _up = nullptr;
    QLineEdit* _gainEntry = nullptr;
    QPushButton* _set = nullptr;
};

} // namespace app
