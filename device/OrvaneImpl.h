#pragma once

#include "device/IOrvaneSink.h"
#include "device/OrvaneBroadcastWnd.h"
#include "device/OrvaneControlThread.h"
#include "device/OrvaneInterface.h"
#include "device/OrvaneParser.h"
#include "device/OrvaneSerialThread.h"
#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/communication/Serial.h"
#include "wyr/windows/config/ConfigValue.h"
#include "wyr/windows/system/CurrentThread.h"
#include "wyr/windows/system/Message.h"
#include "wyr/windows/system/threading/ThreadImpl.h"

#include <atomic>
#include <boost/signals2/connection.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace device {

class OrvaneMessage;

// The device link behind OrvaneInterface: the port, the serial and control worker
// threads, the parser, the broadcast window, the configuration keys, the one
// pending command with its acknowledgement timer, the latest device state and the
// notification id counter.
//
// Threads: the public operations, the acknowledgement timer and the subscribers
// belong to the user-interface thread (the one that constructs the object);
// onInterrogatePort, onConnect, onDisconnect, halt and open run on the control
// thread; acknowledge, acknowledgeAt, preWrite and the parser's notify calls on the
// serial thread.
class OrvaneImpl : public OrvaneInterface, public IOrvaneSink, private wyr::memory::NonCopyable {
public:
    using ErrorCode = wyr::windows::system::ErrorCode;

    static constexpr std::uint32_t kResetWriteWaitMs = 500;
    static constexpr std::uint32_t kInterrogateWriteTimeoutMs = 500;
    static constexpr std::uint32_t kInterrogateWriteWaitMs = 501;
    static constexpr std::uint32_t kScanPortPauseMs = 750;
    static constexpr std::uint32_t kFirstHeartbeatWaitMs = 5000;
    static constexpr std::uint32_t kThreadShutdownMs = 2000;

    // OrvaneInterface
    void registerConfiguration() override;
    int validateConfiguration() override;
    void setDefaultConfiguration(const int& group) override;
    ErrorCode initialize() override;
    void finalize() override;
    boost::signals2::connection subscribe(const Callback& callback) override;
    void unsubscribeAll() override;
    ErrorCode interrogatePort(std::int32_t port, std::int32_t scanArg) override;
    ErrorCode connect(std::int32_t port) override;
    ErrorCode disconnect(const DisconnectType& type, const std::uint32_t& reason) override;
    ErrorCode start() override;
    ErrorCode stop() override;
    ErrorCode setFrameRate(const std::uint32_t& rate) override;
    ErrorCode setGain(const std::uint32_t& gain) override;
    ErrorCode resetDevice() override;
    ErrorCode enterBootloader(wyr::windows::communication::PortHandle& portOut) override;
    ErrorCode acknowledge() override;
    // Also the parser's sink (IOrvaneSink), with acknowledgeAt.
    ErrorCode notify(OrvaneNotification* record) override;
    const std::wstring& name() const override;
    std::int32_t portNumber() const override;
    bool isOpen() const override;
    OrvaneDeviceState deviceState() const override;

    // Control thread: the work behind interrogatePort, connect and disconnect,
    // reported through notifications only.
    void onInterrogatePort(std::int32_t port, std::int32_t scanArg);
    void onConnect(std::int32_t port);
    void onDisconnect(const DisconnectType& type, std::uint32_t reason);

    // Serial thread (the parser's heartbeat answer): hands the ACK to the serial
    // thread, which calls acknowledge when `due` has come.
    ErrorCode acknowledgeAt(std::chrono::steady_clock::time_point due) override;

    // The id of the last NotifyHeartbeat passed on (0 before the first); any thread.
    std::uint64_t lastHeartbeatId() const noexcept { return _lastHeartbeatId.load(); }

    // The serial thread's hook before every queued write: logs the bytes and
    // returns how many to write.
    std::int32_t preWrite(wyr::windows::system::Event* terminate, const std::uint8_t* bytes,
                          const std::uint32_t& count);

