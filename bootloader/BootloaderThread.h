#pragma once

#include "wyr/windows/system/Message.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/threading/MessageThreadAdapter.h"

#include <string>

namespace bootloader {

class BootloaderImpl;

// The worker on which every bootloader request runs, one at a time, in the order
// the requests were made: they arrive as thread messages followed by _alert, and
// the thread stops on _terminate. _terminate also cuts short every wait and pause
// of the exchange under way, so that a stop request is answered within one
// exchange.
class BootloaderThread : public wyr::windows::system::threading::MessageThreadAdapter {
public:
    using ErrorCode = wyr::windows::system::ErrorCode;
    using MessageId = wyr::windows::system::MessageId;

    // lParam 0, except TM_BL_LOAD_FILE: a heap std::wstring with the path, owned
    // by the thread once posted.
    static const MessageId TM_BL_ENTER_BOOTLOAD_MODE;
    static const MessageId TM_BL_CANCEL_BOOTLOAD_MODE;
    static const MessageId TM_BL_GET_TARGET_INFO;
    static const MessageId TM_BL_LOAD_FILE;
    static const MessageId TM_BL_ERASE_TARGET;
    static const MessageId TM_BL_WRITE_TARGET;
    static const MessageId TM_BL_RESET_TARGET;

    explicit BootloaderThread(BootloaderImpl& impl);
    ~BootloaderThread() override;
    BootloaderThread(const BootloaderThread&) = delete;
    BootloaderThread& operator=(const BootloaderThread&) = delete;

    // Hands _terminate to the exchanges before the first request can arrive.
    bool initThread(wyr::windows::system::threading::ThreadContext* context) override;

    // Any thread: each posts its request. 0 or the posting error (logged).
    ErrorCode enterBootloadMode();
    ErrorCode cancelBootloadMode();
    ErrorCode getTargetInfo();
    ErrorCode loadFile(const std::wstring& path);
    ErrorCode eraseTarget();
    ErrorCode writeTarget();
    ErrorCode resetTarget();

private:
    BootloaderImpl& _impl;
};

} // namespace bootloader
