#include "app/HistoryWnd.h"

#include "device/OrvaneInterface.h"
#include "device/OrvaneMessage.h"
#include "device/OrvaneScanPhase.h"
#include "wyr/windows/logging/Log.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <chrono>

namespace app {

using device::OrvaneNotification;
using device::OrvaneScanPhase;
using wyr::windows::logging::log;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::system::SYSTEMTIME;

namespace {

constexpr const char* kCallbackContext = "HistoryWnd::orvaneCallback";

} // namespace

std::uint16_t HistoryWnd::mask() {
    // A function: the verbosities are constants of another translation unit.
    return static_cast<std::uint16_t>(LogVerbosity::Warning.mask() | LogVerbosity::Error.mask() |
                                      LogVerbosity::AppSpecific1.mask() | LogVerbosity::AppSpecific2.mask() |
                                      LogVerbosity::AppSpecific3.mask() | LogVerbosity::AppSpecific4.mask());
}

HistoryWnd::Listener::Listener(HistoryWnd& pane) : _pane(pane) {
    setFilter(mask());
}

void HistoryWnd::Listener::onLogMessage(const LogVerbosity& verbosity, SYSTEMTIME time, const wchar_t*,
                                        const wchar_t* message) {
    if (passes(verbosity)) {
        _pane.appendLine(verbosity, time, QString::fromWCharArray(message != nullptr ? message : L""));
    }
}

HistoryWnd::HistoryWnd(QWidget* parent) : QPlainTextEdit(parent), _listener(*this) {
    setObjectName(QStringLiteral("historyWnd"));
    setAccessibleName(QStringLiteral("History"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Only a click gives the pane the focus that holds its view: when the focused
    // Auto Connect button disables itself at a scan, Qt passes the focus on along
    // the tab chain, and the pane would then stop following new lines unasked.
    setFocusPolicy(Qt::ClickFocus);
    setMaximumBlockCount(kMaxLines);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Text, Qt::white);
    setPalette(colours);
}

HistoryWnd::~HistoryWnd() {
    detach();
}

wyr::windows::system::ErrorCode HistoryWnd::attach(device::OrvaneInterface& device) {
    _subscription =
        device.subscribe([this](const device::tagNMORVANEHDR* header) { orvaneCallback(header); });
    const auto result = _listener.connect();
    return result == wyr::windows::system::ERROR_ALREADY_INITIALIZED ? wyr::windows::system::ERROR_SUCCESS
                                                                     : result;
}

void HistoryWnd::detach() {
    _subscription.disconnect();
    if (_listener.isConnected()) {
        _listener.disconnect();
    }
}

void HistoryWnd::orvaneCallback(const device::tagNMORVANEHDR* header) {
    if (header == nullptr || header->type == nullptr) {
        return;
    }
    log(LogVerbosity::DebugLevel4, kCallbackContext, L"OrvaneNotification - Message ID [%llu], type[%d][%ls]",
        static_cast<unsigned long long>(header->id), header->type->value(), header->type->name().c_str());
    const int port = header->port;
    if (const auto* scan = OrvaneNotification::as<device::OrvaneInterrogateNotification>(header)) {
        if (scan->phase == nullptr) {
            return;
        }
        if (*scan->phase == OrvaneScanPhase::NotifyScanBegin) {
            log(LogVerbosity::AppSpecific1, kCallbackContext, L"Scanning ports. Please wait...");
        } else if (*scan->phase == OrvaneScanPhase::NotifyScanPort) {
            log(LogVerbosity::AppSpecific1, kCallbackContext, L"Interrogating port...\"\\.\\COM%d\".", port);
        } else if (*scan->phase == OrvaneScanPhase::NotifyScanResult) {
            if (scan->result != 0) {
                log(LogVerbosity::AppSpecific1, kCallbackContext, L"No Orvane found on port...\\\\.\\COM%d!",
                    port);
            } else {
                log(LogVerbosity::AppSpecific1, kCallbackContext,
                    L"Connecting to a Orvane found on port \"\\.\\COM%d\"", port);
            }
        }
    } else if (const auto* connect = OrvaneNotification::as<device::OrvaneConnectNotification>(header)) {
        if (connect->result == 0) {
            log(LogVerbosity::AppSpecific2, kCallbackContext, L"Connected.");
        } else {
            log(LogVerbosity::AppSpecific4, kCallbackContext,
                L"Failed to connect to the Orvane on port...\\\\.\\COM%d", port);
        }
    } else if (OrvaneNotification::as<device::OrvaneDisconnectNotification>(header) != nullptr) {
        log(LogVerbosity::AppSpecific2, kCallbackContext, L"Disconnected.");
    } else if (OrvaneNotification::as<device::OrvaneWatchDogNotification>(header) != nullptr) {
        log(LogVerbosity::AppSpecific3, kCallbackContext, L"Failed to detect Orvane heartbeat!");
    } else if (const auto* failure =
                   OrvaneNotification::as<device::OrvaneCommandFailureNotification>(header)) {
        log(LogVerbosity::AppSpecific4, kCallbackContext, L"Command failed! [%ls]",
            failure->command != nullptr ? failure->command->name().c_str() : L"");
    }
}

QString HistoryWnd::timeStamp(const SYSTEMTIME& time) {
    const SYSTEMTIME shown =
        time.wYear < 1900 ? wyr::windows::system::toLocalTime(std::chrono::system_clock::time_point()) : time;
    return QString::fromStdString(wyr::windows::system::formatTime(shown, "%m/%d/%Y %H:%M:%S")) +
           QString::asprintf(".%03d ", static_cast<int>(shown.wMilliseconds));
}

QColor HistoryWnd::colourOf(const LogVerbosity& verbosity) {
    if (verbosity == LogVerbosity::Warning || verbosity == LogVerbosity::AppSpecific3) {
        return {255, 255, 0};
    }
    if (verbosity == LogVerbosity::Error || verbosity == LogVerbosity::AppSpecific4) {
        return {255, 0, 0};
    }
    return {255, 255, 255};
}

void HistoryWnd::appendLine(const LogVerbosity& verbosity, const SYSTEMTIME& time, const QString& message) {
    QScrollBar* vertical = verticalScrollBar();
    QScrollBar* horizontal = horizontalScrollBar();
    const bool following = !hasFocus();
    // With the focus in the pane the view holds on to its top line; a cursor
    // there follows that line when the oldest lines give way.
    QTextCursor top;
    int topOffset = 0;
    const int keptLeft = horizontal->value();
    if (!following) {
        const QTextBlock first = firstVisibleBlock();
        top = QTextCursor(first);
        topOffset = vertical->value() - first.firstLineNumber();
    }

    // A cursor of its own, so that a selection the user made stays as it is.
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(colourOf(verbosity));
    if (!document()->isEmpty()) {
        end.insertBlock();
    }
    end.insertText(timeStamp(time) + message, format);

    if (following) {
        vertical->setValue(vertical->maximum());
        horizontal->setValue(horizontal->minimum());
    } else {
        vertical->setValue(top.block().firstLineNumber() + topOffset);
        horizontal->setValue(keptLeft);
    }
}

int HistoryWnd::lineCount() const {
    return document()->isEmpty() ? 0 : document()->blockCount();
}

} // namespace app
