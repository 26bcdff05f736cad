#pragma once

#include <cstdint>
#include <string>

namespace wyr::windows::config {
class ConfigMgr;
}

namespace device {

// The settings that steer the supervision of the device, read from the
// configuration store. A setting that is missing, or holds another type than its
// own, reads as its default, so a front end that never declared the view's keys
// still supervises the device the way the application does.
//
// Float settings are stored as the bit pattern of a 32-bit float in an int entry
// and are reduced to five decimal places when read.
class SupervisorSettings {
public:
    static constexpr const wchar_t* VoltageSamplesKey = L"UI.VoltageSamples";
    static constexpr const wchar_t* VoltageVariationKey = L"UI.VoltageVariation";
    static constexpr const wchar_t* InputVoltageMinKey = L"UI.InputVoltageMin";
    static constexpr const wchar_t* InputVoltageMaxKey = L"UI.InputVoltageMax";
    static constexpr const wchar_t* FrameRateKey = L"UI.FrameRate";
    static constexpr const wchar_t* GainSettingsKey = L"UI.GainSettings";

    static constexpr std::int32_t DefaultVoltageSamples = 5;
    static constexpr float DefaultVoltageVariation = 1.0F;
    static constexpr float DefaultInputVoltageMin = 5.5F;
    static constexpr float DefaultInputVoltageMax = 48.5F;
    static constexpr std::int32_t DefaultFrameRate = 16;
    static constexpr const wchar_t* DefaultGainSettings =
        L"1|3|6|8|11|15|18|22|27|32|37|44|51|59|69|80|92|106|123|142|164|190|221|256|298|347|406|477|562|666|"
        L"793|1023";
    static constexpr std::uint32_t DefaultFrameRateLimits = 8200;

    // `deviceName` is the device interface's name, under which its keys are stored
    // (Device.FrameRateLimits).
    SupervisorSettings(const wyr::windows::config::ConfigMgr& config, std::wstring deviceName);

    std::int32_t voltageSamples() const;
    // Volts.
    float voltageVariation() const;
    float inputVoltageMin() const;
    float inputVoltageMax() const;
    // Frames per second the device must run at, before the limits apply.
    std::int32_t frameRate() const;
    // Packed: minimum in the high 16 bits, maximum in the low 16 bits.
    std::uint32_t frameRateLimits() const;
    // The permitted gain register values, "|"-separated.
    std::wstring gainSettings() const;

    // floor(value * 100000 + 0.5) / 10 / 10000, in double precision.
    static float reduce(float value) noexcept;

private:
    std::int32_t readInt(const std::wstring& name, std::int32_t fallback) const;
    float readFloat(const std::wstring& name, float fallback) const;

    const wyr::windows::config::ConfigMgr& _config;
    std::wstring _frameRateLimitsKey;
};

} // namespace device
