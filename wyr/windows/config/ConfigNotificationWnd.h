#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/config/ConfigValue.h"
#include "wyr/windows/system/MessageWindow.h"

#include <boost/signals2/signal.hpp>
#include <string>

namespace wyr::windows::config {

// The hidden window, owned by the thread that created the configuration manager
// (the user-interface thread), that hands configuration changes to the listeners
// in posting order. Each change travels as a heap copy of the name (wParam) and
// of the new value (lParam), which the window frees after the listeners ran, or
// when the message can no longer be delivered.
class ConfigNotificationWnd : private memory::NonCopyable {
public:
    using Signal = boost::signals2::signal<void(const std::wstring& name, const ConfigValue& value)>;

    static const system::MessageId WM_NOTIFY_CONFIGCHANGE;

    ConfigNotificationWnd();
    virtual ~ConfigNotificationWnd();

    Signal& signal() noexcept { return _signal; }
    system::MessageWindow& window() noexcept { return _window; }

    // Takes both copies: on failure they are freed here (last error set).
    bool post(std::wstring* name, ConfigValue* value);
    void destroyWindow() { _window.destroy(); }

private:
    system::LRESULT onConfigChange(system::WPARAM wParam, system::LPARAM lParam);

    Signal _signal;
    system::MessageWindow _window;
};

} // namespace wyr::windows::config
