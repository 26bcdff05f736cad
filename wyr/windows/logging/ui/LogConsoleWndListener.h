#pragma once

#include "wyr/windows/logging/output/LogConsoleListener.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace wyr::windows::logging {

// The console listener of the console window: it filters and formats each
// message as the terminal listener does (its line and its text attribute) but
// keeps the lines for the window, which takes them in batches. It holds at most
// `capacity` lines; older ones give way, as the window would drop them anyway.
// Connect it with connect(); it has no terminal of its own.
class LogConsoleWndListener : public LogConsoleListener {
public:
    struct Line {
        std::wstring text; // without the line feed
        std::uint16_t attribute;
    };

    explicit LogConsoleWndListener(std::size_t capacity);
    ~LogConsoleWndListener() override;

    void onLogMessage(const LogVerbosity& verbosity, system::SYSTEMTIME time, const wchar_t* context,
                      const wchar_t* message) override;

    // Called when a line arrives while none waits: the start of a batch.
    void setBatchStarted(std::function<void()> callback) { _batchStarted = std::move(callback); }
    // The waiting lines, oldest first; none wait afterwards.
    std::deque<Line> take();
    std::size_t pending() const noexcept { return _pending.size(); }

private:
    // The terminal's; this listener writes to no terminal.
    using LogConsoleListener::open;

    std::size_t _capacity;
    std::deque<Line> _pending;
    std::function<void()> _batchStarted;
};

} // namespace wyr::windows::logging
