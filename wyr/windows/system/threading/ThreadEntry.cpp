#include "wyr/windows/system/threading/ThreadEntry.h"

#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/Wait.h"
#include "wyr/windows/system/threading/IBasicThreadAdapter.h"
#include "wyr/windows/system/threading/IThread.h"
#include "wyr/windows/system/threading/ThreadStartup.h"

namespace wyr::windows::system::threading {

using logging::log;
using logging::LogVerbosity;
using logging::trace;

namespace {
constexpr const char* kContext = "wyr::windows::system::threading::ThreadEntry";
}

std::uint32_t ThreadEntry(ThreadStartup* startup) {
    trace(kContext);

    // The record belongs to create's stack frame: take what is needed now.
    IThread* const thread = startup->thread;
    IBasicThreadAdapter* const worker = startup->worker;
    const std::shared_ptr<Event> initComplete = startup->init_complete;
    std::shared_ptr<Event> resume = startup->resume;

    if (!worker->initThread(startup->context)) {
        // create wakes on the thread's end and then reads the flag.
        startup->init_failed = true;
        const ErrorCode error = getLastError();
        worker->exitThread();
        thread->setState(ThreadState::Stopped);
        const std::uint32_t code = error == ERROR_SUCCESS ? 0xFFFFFFFF : error;
        thread->setExitCode(code);
        return code;
    }

    if (!initComplete->set()) {
        const ErrorCode error = getLastError();
        log(LogVerbosity::Error, kContext, L"::SetEvent(startup->init_complete) failed [%d].", error);
        logging::logSystemError(error, kContext);
    }

    thread->setState(ThreadState::Wait);
    waitForSingle(*resume, INFINITE);
    resume.reset();
    thread->setState(ThreadState::Run);

    const std::uint32_t code = worker->run();
    worker->exitThread();
    thread->setExitCode(code);
    thread->reset();
    return code;
}

} // namespace wyr::windows::system::threading
