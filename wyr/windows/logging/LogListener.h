#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/logging/LogVerbosity.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/SystemTime.h"

#include <boost/signals2/connection.hpp>

namespace wyr::windows::logging {

// Base of everything that receives log messages. onLogMessage runs on the
// user-interface thread, in the order the messages were logged.
class LogListener : private memory::NonCopyable {
public:
    virtual ~LogListener();

    virtual void onLogMessage(const LogVerbosity& verbosity, system::SYSTEMTIME time, const wchar_t* context,
                              const wchar_t* message) = 0;

    // 0; ERROR_ALREADY_INITIALIZED (1247) when connected; ERROR_CONNECTION_REFUSED
    // (1225) when the logging core refused.
    system::ErrorCode connect();
    // 0; ERROR_NOT_CONNECTED (2250) when not connected.
    system::ErrorCode disconnect();
    bool isConnected() const { return _connection.connected(); }

    // Tells the logging core which verbosities this listener now accepts.
    void filterChanged(std::uint16_t mask);

private:
    std::uint16_t currentMask() const;

    boost::signals2::connection _connection;
};

} // namespace wyr::windows::logging
