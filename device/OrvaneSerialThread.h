#pragma once

#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/Message.h"
#include "wyr/windows/system/Mutex.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/threading/MessageThreadAdapter.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace wyr::windows::communication {
class Serial;
}
namespace device {

class OrvaneInterface;

// The worker that owns the traffic on the open port while the link is up. Disabled,
// it sleeps; enabled, it blocks in the port's comm-event wait, hands what arrives to
// its read handler (the sentence parser) and writes the sentences other threads
// queue, one at a time, through the pre-write and write-complete handlers. The
// heartbeats' ACKs wait here for their due time: the comm-event wait ends when the
// earliest is due and the device interface writes it. When the port fails it
// reports an "Abnormal" disconnection to the device interface.
//
// The start parameter of the thread is the device interface's Serial object.
class OrvaneSerialThread : public wyr::windows::system::threading::MessageThreadAdapter {
public:
    using Event = wyr::windows::system::Event;
    using ErrorCode = wyr::windows::system::ErrorCode;
    using MessageId = wyr::windows::system::MessageId;

    // (terminate, bytes, length, consumed) -> 0, ERROR_MORE_DATA, or a code that
    // steers the read buffer (13 purges the port's receive buffer too).
    using ReadHandler =
        std::function<ErrorCode(Event*, const std::uint8_t*, const std::uint32_t&, std::uint32_t*)>;
    // (terminate, bytes, consumed), after each successful read-handler call.
    using AfterReadHandler = std::function<std::int32_t(Event*, const std::uint8_t*, const std::uint32_t&)>;
    // (terminate, bytes, length) -> the number of bytes to write, -1 for nothing.
    using PreWriteHandler = std::function<std::int32_t(Event*, const std::uint8_t*, const std::uint32_t&)>;
    // (terminate, bytes, length, write result, write timeout).
    using WriteCompleteHandler = std::function<void(Event*, const std::uint8_t*, const std::int32_t&,
                                                    const ErrorCode&, const std::uint32_t&)>;

    // wParam: a heap std::shared_ptr<Event> to signal when done, or 0. The thread
    // frees it, also when the message is never handled.
    static const MessageId TM_ORVANE_ENABLE_SERIAL_THREAD;
    static const MessageId TM_ORVANE_DISABLE_SERIAL_THREAD;

    static constexpr std::uint32_t kEnableWaitMs = 100;
    static constexpr std::uint32_t kDisableWaitMs = 500;
    static constexpr std::uint32_t kDisableSettleMs = 100;
    // The result of a wait woken by _alert.
    static constexpr ErrorCode kAlerted = 711;

    explicit OrvaneSerialThread(OrvaneInterface& device);
    ~OrvaneSerialThread() override;
    OrvaneSerialThread(const OrvaneSerialThread&) = delete;
    OrvaneSerialThread& operator=(const OrvaneSerialThread&) = delete;

    bool initThread(wyr::windows::system::threading::ThreadContext* context) override;
    void exitThread() override;
    // Also wakes a comm-event wait, which watches _alert.
    void notifyShutdown() override;
    std::uint32_t run() override;
    // On the caller's thread: ask the thread to enable (disable) itself and wait
    // for `done` (100 ms, 500 ms). The wait's result; disable logs a miss against
    // `port`. Without an event, disable sleeps the 500 ms instead.
    std::uint32_t enable(const std::shared_ptr<Event>& done);
    std::uint32_t disable(const std::shared_ptr<Event>& done, std::int32_t port);

    // Any thread: copies the bytes into the outgoing queue. False while disabled.
    bool queueData(const std::uint8_t* data, std::uint32_t length, std::uint32_t writeTimeoutMs);

    // Serial thread only (the read handler's sink calls it): has the device
    // interface's acknowledge() called once `due` has come. Reading goes on in the
    // meantime; queued sentences wait, so none overtakes the ACK. Dropped by
    // enable, disable, a port failure and the thread's end.
    void acknowledgeAt(std::chrono::steady_clock::time_point due);

    // The read handlers are set before the thread starts and used only by it.
    void setReadHandlers(ReadHandler read, AfterReadHandler afterRead);
    // Any thread; the next write uses the new pair.
    void setWriteHandlers(PreWriteHandler preWrite, WriteCompleteHandler writeComplete);

    // Whether the thread has handled an enable and no disable since.
    bool enabled() const noexcept { return _enabled.load(); }

private:
    struct QueueItem {
        std::vector<std::uint8_t> bytes;
        std::uint32_t writeTimeoutMs;
    };

    std::uint32_t wait();
    void onEnable();
    void onDisable();
    ErrorCode checkPort();
    // Writes the ACKs whose time has come; the time left until the next one
    // (INFINITE when none waits).
    std::uint32_t acknowledgeDue();
    void dropPendingAcks();
    void processData(std::uint32_t mask);
    ErrorCode lockQueue();
    ErrorCode processQueue();

    OrvaneInterface& _device;
    wyr::windows::communication::Serial* _port = nullptr;
    std::uint32_t _waitTimeout;
    std::vector<std::uint8_t> _readBuffer;
    // Due times of the ACKs still to write, earliest first, and whether queued
    // sentences wait behind them; serial thread only.
    std::deque<std::chrono::steady_clock::time_point> _pendingAcks;
    bool _queueHeld = false;
    std::unique_ptr<wyr::windows::system::Mutex> _message_queue_lock;
    // Created, destroyed and tested only under _message_queue_lock, so a queueData
    // racing a disable either queues before the queue goes or finds none.
    std::unique_ptr<std::deque<QueueItem>> _queue;
    std::atomic<bool> _enabled{false};

    ReadHandler _readHandler;
    AfterReadHandler _afterReadHandler;
    mutable std::mutex _handlerLock;
    PreWriteHandler _preWriteHandler;
    WriteCompleteHandler _writeCompleteHandler;
};

} // namespace device
