#include "wyr/windows/logging/LogNotificationWnd.h"

#include "wyr/windows/logging/LogRecord.h"
#include "wyr/windows/system/RegisteredMessage.h"

#include <memory>

namespace wyr::windows::logging {

using namespace wyr::windows::system;

const MessageId LogNotificationWnd::WM_LOG_WRITEMESSAGE =
    registerMessage("WM_LOG_WRITEMESSAGE-{4D320642-D342-4FD8-906E-03B1C7E168F8}");

namespace {

void freeRecord(MessageId message, WPARAM, LPARAM lParam) {
    if (message == LogNotificationWnd::WM_LOG_WRITEMESSAGE) {
        delete reinterpret_cast<LogRecord*>(lParam);
    }
}

} // namespace

LogNotificationWnd::LogNotificationWnd()
    : _window(
          [this](MessageId message, WPARAM wParam, LPARAM lParam) -> LRESULT {
              if (message == WM_LOG_WRITEMESSAGE) {
                  return onWriteMessage(wParam, lParam);
              }
              return 0;
          },
          freeRecord) {}

LogNotificationWnd::~LogNotificationWnd() {
    _window.destroy();
}

bool LogNotificationWnd::post(LogRecord* record) {
    if (!_window.post(WM_LOG_WRITEMESSAGE, static_cast<WPARAM>(record->verbosity->value()),
                      reinterpret_cast<LPARAM>(record))) {
        delete record;
        return false;
    }
    return true;
}

LRESULT LogNotificationWnd::onWriteMessage(WPARAM wParam, LPARAM lParam) {
    const std::unique_ptr<LogRecord> record(reinterpret_cast<LogRecord*>(lParam));
    const LogVerbosity* verbosity = LogVerbosity::fromValue(static_cast<int>(wParam));
    if (verbosity == nullptr || !record) {
        return 0;
    }
    _signal(*verbosity, record->time, record->context.c_str(), record->message.c_str());
    return 0;
}

} // namespace wyr::windows::logging
