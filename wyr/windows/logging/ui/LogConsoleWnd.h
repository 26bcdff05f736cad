#pragma once

#include "wyr/windows/logging/ui/LogConsoleWndListener.h"

#include <QTextCharFormat>
#include <QTimer>
#include <QWidget>
#include <map>

class QPlainTextEdit;

namespace wyr::windows::logging {

class ILogFilter;

// The log console of the window, "Orvane Console": the console listener's lines
// in its colours on black. The lines arrive one log record at a time but are
// appended in batches, at most every kBatchIntervalMs, and only the last
// kMaxLines are kept, so a console at mask 0xFFFF keeps up with a busy log.
//
// The user cannot close it (no close button; a close request is ignored); its
// owner destroys it. The main frame's "View Console" toggle:
//
//     _console = std::make_unique<LogConsoleWnd>(this); // a window of its own
//     _console->open();                                  // connects and shows
//     ...
//     LogFilterOptionsDlg filter(&_console->filter(), this);
//     ...
//     _console.reset();                                  // disconnects and goes
//
// Tests find the text view by objectName "consoleText".
class LogConsoleWnd : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaxLines = 10000;
    static constexpr int kBatchIntervalMs = 50;

    // With a parent the console is still a window of its own; it never keeps the
    // application running.
    explicit LogConsoleWnd(QWidget* parent = nullptr);
    ~LogConsoleWnd() override;

    // Connects the listener to the logging core (already connected counts as
    // success) and shows the window; false when the core refused.
    bool open();

    // The verbosity mask the console shows (0xFFFF at first).
    ILogFilter& filter() noexcept { return _listener; }
    LogConsoleWndListener& listener() noexcept { return _listener; }

    // Appends the waiting lines now instead of at the end of the batch interval.
    void flush();
    std::size_t pendingLines() const noexcept { return _listener.pending(); }
    // Lines shown (a message with line feeds counts as several).
    int lineCount() const;
    QPlainTextEdit& textView() const noexcept { return *_text; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    const QTextCharFormat& format(std::uint16_t attribute);

    LogConsoleWndListener _listener;
    QPlainTextEdit* _text = nullptr;
    QTimer _batch;
    bool _empty = true;
    std::map<std::uint16_t, QTextCharFormat> _formats;
};

} // namespace wyr::windows::logging
