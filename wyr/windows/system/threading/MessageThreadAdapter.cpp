#include "wyr/windows/system/threading/MessageThreadAdapter.h"

#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/RegisteredMessage.h"
#include "wyr/windows/system/Wait.h"
#include "wyr/windows/system/threading/IThread.h"
#include "wyr/windows/system/threading/ThreadContext.h"

#include <cstdio>

namespace wyr::windows::system::threading {

using logging::log;
using logging::logSystemError;
using logging::LogVerbosity;
using logging::trace;

MessageThreadAdapter::MessageThreadAdapter(std::string className, Event::Reset alertReset)
    : _className(std::move(className)), _alertReset(alertReset),
      _alert(std::make_unique<Event>(alertReset, false)),
      _terminate(std::make_unique<Event>(Event::Reset::Manual, false)) {}

MessageThreadAdapter::~MessageThreadAdapter() = default;

std::string MessageThreadAdapter::context(const char* function) const {
    return _className + "::" + function;
}

void MessageThreadAdapter::addHandler(MessageId message, Handler handler, Release release, Receipt receipt) {
    _handlers[message] = Entry{std::move(handler), std::move(release), receipt};
}

std::string MessageThreadAdapter::displayName(MessageId message) {
    std::string name = registeredMessageName(message);
    if (const auto guid = name.find("-{"); guid != std::string::npos) {
        name.erase(guid);
    }
    if (name.empty()) {
        char number[16];
        std::snprintf(number, sizeof number, "0x%X", message);
        name = number;
    }
    return name;
}

ErrorCode MessageThreadAdapter::notify(MessageId message, LPARAM argument) {
    return notify(message, 0, argument);
}

ErrorCode MessageThreadAdapter::notify(MessageId message, WPARAM wParam, LPARAM lParam) {
    const std::string ctx = context("notify");
    trace(ctx.c_str());
    const IThread* owner = _thread.load();
    const ThreadId target = owner != nullptr ? owner->threadId() : 0;
    if (!postThreadMessage(target, message, wParam, lParam)) {
        const ErrorCode error = getLastError();
        log(LogVerbosity::Error, ctx.c_str(),
            L"::PostThreadMessage() failed to thread [0x%X] with result of [%d].", target, error);
        logSystemError(error, ctx.c_str());
        return error;
    }
    _alert->set();
    return ERROR_SUCCESS;
}

bool MessageThreadAdapter::eventCreationFailed(const char* function) {
    const ErrorCode error = getLastError();
    const std::string ctx = context(function);
    log(LogVerbosity::Error, ctx.c_str(), L"::CreateEvent() failed [%d].", error);
    logSystemError(error, ctx.c_str());
    setLastError(error);
    return false;
}

bool MessageThreadAdapter::initThread(ThreadContext* threadContext) {
    trace(context("initThread").c_str());
    _thread.store(threadContext->thread);
    _param = threadContext->param;

    // The events live as long as the worker; a restart only clears their signals.
    // One that could not be made with the object is made now, before any thread
    // can use it.
    const auto ensure = [](std::unique_ptr<Event>& event, Event::Reset reset) {
        if (!event->valid()) {
            auto made = std::make_unique<Event>(reset, false);
            if (!made->valid()) {
                return false;
            }
            event = std::move(made);
        }
        event->reset();
        return true;
    };
    if (!ensure(_alert, _alertReset) || !ensure(_terminate, Event::Reset::Manual)) {
        return eventCreationFailed("initThread");
    }
    if (!initEvents()) {
        return false;
    }

    // The queue must exist before create returns, or early posts would fail.
    Message message;
    peekMessage(message, 0, WM_USER, WM_USER, PM_NOREMOVE);
    return true;
}

void MessageThreadAdapter::exitThread() {
    trace(context("exitThread").c_str());
    exitEvents();
    // What was posted but never handled still owns its argument.
    Message message;
    while (peekMessage(message, 0, 0, 0, PM_REMOVE)) {
        const auto it = _handlers.find(message.message);
        if (it != _handlers.end() && it->second.release) {
            it->second.release(message.wParam, message.lParam);
        }
    }
}

void MessageThreadAdapter::notifyShutdown() {
    trace(context("notifyShutdown").c_str());
    _terminate->set();
}

std::uint32_t MessageThreadAdapter::run() {
    const std::string ctx = context("run");
    trace(ctx.c_str());
    for (;;) {
        thread()->setState(ThreadState::Wait);
        log(LogVerbosity::DebugLevel4, ctx.c_str(),
            L"::WaitForMultipleObjects() waiting for a message to quit or enable (Timeout = INFINITE).");
        const std::uint32_t result = waitForAny({_terminate.get(), _alert.get()}, INFINITE);
        if (result == WAIT_OBJECT_0) {
            log(LogVerbosity::DebugLevel2, ctx.c_str(),
                L"::WaitForMultipleObjects() became signaled via [_terminate], abandoning function call.");
            return 0;
        }
        if (result == WAIT_OBJECT_0 + 1) {
            log(LogVerbosity::DebugLevel2, ctx.c_str(),
                L"::WaitForMultipleObjects() became signaled via [_alert].");
            pumpMessage();
            continue;
        }
        const ErrorCode error = getLastError();
        log(LogVerbosity::Error, ctx.c_str(),
            L"::WaitForMultipleObjects() failed (WAIT_FAILED) [%d], abandoning function call.", error);
        logSystemError(error, ctx.c_str());
        return 0xFFFFFFFF;
    }
}

void MessageThreadAdapter::pumpMessage() {
    const std::string ctx = context("pumpMessage");
    trace(ctx.c_str());
    Message message;
    while (peekMessage(message, 0, 0, 0, PM_REMOVE)) {
        const auto it = _handlers.find(message.message);
        if (it != _handlers.end()) {
            if (it->second.receipt == Receipt::Logged) {
                log(LogVerbosity::DebugLevel3, ctx.c_str(), L"Received %s",
                    displayName(message.message).c_str());
            }
            if (it->second.handler) {
                it->second.handler(message.wParam, message.lParam);
            }
            if (it->second.release) {
                it->second.release(message.wParam, message.lParam);
            }
        }
        dispatchMessage(message);
        if (_endPump) {
            _endPump = false;
            // What is still waiting gets a wake-up of its own.
            Message next;
            if (peekMessage(next, 0, 0, 0, PM_NOREMOVE)) {
                _alert->set();
            }
            return;
        }
    }
}

} // namespace wyr::windows::system::threading
