#include "device/OrvaneControlThread.h"

#include "device/OrvaneConfigKey.h"
#include "device/OrvaneImpl.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/RegisteredMessage.h"
#include "wyr/windows/system/Wait.h"
#include "wyr/windows/system/threading/IThread.h"
#include "wyr/windows/system/threading/ThreadContext.h"

#include <algorithm>
#include <chrono>

namespace device {

using namespace wyr::windows::system;
using threading::ThreadState;
using wyr::windows::logging::log;
using wyr::windows::logging::logSystemError;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::logging::trace;

const MessageId OrvaneControlThread::TM_ORVANE_INTERROGATE_PORT =
    registerMessage("TM_ORVANE_INTERROGATE_PORT-{9B033606-6E39-4D3F-89C5-86F8D08E5A9E}");
const MessageId OrvaneControlThread::TM_ORVANE_CONNECT =
    registerMessage("TM_ORVANE_CONNECT-{E000E967-6A0F-4A0E-A6B4-C72E9FE9A677}");
const MessageId OrvaneControlThread::TM_ORVANE_DISCONNECT =
    registerMessage("TM_ORVANE_DISCONNECT-{F1A2904C-C590-41D3-AB62-E67F4EB9E883}");

namespace {

constexpr std::uint32_t ES_SYSTEM_REQUIRED = 0x00000001;
constexpr std::uint32_t ES_DISPLAY_REQUIRED = 0x00000002;
constexpr std::uint32_t ES_CONTINUOUS = 0x80000000;
constexpr std::uint32_t kKeepAwake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED;

// Keeping the computer and its display awake while the link is up. Linux has no
// per-thread request of this kind: sleep follows the desktop's idle policy, and
// the one system-wide means, a systemd-logind inhibitor lock, would bring in a
// D-Bus connection for nothing else. So the request is accepted and does nothing;
// the ticks that renew it and their logging stay as they are.
bool setThreadExecutionState(std::uint32_t flags) noexcept {
    static_cast<void>(flags);
    return true;
}

void keepAwake(std::uint32_t flags, const char* context, ErrorCode& lastError) {
    if (!setThreadExecutionState(flags)) {
        const ErrorCode error = getLastError();
        log(LogVerbosity::Error, context, L"::SetThreadExecutionState failed [%d]", error);
        logSystemError(error, context);
        lastError = error;
    }
}

} // namespace

OrvaneControlThread::OrvaneControlThread(OrvaneImpl& device)
    : MessageThreadAdapter("OrvaneControlThread"), _device(device),
      _watchdog_timer(std::make_unique<WaitableTimer>(WaitableTimer::Reset::Auto)),
      _pwm_timer(std::make_unique<WaitableTimer>(WaitableTimer::Reset::Auto)) {
    static constexpr const char* kPump = "OrvaneControlThread::pumpMessage";
    addHandler(
        TM_ORVANE_INTERROGATE_PORT,
        [this](WPARAM wParam, LPARAM lParam) {
            // The pause before a probe; a shutdown does not sit it out.
            if (waitForSingle(*terminateEvent(), kInterrogatePauseMs) == WAIT_OBJECT_0) {
                endPump();
                return;
            }
            const auto port = static_cast<std::int32_t>(wParam);
            log(LogVerbosity::DebugLevel3, kPump, L"Received TM_ORVANE_INTERROGATE_PORT, port number [%d].",
                port);
            _device.onInterrogatePort(port, static_cast<std::int32_t>(lParam));
        },
        {}, Receipt::OwnText);
    addHandler(
        TM_ORVANE_CONNECT,
        [this](WPARAM wParam, LPARAM) {
            const auto port = static_cast<std::int32_t>(wParam);
            log(LogVerbosity::DebugLevel3, kPump, L"Received TM_ORVANE_CONNECT, port number [%d].", port);
            _device.onConnect(port);
        },
        {}, Receipt::OwnText);
    addHandler(
        TM_ORVANE_DISCONNECT,
        [this](WPARAM wParam, LPARAM lParam) {
            log(LogVerbosity::DebugLevel3, kPump, L"Received TM_ORVANE_DISCONNECT.");
            const auto* reason = reinterpret_cast<const DisconnectType*>(lParam);
            _device.onDisconnect(reason != nullptr ? *reason : DisconnectType::Abnormal,
                                 static_cast<std::uint32_t>(wParam));
        },
        {}, Receipt::OwnText);
}

OrvaneControlThread::~OrvaneControlThread() {
    std::lock_guard guard(_watchdogLock);
    _subscription.disconnect();
}

bool OrvaneControlThread::initThread(threading::ThreadContext* context) {
    static constexpr const char* kContext = "OrvaneControlThread::initThread";
    if (!MessageThreadAdapter::initThread(context)) {
        return false;
    }
    if (!_watchdog_timer->valid() || !_pwm_timer->valid()) {
        const ErrorCode error = getLastError();
        log(LogVerbosity::Error, kContext, L"::CreateWaitableTimer() failed [%d].", error);
        setLastError(error);
        return false;
    }
    std::lock_guard guard(_watchdogLock);
    subscribe();
    return true;
}

void OrvaneControlThread::subscribe() {
    // A restarted thread replaces its earlier subscription rather than adding one.
    _subscription.disconnect();
    _subscription = _device.subscribe([this](const tagNMORVANEHDR* header) { orvaneCallback(header); });
}

ErrorCode OrvaneControlThread::interrogatePort(std::int32_t port, std::int32_t scanArg) {
    trace("OrvaneControlThread::interrogatePort");
    return notify(TM_ORVANE_INTERROGATE_PORT, static_cast<WPARAM>(port), static_cast<LPARAM>(scanArg));
}

ErrorCode OrvaneControlThread::connect(std::int32_t port) {
    trace("OrvaneControlThread::connect");
    return notify(TM_ORVANE_CONNECT, static_cast<WPARAM>(port), 0);
}

ErrorCode OrvaneControlThread::disconnect(const DisconnectType& reason, std::uint32_t code) {
    trace("OrvaneControlThread::disconnect");
    return notify(TM_ORVANE_DISCONNECT, static_cast<WPARAM>(code), reinterpret_cast<LPARAM>(&reason));
}

std::uint32_t OrvaneControlThread::run() {
    static constexpr const char* kContext = "OrvaneControlThread::run";
    trace(kContext);
    threading::IThread* worker = thread();
    for (;;) {
        worker->setState(ThreadState::Wait);
        log(LogVerbosity::DebugLevel4, kContext,
            L"::WaitForMultipleObjects() waiting for a message to quit or enable (Timeout = INFINITE).");
        const std::uint32_t result =
            waitForAny({terminateEvent(), alert(), _watchdog_timer.get(), _pwm_timer.get()}, INFINITE);
        worker->setState(ThreadState::Run);
        switch (result) {
        case WAIT_OBJECT_0:
            log(LogVerbosity::DebugLevel2, kContext,
                L"::WaitForMultipleObjects() became signaled via [_terminate], abandoning function call.");
            return 0;
        case WAIT_OBJECT_0 + 1:
            log(LogVerbosity::DebugLevel2, kContext,
                L"::WaitForMultipleObjects() became signaled via [_alert].");
            pumpMessage();
            break;
        case WAIT_OBJECT_0 + 2:
            log(LogVerbosity::DebugLevel2, kContext,
                L"::WaitForMultipleObjects() became signaled via [_watchdog_timer].");
            watchDogTick();
            break;
        case WAIT_OBJECT_0 + 3: {
            log(LogVerbosity::DebugLevel2, kContext,
                L"::WaitForMultipleObjects() became signaled via [_pwm_timer].");
            ErrorCode ignored = ERROR_SUCCESS;
            keepAwake(kKeepAwake, kContext, ignored);
            break;
        }
        default: {
            const ErrorCode error = getLastError();
            log(LogVerbosity::Error, kContext,
                L"::WaitForMultipleObjects() failed (WAIT_FAILED) [%d], abandoning function call.", error);
            logSystemError(error, kContext);
            return 0xFFFFFFFF;
        }
        }
    }
}

void OrvaneControlThread::watchDogTick() {
    static constexpr const char* kContext = "OrvaneControlThread::run";
    const std::uint64_t current = _device.lastHeartbeatId();
    bool timedOut = false;
    {
        std::lock_guard guard(_watchdogLock);
        // A tick taken just before a stop belongs to the stopped watchdog.
        if (!_watchdogEnabled.load()) {
            return;
        }
        timedOut = current == _lastHeartbeatId.load();
        if (!timedOut) {
            _lastHeartbeatId.store(current);
        }
    }
    if (timedOut) {
        log(LogVerbosity::Error, kContext, L"Watch Dog timeout!!!");
        _device.notify(new OrvaneWatchDogNotification());
    }
}

ErrorCode OrvaneControlThread::startWatchDog() {
    static constexpr const char* kContext = "OrvaneControlThread::startWatchDog";
    trace(kContext);
    ErrorCode lastError = ERROR_SUCCESS;
    std::lock_guard guard(_watchdogLock);
    if (!_subscription.connected()) {
        subscribe();
    }
    const std::int32_t seconds = std::max(1, _device.configInt(OrvaneConfigKey::WatchDogTimeout));
    const auto periodMs = static_cast<std::uint32_t>(seconds) * 1000U;
    const auto due = std::chrono::system_clock::now() + std::chrono::seconds(seconds);
    _lastHeartbeatId.store(0);

    const bool armed = _watchdog_timer->set(due, periodMs);
    _watchdogEnabled.store(armed);
    if (!armed) {
        lastError = getLastError();
        log(LogVerbosity::Error, kContext,
            L"Failed to set watch dog timer, ::SetWaitableTimer() failed [%d].", lastError);
        logSystemError(lastError, kContext);
    } else {
        log(LogVerbosity::DebugLevel4, kContext, L"Watch dog enabled.");
    }
    if (!_pwm_timer->set(due, kKeepAwakePeriodMs)) {
        lastError = getLastError();
        log(LogVerbosity::Error, kContext, L"Failed to set pwm timer, ::SetWaitableTimer() failed [%d].",
            lastError);
        logSystemError(lastError, kContext);
    } else {
        log(LogVerbosity::DebugLevel4, kContext, L"PWM timer enabled.");
    }
    keepAwake(kKeepAwake, kContext, lastError);
    return lastError;
}

ErrorCode OrvaneControlThread::stopWatchDog() {
    static constexpr const char* kContext = "OrvaneControlThread::stopWatchDog";
    trace(kContext);
    ErrorCode lastError = ERROR_SUCCESS;
    std::lock_guard guard(_watchdogLock);
    if (!_watchdog_timer->cancel()) {
        lastError = getLastError();
        log(LogVerbosity::Error, kContext, L"::CancelWaitableTimer(_watchdog_timer) failed [%d].", lastError);
        logSystemError(lastError, kContext);
    }
    _watchdogEnabled.store(false);
    if (!_pwm_timer->cancel()) {
        lastError = getLastError();
        log(LogVerbosity::Error, kContext, L"::CancelWaitableTimer(_pwm_timer) failed [%d].", lastError);
        logSystemError(lastError, kContext);
    }
    keepAwake(ES_CONTINUOUS, kContext, lastError);
    return lastError;
}

void OrvaneControlThread::orvaneCallback(const tagNMORVANEHDR* header) {
    static constexpr const char* kContext = "OrvaneControlThread::orvaneCallback";
    trace(kContext);
    if (header == nullptr || header->type == nullptr) {
        return;
    }
    log(LogVerbosity::DebugLevel4, kContext, L"OrvaneNotification - Message ID [%llu], type[%d][%ls]",
        static_cast<unsigned long long>(header->id), header->type->value(), header->type->name().c_str());
    if (const auto* connect = OrvaneNotification::as<OrvaneConnectNotification>(header)) {
        if (connect->result == ERROR_SUCCESS) {
            startWatchDog();
        }
    } else if (*header->type == OrvaneNotificationType::NotifyDisconnect) {
        stopWatchDog();
    }
}

} // namespace device
