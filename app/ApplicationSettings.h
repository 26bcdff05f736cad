#pragma once

#include <string>
#include <vector>

namespace wyr::windows::config {
class ConfigMgr;
}

namespace app {

// The application's own settings, in id order, with their defaults in the
// store's text form. Transient ones are written at every start and never saved.
struct ApplicationSetting {
    int id;
    const wchar_t* name;
    const wchar_t* defaultText;
    bool transient;
};

class ApplicationSettings {
public:
    static constexpr const wchar_t* kStoragePath = L"Software\\Tolvek\\Orvane\\Config";
    static constexpr const wchar_t* kDebugLogging = L"Debug.Logging";
    static constexpr const wchar_t* kDebugLogLocation = L"Debug.LogLocation";
    static constexpr const wchar_t* kDebugLogFilter = L"Debug.LogFilter";
    static constexpr const wchar_t* kTempLocation = L"%TEMP%";

    static const std::vector<ApplicationSetting>& all();

    // Defines every transient setting with its default.
    static void defineTransient(wyr::windows::config::ConfigMgr& config);
    // "-debug": logging on, and a log location that is not empty.
    static void enableDebugLogging(wyr::windows::config::ConfigMgr& config);
    // Defines every setting the store does not hold with its default. A stored
    // value that did not convert was skipped when the store loaded and gets its
    // default here; one of another type is kept as the user wrote it, and its
    // readers fall back to the default.
    static void defineMissing(wyr::windows::config::ConfigMgr& config);
};

} // namespace app