    // User-interface thread: sends a composed command and supervises it. 0, or
    // ERROR_OPERATION_IN_PROGRESS (329) while another command is pending.
    ErrorCode queueCommand(const OrvaneMessage& command, const std::vector<std::uint8_t>& bytes);
    // The acknowledgement timer's callback (user-interface thread).
    void onCommandTimeout(wyr::windows::system::TimerId timerId);
    bool commandPending() const override;

    // The configuration store's change callback; changes take effect when the
    // next operation reads the key.
    void onConfigChange(const std::wstring& key, const wyr::windows::config::ConfigValue& value);

    // A key's value from the configuration store; its default when it is missing
    // or not an integer.
    std::int32_t configInt(const OrvaneConfigKey& key) const;

    OrvaneControlThread& controlThread() noexcept { return _controlThread.object(); }
    OrvaneSerialThread& serialThread() noexcept { return _serialThread.object(); }

protected:
    // On the user-interface thread, which then owns the broadcast window.
    explicit OrvaneImpl(std::wstring name);
    // Stops the worker threads if the owner did not.
    ~OrvaneImpl();

private:
    struct PendingCommand {
        const OrvaneMessage* command;
        std::vector<std::uint8_t> bytes;
    };

    ErrorCode initWorkerThreads();
    ErrorCode createThread(wyr::windows::system::threading::IThread& thread, const std::wstring& suffix,
                           void* parameter);
    void halt();
    ErrorCode open(std::int32_t port);
    void closePort();
    // Disables the serial thread, closes the port and stops the watchdog: the link
    // goes idle after a failed probe or connection.
    void abandonPort(std::int32_t port);
    // Writes a command outside the pending-command supervision and waits for it to
    // leave the port (resetDevice, enterBootloader).
    ErrorCode writeAndWait(const OrvaneMessage& command,
                           const std::shared_ptr<wyr::windows::system::Event>& done, const char* context);
    // The probe of onInterrogatePort: 0 when the device answered INTERROGATE.
    ErrorCode probe(std::int32_t port);
    void settleCommand();
    // The write hooks: preWrite before every write, and `onComplete` after it.
    void setWriteComplete(OrvaneSerialThread::WriteCompleteHandler onComplete);
    void restoreWriteHandlers();
    // An event, or null with the failure logged (`named`: with its own line
    // before the system text) and kept as the last error.
    static std::shared_ptr<wyr::windows::system::Event> newEvent(wyr::windows::system::Event::Reset reset,
                                                                 const char* context, bool named = false);
    // Waits for `object` or the control thread's shutdown; WAIT_OBJECT_0 +1 means
    // the shutdown.
    std::uint32_t waitOrShutdown(wyr::windows::system::WaitableObject& object, std::uint32_t timeoutMs);

    const std::wstring _name;
    const wyr::windows::system::ThreadId _uiThread;
    // Held by this object alone; timer callbacks keep a weak reference to it.
    std::shared_ptr<OrvaneImpl*> _lifetime;
    OrvaneBroadcastWnd _broadcast;
    OrvaneParser _parser;

    // Opened and closed on the control thread while the serial thread is disabled;
    // the lock keeps isOpen on other threads from reading it mid-change.
    wyr::windows::communication::Serial _serial;
    mutable std::mutex _portLock;
    std::atomic<std::int32_t> _portNumber{0};

    // The pending command and its timer: set and the timer started or killed on
    // the user-interface thread, settled from any thread. A timer whose command
    // was settled on another thread is killed at its first expiry, or when the
    // next command replaces it.
    mutable std::mutex _commandLock;
    std::unique_ptr<PendingCommand> _pending;
    wyr::windows::system::TimerId _ackTimer = 0;

    mutable std::mutex _stateLock;
    OrvaneDeviceState _deviceState;

    std::atomic<std::uint64_t> _messageId{1};
    std::atomic<std::uint64_t> _lastHeartbeatId{0};

    wyr::windows::system::threading::ThreadImpl<OrvaneControlThread> _controlThread;
    wyr::windows::system::threading::ThreadImpl<OrvaneSerialThread> _serialThread;

    boost::signals2::connection _configConnection;
};

} // namespace device
