#include "device/SupervisorSettings.h"

#include "device/OrvaneConfigKey.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/config/ConfigTypeMismatch.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/TextFormat.h"

#include <cmath>

namespace device {

using wyr::windows::config::ConfigTypeMismatch;
using wyr::windows::logging::log;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::system::formatText;

namespace {

constexpr const char* kContext = "SupervisorSettings::read";

std::wstring mismatchText(const ConfigTypeMismatch& e) {
    return formatText(L"Setting [%ls] is of type %ls, not %ls; using its default.", e.name().c_str(),
                      e.held().name().c_str(), e.asked().name().c_str());
}

} // namespace

SupervisorSettings::SupervisorSettings(const wyr::windows::config::ConfigMgr& config, std::wstring deviceName)
    : _config(config), _frameRateLimitsKey(OrvaneConfigKey::FrameRateLimits.fullName(deviceName)) {}

void SupervisorSettings::report(const std::wstring& name, const std::wstring& text) const {
    auto& last = _reported[name];
    if (last != text) {
        last = text;
        log(LogVerbosity::Error, kContext, L"%ls", text.c_str());
    }
}

std::int32_t SupervisorSettings::voltageSamples() const {
    return readInt(VoltageSamplesKey, DefaultVoltageSamples, VoltageSamplesRange);
}

float SupervisorSettings::voltageVariation() const {
    return readFloat(VoltageVariationKey, DefaultVoltageVariation, VoltageVariationRange);
}

SupervisorSettings::VoltageBounds SupervisorSettings::inputVoltageBounds() const {
    VoltageBounds bounds{readFloat(InputVoltageMinKey, DefaultInputVoltageMin, InputVoltageRange),
                         readFloat(InputVoltageMaxKey, DefaultInputVoltageMax, InputVoltageRange)};
    if (bounds.minimum > bounds.maximum) {
        report(std::wstring(InputVoltageMinKey) + L"|" + InputVoltageMaxKey,
               formatText(
                   L"Settings [%ls] %.5g and [%ls] %.5g leave no voltage acceptable; using their defaults.",
                   InputVoltageMinKey, static_cast<double>(bounds.minimum), InputVoltageMaxKey,
                   static_cast<double>(bounds.maximum)));
        bounds = {DefaultInputVoltageMin, DefaultInputVoltageMax};
    }
    return bounds;
}

float SupervisorSettings::inputVoltageMin() const {
    return inputVoltageBounds().minimum;
}

float SupervisorSettings::inputVoltageMax() const {
    return inputVoltageBounds().maximum;
}

std::int32_t SupervisorSettings::frameRate() const {
    return readInt(FrameRateKey, DefaultFrameRate, FrameRateRange);
}

std::uint32_t SupervisorSettings::frameRateLimits() const {
    return static_cast<std::uint32_t>(
        readInt(_frameRateLimitsKey, static_cast<std::int32_t>(DefaultFrameRateLimits)));
}

std::uint32_t SupervisorSettings::targetFrameRate() const {
    const std::uint32_t limits = frameRateLimits();
    const std::int64_t minimum = limits >> 16;
    const std::int64_t maximum = limits & 0xFFFFU;
    std::int64_t wanted = frameRate();
    if (wanted < minimum) {
        wanted = minimum;
    } else if (wanted > maximum) {
        wanted = maximum;
    }
    if (!FrameRateRange.contains(static_cast<std::int32_t>(wanted))) {
        // Asking for it would be corrected again at every heartbeat, for ever.
        report(
            _frameRateLimitsKey,
            formatText(L"Setting [%ls] (%lld to %lld) brings the frame rate to %lld, which the device cannot "
                       L"hold; using the default %d.",
                       _frameRateLimitsKey.c_str(), static_cast<long long>(minimum),
                       static_cast<long long>(maximum), static_cast<long long>(wanted), DefaultFrameRate));
        return static_cast<std::uint32_t>(DefaultFrameRate);
    }
    return static_cast<std::uint32_t>(wanted);
}

std::wstring SupervisorSettings::gainSettings() const {
    std::wstring text = DefaultGainSettings;
    try {
        _config.getString(GainSettingsKey, text);
    } catch (const ConfigTypeMismatch& e) {
        report(e.name(), mismatchText(e));
        text = DefaultGainSettings;
    }
    return text;
}

std::int32_t SupervisorSettings::pixelRate() const {
    return readInt(PixelRateKey, DefaultPixelRate, PixelRateRange);
}

float SupervisorSettings::noiseFloor() const {
    return readFloat(NoiseFloorKey, DefaultNoiseFloor, NoiseFloorRange, false);
}

bool SupervisorSettings::filtering() const {
    bool value = DefaultFiltering;
    try {
        _config.getBool(FilteringKey, value);
    } catch (const ConfigTypeMismatch& e) {
        report(e.name(), mismatchText(e));
        value = DefaultFiltering;
    }
    return value;
}

float SupervisorSettings::reduce(float value) noexcept {
    return static_cast<float>(std::floor(static_cast<double>(value) * 100000.0 + 0.5) / 10.0 / 10000.0);
}

std::int32_t SupervisorSettings::readInt(const std::wstring& name, std::int32_t fallback) const {
    std::int32_t value = fallback;
    try {
        _config.getInt(name, value);
    } catch (const ConfigTypeMismatch& e) {
        report(name, mismatchText(e));
        value = fallback;
    }
    return value;
}

std::int32_t SupervisorSettings::readInt(const std::wstring& name, std::int32_t fallback,
                                         Range<std::int32_t> range) const {
    const std::int32_t value = readInt(name, fallback);
    if (!range.contains(value)) {
        report(name, formatText(L"Setting [%ls] is %d, outside %d to %d; using its default %d.", name.c_str(),
                                value, range.minimum, range.maximum, fallback));
        return fallback;
    }
    return value;
}

float SupervisorSettings::readFloat(const std::wstring& name, float fallback, Range<float> range,
                                    bool reduced) const {
    float value = fallback;
    try {
        _config.getFloat(name, value);
    } catch (const ConfigTypeMismatch& e) {
        report(name, mismatchText(e));
        value = fallback;
    }
    if (reduced) {
        value = reduce(value);
    }
    if (!range.contains(value)) {
        report(name, formatText(L"Setting [%ls] is %.5g, outside %g to %g; using its default %g.",
                                name.c_str(), static_cast<double>(value), static_cast<double>(range.minimum),
                                static_cast<double>(range.maximum), static_cast<double>(fallback)));
        return fallback;
    }
    return value;
}

} // namespace device
