#include "wyr/windows/config/ConfigNotificationWnd.h"

#include "wyr/windows/system/RegisteredMessage.h"

#include <memory>

namespace wyr::windows::config {

using namespace wyr::windows::system;

const MessageId ConfigNotificationWnd::WM_NOTIFY_CONFIGCHANGE =
    registerMessage("WM_NOTIFY_CONFIGCHANGE-{95E4B830-E1AB-47F3-9677-580C7128D1BB}");

namespace {

void freeCopies(MessageId message, WPARAM wParam, LPARAM lParam) {
    if (message == ConfigNotificationWnd::WM_NOTIFY_CONFIGCHANGE) {
        delete reinterpret_cast<std::wstring*>(wParam);
        delete reinterpret_cast<ConfigValue*>(lParam);
    }
}

} // namespace

ConfigNotificationWnd::ConfigNotificationWnd()
    : _window(
          [this](MessageId message, WPARAM wParam, LPARAM lParam) -> LRESULT {
              if (message == WM_NOTIFY_CONFIGCHANGE) {
                  return onConfigChange(wParam, lParam);
              }
              return 0;
          },
          freeCopies) {}

ConfigNotificationWnd::~ConfigNotificationWnd() {
    _window.destroy();
}

bool ConfigNotificationWnd::post(std::wstring* name, ConfigValue* value) {
    if (!_window.post(WM_NOTIFY_CONFIGCHANGE, reinterpret_cast<WPARAM>(name),
                      reinterpret_cast<LPARAM>(value))) {
        delete name;
        delete value;
        return false;
    }
    return true;
}

LRESULT ConfigNotificationWnd::onConfigChange(WPARAM wParam, LPARAM lParam) {
    // Freed after the listeners ran, even if one of them throws.
    const std::unique_ptr<std::wstring> name(reinterpret_cast<std::wstring*>(wParam));
    const std::unique_ptr<ConfigValue> value(reinterpret_cast<ConfigValue*>(lParam));
    if (name && value) {
        _signal(*name, *value);
    }
    return 0;
}

} // namespace wyr::windows::config
