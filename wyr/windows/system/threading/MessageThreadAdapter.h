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
class MessageThreadAdapter : public IBasicThreadAdapter {
public:
    using Handler = std::function<void(WPARAM, LPARAM)>;
    // Frees the heap object a message's argument carries.
    using Release = std::function<void(LPARAM)>;

    ~MessageThreadAdapter() override;

    // Any thread: posts the message to the worker thread (argument as lParam)
    // and sets _alert. 0, or the platform error, logged; a heap argument then
    // still belongs to the caller.
    ErrorCode notify(MessageId message, LPARAM argument);

    bool initThread(ThreadContext* context) override;
    void exitThread() override;
    void notifyShutdown() override;
    std::uint32_t run() override;

protected:
    // `className` names the worker in log contexts ("bootloader::BootloaderThread").
    explicit MessageThreadAdapter(std::string className);

    // Before the thread starts. A message with a release function hands its
    // argument to the worker: it is freed after the handler, or when the thread
    // ends before handling it.
    void addHandler(MessageId message, Handler handler, Release release = {});

    // Worker thread: handles and dispatches every waiting message.
    void pumpMessage();

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
    };

    // The message's registered name without its GUID ("TM_BL_LOAD_FILE").
    static std::string displayName(MessageId message);

    const std::string _className;
    std::atomic<IThread*> _thread{nullptr};
    void* _param = nullptr;
    // Kept for the worker's life: notify may set _alert while the thread ends.
    std::unique_ptr<Event> _alert;
    std::unique_ptr<Event> _terminate;
    std::map<MessageId, Entry> _handlers;
};

} // namespace wyr::windows::system::threading
