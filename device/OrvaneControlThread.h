#pragma once

#include "device/DisconnectType.h"
#include "device/OrvaneNotification.h"
#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/Message.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/WaitableTimer.h"
#include "wyr/windows/system/threading/MessageThreadAdapter.h"

#include <atomic>
#include <boost/signals2/connection.hpp>
#include <cstdint>
#include <memory>
#include <mutex>

namespace device {

class OrvaneImpl;

// The worker on which the slow link operations run, so that the user-interface
// thread never waits on the port: port probes, connections and disconnections
// arrive as thread messages and are carried out by the device interface here, one
// after the other. It also owns the link watchdog, a periodic timer that raises
// NotifyWatchDog for every period without a new heartbeat, and the keep-awake tick.
class OrvaneControlThread : public wyr::windows::system::threading::MessageThreadAdapter {
public:
    using ErrorCode = wyr::windows::system::ErrorCode;
    using MessageId = wyr::windows::system::MessageId;

    // wParam: COM port number; lParam: the scan argument.
    static const MessageId TM_ORVANE_INTERROGATE_PORT;
    // wParam: COM port number; lParam: 0.
    static const MessageId TM_ORVANE_CONNECT;
    // wParam: a 32-bit code; lParam: pointer to the DisconnectType constant.
    static const MessageId TM_ORVANE_DISCONNECT;

    static constexpr std::uint32_t kInterrogatePauseMs = 750;
    static constexpr std::uint32_t kKeepAwakePeriodMs = 60000;

    explicit OrvaneControlThread(OrvaneImpl& device);
    ~OrvaneControlThread() override;
    OrvaneControlThread(const OrvaneControlThread&) = delete;
    OrvaneControlThread& operator=(const OrvaneControlThread&) = delete;

    // Checks the timers and subscribes; the events are the adapter's.
    bool initThread(wyr::windows::system::threading::ThreadContext* context) override;
    // Waits for the timers too.
    std::uint32_t run() override;

    // Any thread: each posts its message and sets _alert; 0 or the posting error.
    ErrorCode interrogatePort(std::int32_t port, std::int32_t scanArg);
    ErrorCode connect(std::int32_t port);
    ErrorCode disconnect(const DisconnectType& reason, std::uint32_t code);

    // On the calling thread (any): arm (re-arm) or stop the watchdog and the
    // keep-awake tick. 0 or the last error met.
    ErrorCode startWatchDog();
    ErrorCode stopWatchDog();
    bool watchDogEnabled() const noexcept { return _watchdogEnabled.load(); }

    // The subscriber to the device notifications (user-interface thread).
    void orvaneCallback(const tagNMORVANEHDR* header);

private:
    void watchDogTick();
    void subscribe();

    OrvaneImpl& _device;
    // Made with the worker and kept for its life: any thread may arm the timers,
    // whether or not the thread runs.
    std::unique_ptr<wyr::windows::system::WaitableTimer> _watchdog_timer;
    std::unique_ptr<wyr::windows::system::WaitableTimer> _pwm_timer;

    // Guards the subscription and the watchdog's compare-and-store against a
    // re-arm from another thread.
    mutable std::mutex _watchdogLock;
    boost::signals2::connection _subscription;
    std::atomic<bool> _watchdogEnabled{false};
    std::atomic<std::uint64_t> _lastHeartbeatId{0};
};

} // namespace device
