#include "device/OrvaneBroadcastWnd.h"

#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/RegisteredMessage.h"

#include <memory>

namespace device {

using namespace wyr::windows::system;
using wyr::windows::logging::LogVerbosity;

const MessageId OrvaneBroadcastWnd::WM_ON_ORVANE_NOTIFY =
    registerMessage("WM_ON_ORVANE_NOTIFY-{FAF40DDE-8918-4DF5-A6C6-E14728203E3C}");

namespace {

OrvaneNotification* recordOf(WPARAM wParam) {
    return reinterpret_cast<OrvaneNotification*>(wParam);
}

// Messages that will never be handled still own their record.
void discardUndelivered(MessageId message, WPARAM wParam, LPARAM) {
    if (message == OrvaneBroadcastWnd::WM_ON_ORVANE_NOTIFY) {
        OrvaneNotification::release(recordOf(wParam), "OrvaneBroadcastWnd::discardUndelivered");
    }
}

} // namespace

OrvaneBroadcastWnd::OrvaneBroadcastWnd()
    : _window(
          [this](MessageId message, WPARAM wParam, LPARAM lParam) -> LRESULT {
              return message == WM_ON_ORVANE_NOTIFY ? OnNotify(wParam, lParam) : 0;
          },
          discardUndelivered) {}

OrvaneBroadcastWnd::~OrvaneBroadcastWnd() {
    _window.destroy();
}

boost::signals2::connection OrvaneBroadcastWnd::subscribe(const Signal::slot_type& callback) {
    return _signal.connect(callback);
}

void OrvaneBroadcastWnd::unsubscribeAll() {
    _signal.disconnect_all_slots();
}

bool OrvaneBroadcastWnd::post(OrvaneNotification* record) {
    if (record == nullptr) {
        setLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!_window.post(WM_ON_ORVANE_NOTIFY, reinterpret_cast<WPARAM>(record), 0)) {
        const ErrorCode error = getLastError();
        OrvaneNotification::release(record, "OrvaneBroadcastWnd::post");
        setLastError(error);
        return false;
    }
    return true;
}

LRESULT OrvaneBroadcastWnd::OnNotify(WPARAM wParam, LPARAM) {
    static constexpr const char* kContext = "OrvaneBroadcastWnd::OnNotify";
    if (wParam == 0) {
        return 0;
    }
    // Freed after the last subscriber, also when one of them throws.
    const auto release = [](OrvaneNotification* r) { OrvaneNotification::release(r, kContext); };
    const std::unique_ptr<OrvaneNotification, decltype(release)> record(recordOf(wParam), release);

    if (wyr::windows::logging::logEnabled(LogVerbosity::DebugLevel4)) {
        const OrvaneNotificationType* type = record->type;
        wyr::windows::logging::log(
            LogVerbosity::DebugLevel4, kContext, L"OrvaneNotification - Message ID [%llu], type [%d][%ls]",
            static_cast<unsigned long long>(record->id), type != nullptr ? type->value() : 0,
            type != nullptr ? type->name().c_str() : L"");
    }
    _signal(record.get());
    return 0;
}

} // namespace device
