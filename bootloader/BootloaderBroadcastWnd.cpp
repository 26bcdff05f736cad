#include "bootloader/BootloaderBroadcastWnd.h"

#include "wyr/windows/system/RegisteredMessage.h"
#include "wyr/windows/system/SystemError.h"

#include <memory>

namespace bootloader {

using namespace wyr::windows::system;

const MessageId BootloaderBroadcastWnd::WM_ON_BOOTLOADER_NOTIFY =
    registerMessage("WM_ON_BOOTLOADER_NOTIFY-{3087B054-5F03-4CF9-B9EF-1D970EEE640E}");

namespace {

tagBLNHDR* recordOf(WPARAM wParam) {
    return reinterpret_cast<tagBLNHDR*>(wParam);
}

// Messages that will never be handled still own their record.
void discardUndelivered(MessageId message, WPARAM wParam, LPARAM) {
    if (message == BootloaderBroadcastWnd::WM_ON_BOOTLOADER_NOTIFY) {
        delete recordOf(wParam);
    }
}

} // namespace

BootloaderBroadcastWnd::BootloaderBroadcastWnd()
    : _window(
          [this](MessageId message, WPARAM wParam, LPARAM lParam) -> LRESULT {
              return message == WM_ON_BOOTLOADER_NOTIFY ? OnNotify(wParam, lParam) : 0;
          },
          discardUndelivered) {}

BootloaderBroadcastWnd::~BootloaderBroadcastWnd() {
    _window.destroy();
}

boost::signals2::connection BootloaderBroadcastWnd::connect(const Signal::slot_type& callback) {
    return _signal.connect(callback);
}

void BootloaderBroadcastWnd::disconnectAll() {
    _signal.disconnect_all_slots();
}

bool BootloaderBroadcastWnd::post(tagBLNHDR* record) const {
    if (record == nullptr) {
        setLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return _window.post(WM_ON_BOOTLOADER_NOTIFY, reinterpret_cast<WPARAM>(record), 0);
}

LRESULT BootloaderBroadcastWnd::OnNotify(WPARAM wParam, LPARAM) {
    if (wParam == 0) {
        return 0;
    }
    // Freed after the last subscriber, also when one of them throws.
    const std::unique_ptr<tagBLNHDR> record(recordOf(wParam));
    _signal(record.get());
    return 0;
}

} // namespace bootloader
