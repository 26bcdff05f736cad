#include "cli/DeviceSettings.h"

#include "device/OrvaneInterface.h"
#include "wyr/windows/communication/FlowControl.h"
#include "wyr/windows/communication/Parity.h"
#include "wyr/windows/communication/StopBits.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/TextConversion.h"

#include <exception>

namespace cli {

using device::OrvaneConfigKey;
using wyr::windows::system::toNarrow;
namespace comm = wyr::windows::communication;

std::wstring DeviceSettings::fullName(const OrvaneConfigKey& key) const {
    return key.fullName(_device.name());
}

std::optional<std::int32_t> DeviceSettings::value(const OrvaneConfigKey& key) const {
    std::int32_t value = 0;
    try {
        if (_config.getInt(fullName(key), value)) {
            return value;
        }
    } catch (const std::exception&) {
        // Another type than a number: as good as not set.
    }
    return std::nullopt;
}

std::optional<std::string> DeviceSettings::problem(const OrvaneConfigKey& key) const {
    const std::string name = "the setting " + toNarrow(fullName(key));
    const auto held = value(key);
    if (!held) {
        const auto entries = _config.entries();
        const auto it = entries.find(fullName(key));
        const std::wstring text =
            it == entries.end() ? L"nothing"
                                : L"\"" + wyr::windows::config::ConfigMgr::format(it->second.value) + L"\"";
        return name + " holds " + toNarrow(text) + ", which is not a number (" + toNarrow(key.validText()) +
               ")";
    }
    if (key.accepts(*held)) {
        return std::nullopt;
    }
    const auto& valid = key.validValues();
    if (valid.kind == OrvaneConfigKey::ValidValues::Kind::Members) {
        return name + " holds " + std::to_string(*held) + ", which is no " + toNarrow(valid.what) + " (" +
               toNarrow(key.validText()) + ")";
    }
    return name + " holds " + std::to_string(*held) + ", outside " + toNarrow(key.validText());
}

bool DeviceSettings::prepare(std::ostream& err, const std::string& prefix) {
    for (const auto& [id, key] : OrvaneConfigKey::registry()) {
        if (!_config.contains(fullName(*key))) {
            _config.define(fullName(*key), key->defaultValue(), true);
        }
    }
    // Each round repairs one group; there are two.
    for (int round = 0; round < 3; ++round) {
        const int group = _device.validateConfiguration();
        if (group == 0) {
            return true;
        }
        bool found = false;
        for (const auto& [id, key] : OrvaneConfigKey::registry()) {
            if (key->group() != group || !key->validated()) {
                continue;
            }
            const auto what = problem(*key);
            if (!what) {
                continue;
            }
            found = true;
            if (group != OrvaneConfigKey::GroupLink) {
                err << prefix << *what << "; correct or remove it\n";
                continue;
            }
            const std::wstring& text = key->defaultValue();
            err << prefix << *what << "; its default " << toNarrow(text.substr(text.find(L'|') + 1))
                << " is used for this run\n";
            _config.define(fullName(*key), key->defaultValue(), true);
        }
        if (group != OrvaneConfigKey::GroupLink) {
            return false;
        }
        if (!found) {
            _device.setDefaultConfiguration(group);
        }
    }
    err << prefix << "the device settings cannot be brought into their valid values\n";
    return false;
}

bool DeviceSettings::lineSettings(bootloader::BootloaderPort::LineSettings& out, std::ostream& err,
                                  const std::string& prefix) const {
    for (const auto* key :
         {&OrvaneConfigKey::SerialBaudRate, &OrvaneConfigKey::SerialDataBits, &OrvaneConfigKey::SerialParity,
          &OrvaneConfigKey::SerialStopBits, &OrvaneConfigKey::SerialFlowControl}) {
        if (const auto what = problem(*key)) {
            err << prefix << *what << "; correct or remove it\n";
            return false;
        }
    }
    out.baudRate = static_cast<std::uint32_t>(*value(OrvaneConfigKey::SerialBaudRate));
    out.dataBits = static_cast<std::uint8_t>(*value(OrvaneConfigKey::SerialDataBits));
    out.parity = comm::Parity::fromValue(*value(OrvaneConfigKey::SerialParity));
    out.stopBits = comm::StopBits::fromValue(*value(OrvaneConfigKey::SerialStopBits));
    out.flowControl = comm::FlowControl::fromValue(*value(OrvaneConfigKey::SerialFlowControl));
    return true;
}

} // namespace cli
