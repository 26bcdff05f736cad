#include "device/SupervisorSettings.h"

#include "device/OrvaneConfigKey.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/config/ConfigTypeMismatch.h"
#include "wyr/windows/logging/Log.h"

#include <cmath>

namespace device {

using wyr::windows::config::ConfigTypeMismatch;
using wyr::windows::logging::log;
using wyr::windows::logging::LogVerbosity;

namespace {

void reportMismatch(const ConfigTypeMismatch& e) {
    log(LogVerbosity::Error, "SupervisorSettings::read",
        L"Setting [%ls] is of type %ls, not %ls; using its default.", e.name().c_str(),
        e.held().name().c_str(), e.asked().name().c_str());
}

} // namespace

SupervisorSettings::SupervisorSettings(const wyr::windows::config::ConfigMgr& config, std::wstring deviceName)
    : _config(config), _frameRateLimitsKey(OrvaneConfigKey::FrameRateLimits.fullName(deviceName)) {}

std::int32_t SupervisorSettings::voltageSamples() const {
    return readInt(VoltageSamplesKey, DefaultVoltageSamples);
}

float SupervisorSettings::voltageVariation() const {
    return readFloat(VoltageVariationKey, DefaultVoltageVariation);
}

float SupervisorSettings::inputVoltageMin() const {
    return readFloat(InputVoltageMinKey, DefaultInputVoltageMin);
}

float SupervisorSettings::inputVoltageMax() const {
    return readFloat(InputVoltageMaxKey, DefaultInputVoltageMax);
}

std::int32_t SupervisorSettings::frameRate() const {
    return readInt(FrameRateKey, DefaultFrameRate);
}

std::uint32_t SupervisorSettings::frameRateLimits() const {
    return static_cast<std::uint32_t>(
        readInt(_frameRateLimitsKey, static_cast<std::int32_t>(DefaultFrameRateLimits)));
}

std::wstring SupervisorSettings::gainSettings() const {
    std::wstring text = DefaultGainSettings;
    try {
        _config.getString(GainSettingsKey, text);
    } catch (const ConfigTypeMismatch& e) {
        reportMismatch(e);
        text = DefaultGainSettings;
    }
    return text;
}

float SupervisorSettings::reduce(float value) noexcept {
    return static_cast<float>(std::floor(static_cast<double>(value) * 100000.0 + 0.5) / 10.0 / 10000.0);
}

std::int32_t SupervisorSettings::readInt(const std::wstring& name, std::int32_t fallback) const {
    std::int32_t value = fallback;
    try {
        _config.getInt(name, value);
    } catch (const ConfigTypeMismatch& e) {
        reportMismatch(e);
        value = fallback;
    }
    return value;
}

float SupervisorSettings::readFloat(const std::wstring& name, float fallback) const {
    float value = fallback;
    try {
        _config.getFloat(name, value);
    } catch (const ConfigTypeMismatch& e) {
        reportMismatch(e);
        value = fallback;
    }
    return reduce(value);
}

} // namespace device
