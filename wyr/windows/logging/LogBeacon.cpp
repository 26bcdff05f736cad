#include "wyr/windows/logging/LogBeacon.h"

#include "wyr/windows/logging/LogRecord.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/TextConversion.h"

#include <algorithm>
#include <memory>

namespace wyr::windows::logging {

using namespace wyr::windows::system;

std::atomic<LogBeacon*> LogBeacon::s_instance{nullptr};

LogBeacon& LogBeacon::instance() {
    static std::mutex creation;
    if (LogBeacon* beacon = existing()) {
        return *beacon;
    }
    std::lock_guard guard(creation);
    if (LogBeacon* beacon = existing()) {
        return *beacon;
    }
    // Lives until the process ends: any thread may still log during exit.
    auto* beacon = new LogBeacon;
    s_instance.store(beacon, std::memory_order_release);
    return *beacon;
}

LogBeacon::~LogBeacon() {
    _window.destroyWindow();
}

boost::signals2::connection LogBeacon::connect(const Slot& slot, std::uint16_t mask) {
    auto connection = _window.signal().connect(slot);
    if (connection.connected()) {
        std::lock_guard guard(_entriesLock);
        _entries.push_back(Entry{connection, mask});
        recomputeMaskLocked();
    }
    return connection;
}

void LogBeacon::disconnect(boost::signals2::connection& connection) {
    connection.disconnect();
    std::lock_guard guard(_entriesLock);
    recomputeMaskLocked();
}

void LogBeacon::setMask(const boost::signals2::connection& connection, std::uint16_t mask) {
    std::lock_guard guard(_entriesLock);
    for (auto& entry : _entries) {
        if (entry.connection == connection) {
            entry.mask = mask;
        }
    }
    recomputeMaskLocked();
}

void LogBeacon::recomputeMaskLocked() {
    std::erase_if(_entries, [](const Entry& e) { return !e.connection.connected(); });
    std::uint16_t mask = 0;
    for (const auto& entry : _entries) {
        mask |= entry.mask;
    }
    // Slots connected to the signal directly, not through connect(), accept everything.
    if (_window.signal().num_slots() > _entries.size()) {
        mask = 0xFFFF;
    }
    _acceptedMask.store(mask, std::memory_order_relaxed);
}

void LogBeacon::write(const LogVerbosity& verbosity, const char* context, const wchar_t* message) {
    if (_window.signal().empty()) {
        return;
    }
    const LogVerbosity* registered = LogVerbosity::fromValue(verbosity.value());
    if (registered == nullptr) {
        return;
    }
    auto record = std::make_unique<LogRecord>();
    record->verbosity = registered;
    record->time = getLocalTime();
    record->context = context != nullptr ? toWide(context) : std::wstring();
    record->message = message != nullptr ? message : L"";
    _window.post(record.release());
}

void LogBeacon::flush() {
    Message message;
    const auto window = _window.window().handle();
    while (MessageWindow::isWindow(window) && peekMessage(message, window, 0, 0, PM_REMOVE)) {
        dispatchMessage(message);
    }
}

} // namespace wyr::windows::logging
