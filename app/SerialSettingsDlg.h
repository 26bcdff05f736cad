#pragma once

#include "bootloader/BootloaderPort.h"
#include "device/SerialPortEnumerator.h"

#include <QDialog>
#include <cstdint>
#include <optional>
#include <string>

class QComboBox;

namespace device {
class OrvaneConfigKey;
}

namespace wyr::windows::config {
class ConfigMgr;
}

namespace app {

// "Serial Settings": the port and line settings for a device that waits in its
// bootloader, where no running application can hand its port over. The port box
// lists "DISABLED" (item data -1), then every present port as "COM<n>
// <description>" (item data n), listed afresh each time the dialog is made; the
// other boxes hold the choices of each line setting with its value as item data.
// Everything starts from the device link's keys in the settings store
// ("<interface>.Serial.PortNumber", ".BaudRate", ".DataBits", ".Parity",
// ".StopBits", ".FlowControl"). OK takes the selections; OK with "DISABLED"
// chooses no port.
//
// Tests find the boxes as "port", "baudRate", "dataBits", "parity", "stopBits"
// and "flowControl".
class SerialSettingsDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kDisabled = -1;

    // `interfaceName` is the device link's name, the keys' prefix ("Device").
    SerialSettingsDlg(wyr::windows::config::ConfigMgr& config, const std::wstring& interfaceName,
                      const device::SerialPortEnumerator& ports = device::SerialPortEnumerator(),
                      QWidget* parent = nullptr);
    ~SerialSettingsDlg() override;

    // After OK: the chosen port's number, nothing for "DISABLED".
    std::optional<std::int32_t> port() const noexcept { return _port; }
    // After OK: "\\.\COM<n>" of the chosen port; empty for "DISABLED".
    QString devicePath() const;
    // After OK: the chosen line settings.
    const bootloader::BootloaderPort::LineSettings& lineSettings() const noexcept { return _settings; }

public Q_SLOTS:
    void accept() override;

private:
    QComboBox* addBox(const char* name);
    // Selects the item whose data the key holds, else the key's default, else the first.
    void select(QComboBox& box, const device::OrvaneConfigKey& key) const;
    static int dataOf(const QComboBox& box);

    wyr::windows::config::ConfigMgr& _config;
    std::wstring _interfaceName;
    QComboBox* _portBox = nullptr;
    QComboBox* _baudRate = nullptr;
    QComboBox* _dataBits = nullptr;
    QComboBox* _parity = nullptr;
    QComboBox* _stopBits = nullptr;
    QComboBox* _flowControl = nullptr;
    std::optional<std::int32_t> _port;
    bootloader::BootloaderPort::LineSettings _settings;
};

} // namespace app
