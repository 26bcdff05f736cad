#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <string>

namespace wyr::windows::config {
class ConfigMgr;
}

namespace device {

// The settings of the main view and its output window, read from the
// configuration store: the one place that knows each key's default and the range
// of values that make sense. A setting that is missing, holds another type than
// its own, or lies outside its range reads as its default; the last two are logged
// at Error, once for each value found. So a front end that never declared the
// keys, or a hand-edited file, still supervises the device the way the
// application does.
//
// Float settings are stored as the bit pattern of a 32-bit float in an int entry.
// The view's floats are reduced to five decimal places when read; the output
// window's noise floor is used as is.
class SupervisorSettings {
public:
    template <typename T> struct Range {
        T minimum;
        T maximum;
        // False for NaN.
        constexpr bool contains(T value) const noexcept { return value >= minimum && value <= maximum; }
    };

    static constexpr const wchar_t* VoltageSamplesKey = L"UI.VoltageSamples";
    static constexpr const wchar_t* VoltageVariationKey = L"UI.VoltageVariation";
    static constexpr const wchar_t* InputVoltageMinKey = L"UI.InputVoltageMin";
    static constexpr const wchar_t* InputVoltageMaxKey = L"UI.InputVoltageMax";
    static constexpr const wchar_t* FrameRateKey = L"UI.FrameRate";
    static constexpr const wchar_t* GainSettingsKey = L"UI.GainSettings";
    static constexpr const wchar_t* PixelRateKey = L"UI.PixelRate";
    static constexpr const wchar_t* NoiseFloorKey = L"UI.NoiseFloor";
    static constexpr const wchar_t* FilteringKey = L"UI.Filtering";

    static constexpr std::int32_t DefaultVoltageSamples = 5;
    static constexpr float DefaultVoltageVariation = 1.0F;
    static constexpr float DefaultInputVoltageMin = 5.5F;
    static constexpr float DefaultInputVoltageMax = 48.5F;
    static constexpr std::int32_t DefaultFrameRate = 16;
    static constexpr const wchar_t* DefaultGainSettings =
        L"1|3|6|8|11|15|18|22|27|32|37|44|51|59|69|80|92|106|123|142|164|190|221|256|298|347|406|477|562|666|"
        L"793|1023";
    static constexpr std::uint32_t DefaultFrameRateLimits = 8200;
    static constexpr std::int32_t DefaultPixelRate = 2;
    static constexpr float DefaultNoiseFloor = 0.5F;
    static constexpr bool DefaultFiltering = true;

    // Samples averaged: at least one; a thousand heartbeats are a quarter of an hour.
    static constexpr Range<std::int32_t> VoltageSamplesRange{1, 1000};
    // Volts; a variation of 0 would count every sample as a fluctuation, a very large
    // one turns the fluctuation alert off.
    static constexpr Range<float> VoltageVariationRange{0.00001F, std::numeric_limits<float>::max()};
    // Volts, for both bounds; the minimum may not lie above the maximum.
    static constexpr Range<float> InputVoltageRange{0.0F, 1000.0F};
    // The device's frame rate is an 8-bit number, and 0 is no rate.
    static constexpr Range<std::int32_t> FrameRateRange{1, 255};
    // Pixels between two plotted readings.
    static constexpr Range<std::int32_t> PixelRateRange{1, 1000};
    // Volts; a reading of 4.5 fills a lane.
    static constexpr Range<float> NoiseFloorRange{0.0F, 4.5F};

    // `deviceName` is the device interface's name, under which its keys are stored
    // (Device.FrameRateLimits).
    SupervisorSettings(const wyr::windows::config::ConfigMgr& config, std::wstring deviceName);

    std::int32_t voltageSamples() const;
    // Volts.
    float voltageVariation() const;
    // The bounds are checked as a pair: when the minimum lies above the maximum,
    // both read as their defaults.
    float inputVoltageMin() const;
    float inputVoltageMax() const;
    // Frames per second the device must run at, before the limits apply.
    std::int32_t frameRate() const;
    // Packed: minimum in the high 16 bits, maximum in the low 16 bits.
    std::uint32_t frameRateLimits() const;
    // The rate validation holds the device at: frameRate() brought into
    // frameRateLimits(). A limit that puts it outside FrameRateRange is logged and
    // the default rate is held instead, so validation never asks for a rate the
    // device cannot report back.
    std::uint32_t targetFrameRate() const;
    // The permitted gain register values, "|"-separated; an empty or unusable list
    // permits any gain (GainList).
    std::wstring gainSettings() const;

    // The output window's settings.
    std::int32_t pixelRate() const;
    float noiseFloor() const;
    bool filtering() const;

    // floor(value * 100000 + 0.5) / 10 / 10000, in double precision.
    static float reduce(float value) noexcept;

private:
    struct VoltageBounds {
        float minimum;
        float maximum;
    };

    std::int32_t readInt(const std::wstring& name, std::int32_t fallback) const;
    std::int32_t readInt(const std::wstring& name, std::int32_t fallback, Range<std::int32_t> range) const;
    float readFloat(const std::wstring& name, float fallback, Range<float> range, bool reduced = true) const;
    VoltageBounds inputVoltageBounds() const;
    // Logs at Error, once for each text a key is reported with.
    void report(const std::wstring& name, const std::wstring& text) const;

    const wyr::windows::config::ConfigMgr& _config;
    std::wstring _frameRateLimitsKey;
    mutable std::map<std::wstring, std::wstring> _reported;
};

} // namespace device
