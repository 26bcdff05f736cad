#include "app/ApplicationSettings.h"

#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/config/ConfigTypeMismatch.h"

namespace app {

using wyr::windows::config::ConfigMgr;

const std::vector<ApplicationSetting>& ApplicationSettings::all() {
    static const std::vector<ApplicationSetting> settings{
        {1, L"UI.VoltageSamples", L"1|5", false},
        {2, L"UI.VoltageVariation", L"1|1065353216", false},
        {3, L"UI.InputVoltageMin", L"1|1085276160", false},
        {4, L"UI.InputVoltageMax", L"1|1111621632", false},
        {5, L"UI.FrameRate", L"1|16", false},
        {6, L"UI.PixelRate", L"1|2", false},
        {7, L"UI.NoiseFloor", L"1|1056964608", false},
        {8, L"UI.Filtering", L"0|1", false},
        {9, L"UI.GainSettings",
         L"3|1|3|6|8|11|15|18|22|27|32|37|44|51|59|69|80|92|106|123|142|164|190|221|256|298|347|406|477|562|"
         L"666|793|1023",
         false},
        {10, L"UI.Gain", L"1|512", false},
        {11, L"UI.ScaleFactor", L"2|1.0", true},
        {12, kDebugLogging, L"0|0", true},
        {13, kDebugLogLocation, L"3|%TEMP%", false},
        {14, kDebugLogFilter, L"1|65535", false},
    };
    return settings;
}

void ApplicationSettings::defineTransient(ConfigMgr& config) {
    for (const auto& setting : all()) {
        if (setting.transient) {
            config.define(setting.name, setting.defaultText, true);
        }
    }
}

void ApplicationSettings::enableDebugLogging(ConfigMgr& config) {
    config.setBool(kDebugLogging, true);
    std::wstring location;
    bool found = false;
    try {
        found = config.getString(kDebugLogLocation, location);
    } catch (const wyr::windows::config::ConfigTypeMismatch&) {
        found = false;
    }
    if (!found || location.empty()) {
        config.setString(kDebugLogLocation, kTempLocation);
    }
}

void ApplicationSettings::defineMissing(ConfigMgr& config) {
    for (const auto& setting : all()) {
        if (!config.contains(setting.name)) {
            config.define(setting.name, setting.defaultText, setting.transient);
        }
    }
}

} // namespace app
