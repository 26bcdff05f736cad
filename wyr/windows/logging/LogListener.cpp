#include "wyr/windows/logging/LogListener.h"

#include "wyr/windows/logging/ILogFilter.h"
#include "wyr/windows/logging/LogBeacon.h"

namespace wyr::windows::logging {

using namespace wyr::windows::system;

LogListener::~LogListener() {
    if (_connection.connected()) {
        disconnect();
    }
}

ErrorCode LogListener::connect() {
    if (_connection.connected()) {
        return ERROR_ALREADY_INITIALIZED;
    }
    _connection = LogBeacon::instance().connect(
        [this](const LogVerbosity& verbosity, SYSTEMTIME time, const wchar_t* context,
               const wchar_t* message) { onLogMessage(verbosity, time, context, message); },
        currentMask());
    return _connection.connected() ? ERROR_SUCCESS : ERROR_CONNECTION_REFUSED;
}

ErrorCode LogListener::disconnect() {
    if (!_connection.connected()) {
        return ERROR_NOT_CONNECTED;
    }
    if (LogBeacon* beacon = LogBeacon::existing()) {
        beacon->disconnect(_connection);
    } else {
        _connection.disconnect();
    }
    return ERROR_SUCCESS;
}

void LogListener::filterChanged(std::uint16_t mask) {
    if (LogBeacon* beacon = LogBeacon::existing(); beacon != nullptr && _connection.connected()) {
        beacon->setMask(_connection, mask);
    }
}

std::uint16_t LogListener::currentMask() const {
    const auto* filter = dynamic_cast<const ILogFilter*>(this);
    return filter != nullptr ? filter->getFilter() : 0xFFFF;
}

} // namespace wyr::windows::logging
