#include "bootloader/BootloaderThread.h"

#include "bootloader/BootloaderImpl.h"
#include "wyr/windows/system/RegisteredMessage.h"

#include <memory>

namespace bootloader {

using wyr::windows::system::LPARAM;
using wyr::windows::system::registerMessage;
using wyr::windows::system::WPARAM;

const BootloaderThread::MessageId BootloaderThread::TM_BL_ENTER_BOOTLOAD_MODE =
    registerMessage("TM_BL_ENTER_BOOTLOAD_MODE-{8CA9AA68-57E7-4255-8A95-A47A425635E0}");
const BootloaderThread::MessageId BootloaderThread::TM_BL_CANCEL_BOOTLOAD_MODE =
    registerMessage("TM_BL_CANCEL_BOOTLOAD_MODE-{8CA9AA68-57E7-4255-8A95-A47A425635E0}");
const BootloaderThread::MessageId BootloaderThread::TM_BL_GET_TARGET_INFO =
    registerMessage("TM_BL_GET_TARGET_INFO-{7BCD65E3-6DF0-4393-9199-8263AA8361F0}");
const BootloaderThread::MessageId BootloaderThread::TM_BL_LOAD_FILE =
    registerMessage("TM_BL_LOAD_FILE-{738CCF58-84C1-400E-8E9A-3B066CA327E6}");
const BootloaderThread::MessageId BootloaderThread::TM_BL_ERASE_TARGET =
    registerMessage("TM_BL_ERASE_TARGET-{02A640A5-11F7-4E5D-B6BF-7A302D15A97E}");
const BootloaderThread::MessageId BootloaderThread::TM_BL_WRITE_TARGET =
    registerMessage("TM_BL_WRITE_TARGET-{40DB1BA9-E782-404C-8DBE-24747C3917CB}");
const BootloaderThread::MessageId BootloaderThread::TM_BL_RESET_TARGET =
    registerMessage("TM_BL_RESET_TARGET-{292D272B-703A-491D-A239-95ACE9C5E93C}");

namespace {

std::wstring* pathOf(LPARAM lParam) {
    return reinterpret_cast<std::wstring*>(lParam);
}

} // namespace

BootloaderThread::BootloaderThread(BootloaderImpl& impl)
    : MessageThreadAdapter("bootloader::BootloaderThread"), _impl(impl) {
    addHandler(TM_BL_ENTER_BOOTLOAD_MODE, [this](WPARAM, LPARAM) { _impl._enterBootloadMode(); });
    addHandler(TM_BL_CANCEL_BOOTLOAD_MODE, [this](WPARAM, LPARAM) { _impl._cancelBootloadMode(); });
    addHandler(TM_BL_GET_TARGET_INFO, [this](WPARAM, LPARAM) { _impl._getTargetInfo(); });
    addHandler(
        TM_BL_LOAD_FILE,
        [this](WPARAM, LPARAM path) {
            if (path != 0) {
                _impl._loadFile(*pathOf(path));
            }
        },
        [](WPARAM, LPARAM path) { delete pathOf(path); });
    addHandler(TM_BL_ERASE_TARGET, [this](WPARAM, LPARAM) { _impl._eraseTarget(); });
    addHandler(TM_BL_WRITE_TARGET, [this](WPARAM, LPARAM) { _impl._writeTarget(); });
    addHandler(TM_BL_RESET_TARGET, [this](WPARAM, LPARAM) { _impl._resetTarget(); });
}

BootloaderThread::~BootloaderThread() = default;

bool BootloaderThread::initThread(wyr::windows::system::threading::ThreadContext* context) {
    if (!MessageThreadAdapter::initThread(context)) {
        return false;
    }
    _impl.setAbortEvent(terminate());
    return true;
}

BootloaderThread::ErrorCode BootloaderThread::enterBootloadMode() {
    return notify(TM_BL_ENTER_BOOTLOAD_MODE, 0);
}

BootloaderThread::ErrorCode BootloaderThread::cancelBootloadMode() {
    return notify(TM_BL_CANCEL_BOOTLOAD_MODE, 0);
}

BootloaderThread::ErrorCode BootloaderThread::getTargetInfo() {
    return notify(TM_BL_GET_TARGET_INFO, 0);
}

BootloaderThread::ErrorCode BootloaderThread::loadFile(const std::wstring& path) {
    auto copy = std::make_unique<std::wstring>(path);
    const ErrorCode error = notify(TM_BL_LOAD_FILE, reinterpret_cast<LPARAM>(copy.get()));
    if (error == wyr::windows::system::ERROR_SUCCESS) {
        static_cast<void>(copy.release()); // the thread frees it
    }
    return error;
}

BootloaderThread::ErrorCode BootloaderThread::eraseTarget() {
    return notify(TM_BL_ERASE_TARGET, 0);
}

BootloaderThread::ErrorCode BootloaderThread::writeTarget() {
    return notify(TM_BL_WRITE_TARGET, 0);
}

BootloaderThread::ErrorCode BootloaderThread::resetTarget() {
    return notify(TM_BL_RESET_TARGET, 0);
}

} // namespace bootloader
