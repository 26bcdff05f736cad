#pragma once

#include "bootloader/BootloaderNotification.h"
#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/MessageWindow.h"

#include <boost/signals2/signal.hpp>

namespace bootloader {

// The hidden window on the user-interface thread through which bootloader
// notifications reach their subscribers: records posted by the worker are
// delivered there one at a time, in posting order, and freed after the last
// subscriber returned. Records that never get delivered (the window went first)
// are freed too.
class BootloaderBroadcastWnd : private wyr::memory::NonCopyable {
public:
    using Signal = boost::signals2::signal<void(const tagBLNHDR*)>;

    // wParam: the record; lParam: 0.
    static const wyr::windows::system::MessageId WM_ON_BOOTLOADER_NOTIFY;

    // Creates the window for the calling thread, which must be the user-interface thread.
    BootloaderBroadcastWnd();
    ~BootloaderBroadcastWnd();

    boost::signals2::connection connect(const Signal::slot_type& callback);
    void disconnectAll();

    // Any thread. False, with the thread's last error telling why, when the record
    // could not be posted; the record then still belongs to the caller.
    bool post(tagBLNHDR* record) const;

    // The message's handler, on the owner thread: hands a non-null record to every
    // subscriber in connection order, then frees it. Always 0.
    wyr::windows::system::LRESULT OnNotify(wyr::windows::system::WPARAM wParam,
                                           wyr::windows::system::LPARAM lParam);

    wyr::windows::system::MessageWindow& window() noexcept { return _window; }

private:
    Signal _signal;
    wyr::windows::system::MessageWindow _window;
};

} // namespace bootloader
