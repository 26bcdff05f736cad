#include "wyr/windows/logging/ui/LogConsoleWndListener.h"

namespace wyr::windows::logging {

LogConsoleWndListener::LogConsoleWndListener(std::size_t capacity) : _capacity(capacity) {}

LogConsoleWndListener::~LogConsoleWndListener() = default;

void LogConsoleWndListener::onLogMessage(const LogVerbosity& verbosity, system::SYSTEMTIME time,
                                         const wchar_t* context, const wchar_t* message) {
    if (!passes(verbosity) || _capacity == 0) {
        return;
    }
    std::wstring line = formatLine(verbosity, time, context, message);
    if (!line.empty() && line.back() == L'\n') {
        line.pop_back();
    }
    if (_pending.size() == _capacity) {
        _pending.pop_front();
    }
    _pending.push_back(Line{std::move(line), attributeFor(verbosity)});
    if (_pending.size() == 1 && _batchStarted) {
        _batchStarted();
    }
}

std::deque<LogConsoleWndListener::Line> LogConsoleWndListener::take() {
    std::deque<Line> lines;
    lines.swap(_pending);
    return lines;
}

} // namespace wyr::windows::logging
