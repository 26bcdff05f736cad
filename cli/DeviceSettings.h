#pragma once

#include "bootloader/BootloaderPort.h"
#include "device/OrvaneConfigKey.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace device {
class OrvaneInterface;
}

namespace wyr::windows::config {
class ConfigMgr;
}

namespace cli {

// The device link's settings as a command-line run uses them, never written back.
// A key that is not set takes its default for this run. A link setting (a time
// or a length) outside its valid values takes its default, with a word about it,
// as the application repairs that group silently. A port setting outside its
// valid values stops the command: the application asks before it replaces one,
// and a guessed line setting would only look like an absent device.
class DeviceSettings {
public:
    DeviceSettings(device::OrvaneInterface& device, wyr::windows::config::ConfigMgr& config)
        : _device(device), _config(config) {}

    // Brings the settings into the state above; false when a port setting stops
    // the command. Each problem is one line on err, after `prefix`.
    bool prepare(std::ostream& err, const std::string& prefix);

    // The key's value; nothing when it is not set or not a number.
    std::optional<std::int32_t> value(const device::OrvaneConfigKey& key) const;

    // The port's line settings for the bootloader; false (with the reason on err)
    // for a value the key does not accept.
    bool lineSettings(bootloader::BootloaderPort::LineSettings& out, std::ostream& err,
                      const std::string& prefix) const;

private:
    // "the setting Device.Serial.Parity holds 7, which is no parity (0, 1, 2, 3 or 4)",
    // or nothing when the key holds a value it accepts.
    std::optional<std::string> problem(const device::OrvaneConfigKey& key) const;
    std::wstring fullName(const device::OrvaneConfigKey& key) const;

    device::OrvaneInterface& _device;
    wyr::windows::config::ConfigMgr& _config;
};

} // namespace cli
