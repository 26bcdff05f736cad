#pragma once

#include "device/OrvaneNotification.h"
#include "wyr/windows/logging/LogListener.h"
#include "wyr/windows/logging/TLogFilter.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/SystemTime.h"

#include <QColor>
#include <QPlainTextEdit>
#include <boost/signals2/connection.hpp>
#include <cstdint>

namespace device {
class OrvaneInterface;
}

namespace app {

// The history pane of the main view: a read-only, time-stamped list on black of
// what the program did. It shows every log message of the verbosities in mask(),
// from any part of the program, and turns device notifications into plain
// messages at the App Specific verbosities, which it logs (so they reach every
// log output) and then receives like any other message.
//
// While the pane has the keyboard focus new lines are appended but the view
// stays where the user put it; otherwise it follows the last line.
class HistoryWnd : public QPlainTextEdit {
    Q_OBJECT

public:
    // Older lines give way beyond this: the watchdog alone adds a line every
    // watchdog period while a device is silent, and a pane left open for a week
    // must not grow without bound. Ten thousand lines are hours of a busy
    // history and about a megabyte of text.
    static constexpr int kMaxLines = 10000;
    // Warning, Error and App Specific 1 to 4.
    static std::uint16_t mask();

    explicit HistoryWnd(QWidget* parent = nullptr);
    // Detaches.
    ~HistoryWnd() override;

    // Subscribes orvaneCallback to the device's notifications and connects the
    // log listener: 0, or the logging core's refusal (the subscription stands).
    // Attaching again replaces the subscription.
    wyr::windows::system::ErrorCode attach(device::OrvaneInterface& device);
    void detach();
    bool attached() const { return _subscription.connected(); }
    bool listening() const { return _listener.isConnected(); }

    void orvaneCallback(const device::tagNMORVANEHDR* header);

    // One line: the time stamp, the message, in the verbosity's colour.
    void appendLine(const wyr::windows::logging::LogVerbosity& verbosity,
                    const wyr::windows::system::SYSTEMTIME& time, const QString& message);
    // Lines shown (a message with line feeds counts as several).
    int lineCount() const;

    // "03/07/2017 14:05:09.042 " (with the trailing blank); a time before 1900 is
    // shown as the clock's zero time.
    static QString timeStamp(const wyr::windows::system::SYSTEMTIME& time);
    // Yellow for Warning and App Specific 3, red for Error and App Specific 4,
    // white for the others.
    static QColor colourOf(const wyr::windows::logging::LogVerbosity& verbosity);

private:
    class Listener : public wyr::windows::logging::LogListener,
                     public wyr::windows::logging::TLogFilter<Listener> {
    public:
        explicit Listener(HistoryWnd& pane);
        void onLogMessage(const wyr::windows::logging::LogVerbosity& verbosity,
                          wyr::windows::system::SYSTEMTIME time, const wchar_t* context,
                          const wchar_t* message) override;

    private:
        HistoryWnd& _pane;
    };

    Listener _listener;
    boost::signals2::scoped_connection _subscription;
};

} // namespace app
