#include "wyr/windows/logging/ui/LogConsoleWnd.h"

#include "tests/ui/support/UiTest.h"
#include "wyr/windows/logging/ILogFilter.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/LogBeacon.h"

#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>

using namespace wyr::windows::logging;

namespace {

QTextBlock block(const LogConsoleWnd& console, int number) {
    return console.textView().document()->findBlockByNumber(number);
}

QColor colourOf(const QTextBlock& line) {
    return line.begin().fragment().charFormat().foreground().color();
}

// Delivers what was logged so far to the listeners, as the UI thread's loop would.
void deliver() {
    LogBeacon::instance().flush();
}

} // namespace

class LogConsoleWndTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { LogBeacon::instance(); }

    void linesComeInOneBatchInTheTerminalListenersFormatAndColours() {
        LogConsoleWnd console;
        QVERIFY(console.open());
        QCOMPARE(console.windowTitle(), QStringLiteral("Orvane Console"));
        log(LogVerbosity::DebugLevel3, "Console::test", L"received %d", 7);
        log(LogVerbosity::Error, "Console::test", L"failed");
        log(LogVerbosity::Information, "Console::test", L"two\nlines");
        deliver();
        QCOMPARE(console.pendingLines(), std::size_t(3));
        QCOMPARE(console.lineCount(), 0); // nothing appended before the batch ends

        QTRY_COMPARE(console.pendingLines(), std::size_t(0));
        QCOMPARE(console.lineCount(), 4);
        const QRegularExpression format(
            QStringLiteral(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} Console::test received 7$)"));
        QVERIFY2(format.match(block(console, 0).text()).hasMatch(), qPrintable(block(console, 0).text()));
        QVERIFY(block(console, 1).text().endsWith(QStringLiteral("Console::test failed")));
        QCOMPARE(colourOf(block(console, 0)), QColor(0x55, 0xFF, 0xFF)); // bright cyan
        QCOMPARE(colourOf(block(console, 1)), QColor(0xFF, 0x55, 0x55)); // bright red
        QCOMPARE(colourOf(block(console, 2)), QColor(0xAA, 0xAA, 0xAA)); // white
        QCOMPARE(block(console, 3).text(), QStringLiteral("lines"));
    }

    void theFilterDecidesWhatIsShown() {
        LogConsoleWnd console;
        QVERIFY(console.open());
        console.filter().setFilter(0xFFEF);
        log(LogVerbosity::Information, "Console::test", L"hidden");
        log(LogVerbosity::Warning, "Console::test", L"shown");
        deliver();
        console.flush();
        QCOMPARE(console.lineCount(), 1);
        QVERIFY(block(console, 0).text().endsWith(QStringLiteral("shown")));
    }

    void keepsOnlyTheLastTenThousandLines() {
        LogConsoleWnd console;
        QVERIFY(console.open());
        const auto logLines = [](int from, int to) {
            for (int i = from; i < to; ++i) {
                log(LogVerbosity::Information, "Console::test", L"line %d", i);
            }
            deliver();
        };
        // Within one batch the listener keeps the last lines only.
        logLines(0, LogConsoleWnd::kMaxLines + 50);
        QCOMPARE(console.pendingLines(), std::size_t(LogConsoleWnd::kMaxLines));
        console.flush();
        QCOMPARE(console.lineCount(), LogConsoleWnd::kMaxLines);
        QVERIFY(block(console, 0).text().endsWith(QStringLiteral(" line 50")));
        // Across batches the view drops the oldest.
        logLines(LogConsoleWnd::kMaxLines + 50, LogConsoleWnd::kMaxLines + 3050);
        console.flush();
        QCOMPARE(console.lineCount(), LogConsoleWnd::kMaxLines);
        QVERIFY(block(console, 0).text().endsWith(QStringLiteral(" line 3050")));
        QVERIFY(block(console, LogConsoleWnd::kMaxLines - 1).text().endsWith(QStringLiteral(" line 13049")));
    }

    void theUserCannotCloseIt() {
        LogConsoleWnd console;
        QVERIFY(console.open());
        QVERIFY(!console.close());
        QVERIFY(console.isVisible());
        QVERIFY(!(console.windowFlags() & Qt::WindowCloseButtonHint));
    }

    void destroyingItDisconnectsItsListener() {
        auto console = std::make_unique<LogConsoleWnd>();
        QVERIFY(console->open());
        QVERIFY(console->listener().isConnected());
        log(LogVerbosity::Information, "Console::test", L"late");
        console.reset();
        deliver(); // a record still queued must not reach the destroyed console
    }
};

ORVANE_UI_TEST(LogConsoleWndTest)
#include "LogConsoleWndTest.moc"
