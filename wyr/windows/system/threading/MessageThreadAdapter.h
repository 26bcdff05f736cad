#pragma once

#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/Message.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/threading/IBasicThreadAdapter.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace wyr::windows::system::threading {

class IThread;

// The pattern shared by the message-driven workers: callers post a registered
// thread message and wake the worker through its _alert event; the worker stops
// on its _terminate event. A worker derives from this class, registers a handler
// per message id in its constructor, and adds its own events in initEvents. A
// worker with more to wait for overrides run and calls pumpMessage itself.
//
// _alert and _terminate are made with the object and live as long as it does:
// other threads may post, or wait on _terminate, whether or not the thread runs.
class MessageThreadAdapter : public IBasicThreadAdapter {
public:
    using Handler = std::function<void(WPARAM, LPARAM)>;
    // Frees the heap object a message's arguments carry.
    using Release = std::function<void(WPARAM, LPARAM)>;
    // Whether the pump logs "Received <message name>" before the handler, or the
    // handler words the receipt itself.
    enum class Receipt { Logged, OwnText };

    ~MessageThreadAdapter() override;

    // Any thread: posts the message to the worker thread and sets _alert. 0, or
    // the platform error, logged; a heap argument then still belongs to the caller.
    ErrorCode notify(MessageId message, LPARAM argument);
    ErrorCode notify(MessageId message, WPARAM wParam, LPARAM lParam);

    bool initThread(ThreadContext* context) override;
    void exitThread() override;
    void notifyShutdown() override;
    std::uint32_t run() override;

    // Signalled while the thread is asked to stop.
    Event* terminateEvent() const noexcept { return _terminate.get(); }

protected:
    // `className` names the worker in log contexts ("bootloader::BootloaderThread").
    explicit MessageThreadAdapter(std::string className, Event::Reset alertReset = Event::Reset::Auto);

    // Before the thread starts. A message with a release function hands its
    // arguments to the worker: they are freed after the handler, or when the
    // thread ends before handling it.
    void addHandler(MessageId message, Handler handler, Release release = {},
                    Receipt receipt = Receipt::Logged);

    // Worker thread: handles and dispatches every waiting message, or stops after
    // the handler that called endPump (sets _alert again when more are waiting).
    void pumpMessage();
    void endPump() noexcept { _endPump = true; }

    // Worker thread, from initThread: create further events (report failures
    // with eventCreationFailed). From exitThread: release them.
    virtual bool initEvents() { return true; }
    virtual void exitEvents() {}
    // Logs the failed event creation and keeps the last error as the reason.
    bool eventCreationFailed(const char* function);

    IThread* thread() const noexcept { return _thread.load(); }
    void* parameter() const noexcept { return _param; }
    Event* alert() const noexcept { return _alert.get(); }
    Event* terminate() const noexcept { return _terminate.get(); }
    // "<class name>::<function>"
    std::string context(const char* function) const;

private:
    struct Entry {
        Handler handler;
        Release release;
        Receipt receipt = Receipt::Logged;
    };

    // The message's registered name without its GUID ("TM_BL_LOAD_FILE").
    static std::string displayName(MessageId message);

    const std::string _className;
    std::atomic<IThread*> _thread{nullptr};
    void* _param = nullptr;
    const Event::Reset _alertReset;
    std::unique_ptr<Event> _alert;
    std::unique_ptr<Event> _terminate;
    std::map<MessageId, Entry> _handlers;
    bool _endPump = false;
};

} // namespace wyr::windows::system::threading
