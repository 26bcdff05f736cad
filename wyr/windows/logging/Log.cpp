#include "wyr/windows/logging/Log.h"

#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/system/TextFormat.h"

namespace wyr::windows::logging {

void vlog(const LogVerbosity& verbosity, const char* context, const wchar_t* fmt, va_list args) {
    LogBeacon* beacon = LogBeacon::existing();
    if (beacon == nullptr || fmt == nullptr || !beacon->accepts(verbosity)) {
        return;
    }
    beacon->write(verbosity, context, system::vformatText(fmt, args).c_str());
}

void log(const LogVerbosity& verbosity, const char* context, const wchar_t* fmt, ...) {
    LogBeacon* beacon = LogBeacon::existing();
    if (beacon == nullptr || fmt == nullptr || !beacon->accepts(verbosity)) {
        return;
    }
    va_list args;
    va_start(args, fmt);
    const std::wstring text = system::vformatText(fmt, args);
    va_end(args);
    beacon->write(verbosity, context, text.c_str());
}

bool logEnabled(const LogVerbosity& verbosity) noexcept {
    const LogBeacon* beacon = LogBeacon::existing();
    return beacon != nullptr && beacon->accepts(verbosity);
}

void logSystemError(system::ErrorCode code, const char* context) {
    LogBeacon* beacon = LogBeacon::existing();
    if (beacon == nullptr || !beacon->accepts(LogVerbosity::Error)) {
        return;
    }
    const std::wstring& text = system::systemMessage(code);
    if (!text.empty()) {
        beacon->write(LogVerbosity::Error, context, text.c_str());
    }
}

void trace(const char* context) {
    log(LogVerbosity::DebugLevel1, context, L" ");
}

std::wstring hexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(bytes.size() * 5);
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += L' ';
        }
        text += L"0x";
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

} // namespace wyr::windows::logging
