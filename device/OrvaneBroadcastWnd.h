#pragma once

#include "device/OrvaneNotification.h"
#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/MessageWindow.h"

#include <boost/signals2/signal.hpp>

namespace device {

// The hidden window on the user-interface thread through which device
// notifications reach their subscribers: records posted from any thread are
// delivered there one at a time, in posting order, and freed after the last
// subscriber returned.
class OrvaneBroadcastWnd : private wyr::memory::NonCopyable {
public:
    using Signal = boost::signals2::signal<void(const tagNMORVANEHDR*)>;

    // wParam: the record; lParam: 0.
    static const wyr::windows::system::MessageId WM_ON_ORVANE_NOTIFY;

    // Creates the window for the calling thread, which must be the user-interface thread.
    OrvaneBroadcastWnd();
    // Records still waiting are freed undelivered.
    ~OrvaneBroadcastWnd();

    // Subscribers keep the connection and disconnect it when they go away.
    boost::signals2::connection subscribe(const Signal::slot_type& callback);
    void unsubscribeAll();
    Signal& signal() noexcept { return _signal; }

    // Any thread. Takes the record in every case: when it cannot be posted it is
    // freed here and false returned, with the thread's last error telling why.
    bool post(OrvaneNotification* record);

    // The registered message's handler, on the owner thread.
    wyr::windows::system::LRESULT OnNotify(wyr::windows::system::WPARAM wParam,
                                           wyr::windows::system::LPARAM lParam);

    wyr::windows::system::MessageWindow& window() noexcept { return _window; }

private:
    Signal _signal;
    wyr::windows::system::MessageWindow _window;
};

} // namespace device
