#pragma once

#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/Mutex.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/threading/IBasicThreadAdapter.h"
#include "wyr/windows/system/threading/IThread.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <ostream>
#include <string>

namespace wyr::windows::logging {

// The background log writer: the user-interface thread appends formatted lines,
// this thread writes them to the log file's stream and flushes once per batch.
// The queue is guarded by the process-wide mutex "message queue mutex", and the
// stream is written only while it is held, whichever thread writes. The stop
// event interrupts every wait for the mutex.
//
// The events, the mutex and the stream stay with the object after the thread
// ended (a restart reuses them): the user-interface thread may still queue or
// drain then.
class LogFileWriteThread : public system::threading::IBasicThreadAdapter {
public:
    static constexpr const char* kQueueMutexName = "message queue mutex";

    LogFileWriteThread();
    ~LogFileWriteThread() override;

    // The context's parameter is the std::ostream to write to.
    bool initThread(system::threading::ThreadContext* context) override;
    void exitThread() override;
    void notifyShutdown() override;
    std::uint32_t run() override;

    // Appends one line; false when the queue could not be locked (stopping).
    bool queue(const std::string& line);
    // Writes up to `count` queued lines (0xFFFFFFFF: all) on the calling thread.
    // 0, 1223 when stopping, or the platform error of the wait.
    std::uint32_t drain(std::uint32_t count);
    // The number of queued lines; 0, 1223 or the platform error.
    std::uint32_t queueSize(std::size_t& count);

private:
    system::ErrorCode lockQueue();
    system::ErrorCode processQueue();
    void writeLocked(const std::string& line);

    system::threading::IThread* _thread = nullptr;
    std::ostream* _stream = nullptr;
    std::unique_ptr<system::Event> _stop;
    std::unique_ptr<system::Mutex> _queueLock;
    std::unique_ptr<system::Event> _data;
    std::deque<std::string> _queue;
};

} // namespace wyr::windows::logging
