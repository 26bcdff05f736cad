#pragma once

#include "wyr/windows/logging/LogVerbosity.h"
#include "wyr/windows/system/MessageWindow.h"
#include "wyr/windows/system/SystemTime.h"

#include <boost/signals2/signal.hpp>

namespace wyr::windows::logging {

struct LogRecord;

// The hidden window on the user-interface thread that receives log records and
// hands them to the listeners, in posting order, through the log signal.
class LogNotificationWnd {
public:
    using Signal = boost::signals2::signal<void(const LogVerbosity&, system::SYSTEMTIME time,
                                                const wchar_t* context, const wchar_t* message)>;

    static const system::MessageId WM_LOG_WRITEMESSAGE;

    LogNotificationWnd();
    ~LogNotificationWnd();
    LogNotificationWnd(const LogNotificationWnd&) = delete;
    LogNotificationWnd& operator=(const LogNotificationWnd&) = delete;

    Signal& signal() noexcept { return _signal; }
    system::MessageWindow& window() noexcept { return _window; }

    // Takes the record: on failure it is freed here.
    bool post(LogRecord* record);
    void destroyWindow() { _window.destroy(); }

private:
    system::LRESULT onWriteMessage(system::WPARAM wParam, system::LPARAM lParam);

    Signal _signal;
    system::MessageWindow _window;
};

} // namespace wyr::windows::logging
