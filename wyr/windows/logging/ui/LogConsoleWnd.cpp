#include "wyr/windows/logging/ui/LogConsoleWnd.h"

#include "wyr/windows/logging/ui/ConsolePalette.h"
#include "wyr/windows/system/SystemError.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

namespace wyr::windows::logging {

LogConsoleWnd::LogConsoleWnd(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint),
      _listener(kMaxLines) {
    setObjectName(QStringLiteral("LogConsoleWnd"));
    setWindowTitle(QString::fromLatin1(LogConsoleListener::kTitle));
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(900, 420);

    _text = new QPlainTextEdit(this);
    _text->setObjectName(QStringLiteral("consoleText"));
    _text->setReadOnly(true);
    _text->setUndoRedoEnabled(false);
    _text->setLineWrapMode(QPlainTextEdit::NoWrap);
    _text->setMaximumBlockCount(kMaxLines);
    _text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QPalette palette = _text->palette();
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::Text, ConsolePalette::foreground(0x07));
    _text->setPalette(palette);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(_text);

    _batch.setSingleShot(true);
    _batch.setInterval(kBatchIntervalMs);
    connect(&_batch, &QTimer::timeout, this, &LogConsoleWnd::flush);
    _listener.setBatchStarted([this] {
        if (!_batch.isActive()) {
            _batch.start();
        }
    });
}

LogConsoleWnd::~LogConsoleWnd() {
    _listener.setBatchStarted({});
    if (_listener.isConnected()) {
        _listener.disconnect();
    }
}

bool LogConsoleWnd::open() {
    const system::ErrorCode result = _listener.connect();
    if (result != system::ERROR_SUCCESS && result != system::ERROR_ALREADY_INITIALIZED) {
        return false;
    }
    show();
    return true;
}

const QTextCharFormat& LogConsoleWnd::format(std::uint16_t attribute) {
    auto it = _formats.find(attribute);
    if (it == _formats.end()) {
        QTextCharFormat created;
        created.setForeground(ConsolePalette::foreground(attribute));
        const QColor background = ConsolePalette::background(attribute);
        if (background != Qt::black) {
            created.setBackground(background);
        }
        it = _formats.emplace(attribute, created).first;
    }
    return it->second;
}

void LogConsoleWnd::flush() {
    _batch.stop();
    const auto lines = _listener.take();
    if (lines.empty()) {
        return;
    }
    QScrollBar* bar = _text->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor cursor(_text->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (const auto& line : lines) {
        if (!_empty) {
            cursor.insertBlock();
        }
        _empty = false;
        cursor.insertText(QString::fromStdWString(line.text), format(line.attribute));
    }
    cursor.endEditBlock();
    if (following) {
        bar->setValue(bar->maximum());
    }
}

int LogConsoleWnd::lineCount() const {
    return _empty ? 0 : _text->document()->blockCount();
}

void LogConsoleWnd::closeEvent(QCloseEvent* event) {
    // Only the owner's toggle closes the console, by destroying it.
    event->ignore();
}

} // namespace wyr::windows::logging
