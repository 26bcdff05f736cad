#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/logging/LogNotificationWnd.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace wyr::windows::logging {

// The process-wide entry of the logging core. Created on first use by the thread
// that will run the user-interface loop, which then owns its notification window.
// It keeps the union of its listeners' masks, so that a message nobody accepts is
// dropped before it is formatted.
class LogBeacon : private memory::NonCopyable {
public:
    using Slot = LogNotificationWnd::Signal::slot_type;

    static LogBeacon& instance();
    // The beacon if it was created, else null; never creates it.
    static LogBeacon* existing() noexcept { return s_instance.load(std::memory_order_acquire); }

    virtual ~LogBeacon();

    // A slot with the mask it accepts (0xFFFF: everything).
    boost::signals2::connection connect(const Slot& slot, std::uint16_t mask = 0xFFFF);
    void disconnect(boost::signals2::connection& connection);
    void setMask(const boost::signals2::connection& connection, std::uint16_t mask);

    bool accepts(const LogVerbosity& verbosity) const noexcept {
        return (_acceptedMask.load(std::memory_order_relaxed) & verbosity.mask()) != 0;
    }

    // Builds a record and posts it to the notification window; any thread.
    void write(const LogVerbosity& verbosity, const char* context, const wchar_t* message);

    // Delivers every log record still queued for the window; user-interface thread.
    void flush();

    LogNotificationWnd& notificationWindow() noexcept { return _window; }

private:
    LogBeacon() = default;
    void recomputeMaskLocked();

    struct Entry {
        boost::signals2::connection connection;
        std::uint16_t mask;
    };

    static std::atomic<LogBeacon*> s_instance;

    LogNotificationWnd _window;
    mutable std::mutex _entriesLock;
    std::vector<Entry> _entries;
    std::atomic<std::uint16_t> _acceptedMask{0};
};

} // namespace wyr::windows::logging
