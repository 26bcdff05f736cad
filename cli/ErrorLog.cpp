#include "cli/ErrorLog.h"

#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/system/TextConversion.h"

namespace cli {

using wyr::windows::logging::LogBeacon;
using wyr::windows::logging::LogVerbosity;

ErrorLog::ErrorLog(std::string contextPrefix) : _prefix(wyr::windows::system::toWide(contextPrefix)) {
    LogBeacon::instance();
    setFilter(LogVerbosity::Error.mask());
    connect();
}

ErrorLog::~ErrorLog() {
    disconnect();
}

void ErrorLog::onLogMessage(const LogVerbosity& verbosity, wyr::windows::system::SYSTEMTIME,
                            const wchar_t* context, const wchar_t* message) {
    if (!passes(verbosity) || context == nullptr || message == nullptr) {
        return;
    }
    if (std::wstring_view(context).starts_with(_prefix)) {
        _messages.emplace_back(message);
    }
}

std::vector<std::wstring> ErrorLog::take() {
    LogBeacon::instance().flush();
    std::vector<std::wstring> messages;
    messages.swap(_messages);
    return messages;
}

} // namespace cli
