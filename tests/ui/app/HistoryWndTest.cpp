#include "app/HistoryWnd.h"

#include "device/OrvaneMessage.h"
#include "device/OrvaneScanPhase.h"
#include "tests/ui/support/UiTest.h"
#include "tests/unit/device/FakeOrvaneInterface.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/LogBeacon.h"

#include <QApplication>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QVBoxLayout>
#include <chrono>
#include <memory>

using app::HistoryWnd;
using namespace device;
using wyr::windows::logging::log;
using wyr::windows::logging::LogBeacon;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::system::SYSTEMTIME;

namespace {

const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255);

QTextBlock line(const HistoryWnd& pane, int number) {
    return pane.document()->findBlockByNumber(number);
}

QColor colourOf(const QTextBlock& block) {
    return block.begin().fragment().charFormat().foreground().color();
}

// The line without its time stamp ("03/07/2017 14:05:09.042 ").
QString textOf(const QTextBlock& block) {
    return block.text().mid(24);
}

SYSTEMTIME march7() {
    SYSTEMTIME time;
    time.wYear = 2017;
    time.wMonth = 3;
    time.wDay = 7;
    time.wDayOfWeek = 2;
    time.wHour = 14;
    time.wMinute = 5;
    time.wSecond = 9;
    time.wMilliseconds = 42;
    return time;
}

void deliver() {
    LogBeacon::instance().flush();
}

std::unique_ptr<OrvaneCommandFailureNotification> failureOf(const OrvaneMessage& command) {
    return std::make_unique<OrvaneCommandFailureNotification>(3, command,
                                                              std::make_unique<std::uint8_t[]>(4));
}

} // namespace

class HistoryWndTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { LogBeacon::instance(); }

    void linesCarryTheTimeStampAndTheVerbositysColour() {
        HistoryWnd pane;
        QCOMPARE(pane.palette().color(QPalette::Base), QColor(Qt::black));
        QVERIFY(pane.isReadOnly());
        pane.appendLine(LogVerbosity::Warning, march7(), QStringLiteral("low voltage"));
        QCOMPARE(line(pane, 0).text(), QStringLiteral("03/07/2017 14:05:09.042 low voltage"));
        QCOMPARE(colourOf(line(pane, 0)), kYellow);

        // A time before 1900 is the clock's zero time.
        const QString zero =
            HistoryWnd::timeStamp(wyr::windows::system::toLocalTime(std::chrono::system_clock::time_point()));
        QCOMPARE(HistoryWnd::timeStamp(SYSTEMTIME{}), zero);
        QVERIFY(QRegularExpression(QStringLiteral(R"(^(12/31/1969|01/01/1970) \d\d:\d\d:00\.000 $)"))
                    .match(zero)
                    .hasMatch());
    }

    void theLogShowsItsWarningsErrorsAndAppSpecificMessagesOnly_data() {
        QTest::addColumn<int>("verbosity");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("Warning") << LogVerbosity::Warning.value() << true << kYellow;
        QTest::newRow("Error") << LogVerbosity::Error.value() << true << kRed;
        QTest::newRow("App Specific 1") << LogVerbosity::AppSpecific1.value() << true << kWhite;
        QTest::newRow("App Specific 2") << LogVerbosity::AppSpecific2.value() << true << kWhite;
        QTest::newRow("App Specific 3") << LogVerbosity::AppSpecific3.value() << true << kYellow;
        QTest::newRow("App Specific 4") << LogVerbosity::AppSpecific4.value() << true << kRed;
        QTest::newRow("Information") << LogVerbosity::Information.value() << false << QColor();
        QTest::newRow("UI Info") << LogVerbosity::UIInfo.value() << false << QColor();
        QTest::newRow("Debug Level 1") << LogVerbosity::DebugLevel1.value() << false << QColor();
        QTest::newRow("Debug Level 4") << LogVerbosity::DebugLevel4.value() << false << QColor();
    }

    void theLogShowsItsWarningsErrorsAndAppSpecificMessagesOnly() {
        QFETCH(int, verbosity);
        QFETCH(bool, shown);
        QFETCH(QColor, colour);
        test::FakeOrvaneInterface device;
        HistoryWnd pane;
        QCOMPARE(pane.attach(device), 0U);
        const auto* level = LogVerbosity::fromValue(verbosity);
        QVERIFY(level != nullptr);
        log(*level, "Somewhere::else", L"message %d", 5);
        deliver();
        QCOMPARE(pane.lineCount(), shown ? 1 : 0);
        if (shown) {
            QVERIFY(QRegularExpression(QStringLiteral(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} message 5$)"))
                        .match(line(pane, 0).text())
                        .hasMatch());
            QCOMPARE(colourOf(line(pane, 0)), colour);
        }
    }

    void notificationsBecomeLoggedMessages() {
        test::FakeOrvaneInterface device;
        test::LogCapture capture;
        HistoryWnd pane;
        QCOMPARE(pane.attach(device), 0U);
        QVERIFY(pane.attached() && pane.listening());

        struct Case {
            std::unique_ptr<OrvaneNotification, void (*)(OrvaneNotification*)> record;
            QString text;
            const LogVerbosity* verbosity;
        };
        const auto own = [](OrvaneNotification* record) {
            return std::unique_ptr<OrvaneNotification, void (*)(OrvaneNotification*)>(
                record, [](OrvaneNotification* r) { OrvaneNotification::release(r); });
        };
        std::vector<Case> cases;
        cases.push_back({own(new OrvaneInterrogateNotification(OrvaneScanPhase::NotifyScanBegin, 0, 0)),
                         QStringLiteral("Scanning ports. Please wait..."), &LogVerbosity::AppSpecific1});
        cases.push_back({own(new OrvaneInterrogateNotification(OrvaneScanPhase::NotifyScanPort, 5, 0)),
                         QStringLiteral(R"(Interrogating port..."\.\COM5".)"), &LogVerbosity::AppSpecific1});
        cases.push_back(
            {own(new OrvaneInterrogateNotification(OrvaneScanPhase::NotifyScanResult, 5, 0, 1200)),
             QStringLiteral(R"(No Orvane found on port...\\.\COM5!)"), &LogVerbosity::AppSpecific1});
        cases.push_back({own(new OrvaneInterrogateNotification(OrvaneScanPhase::NotifyScanResult, 6, 1, 0)),
                         QStringLiteral(R"(Connecting to a Orvane found on port "\.\COM6")"),
                         &LogVerbosity::AppSpecific1});
        cases.push_back({own(new OrvaneConnectNotification(6, 1200)),
                         QStringLiteral(R"(Failed to connect to the Orvane on port...\\.\COM6)"),
                         &LogVerbosity::AppSpecific4});
        cases.push_back({own(new OrvaneConnectNotification(6, 0)), QStringLiteral("Connected."),
                         &LogVerbosity::AppSpecific2});
        cases.push_back({own(new OrvaneWatchDogNotification()),
                         QStringLiteral("Failed to detect Orvane heartbeat!"), &LogVerbosity::AppSpecific3});
        cases.push_back({own(failureOf(OrvaneMessage::SET_GAIN).release()),
                         QStringLiteral("Command failed! [SET_GAIN]"), &LogVerbosity::AppSpecific4});
        cases.push_back({own(new OrvaneDisconnectNotification(6, 0)), QStringLiteral("Disconnected."),
                         &LogVerbosity::AppSpecific2});
        // Types without a message.
        cases.push_back({own(new OrvaneReadingNotification()), QString(), nullptr});
        cases.push_back(
            {own(new OrvaneStateNotification(OrvaneNotificationType::NotifyHeartbeat)), QString(), nullptr});

        std::uint64_t id = 0;
        for (auto& c : cases) {
            c.record->id = ++id;
            device.deliver(*c.record);
        }
        deliver();

        int shown = 0;
        for (const auto& c : cases) {
            if (c.verbosity == nullptr) {
                continue;
            }
            const QTextBlock block = line(pane, shown++);
            QCOMPARE(textOf(block), c.text);
            QCOMPARE(colourOf(block), HistoryWnd::colourOf(*c.verbosity));
            const auto logged = capture.matching(c.text.toStdWString());
            QCOMPARE(logged.size(), std::size_t(1));
            QCOMPARE(logged[0].context, std::wstring(L"HistoryWnd::orvaneCallback"));
            QCOMPARE(logged[0].verbosity, c.verbosity->value());
        }
        QCOMPARE(pane.lineCount(), shown);
        const auto traced =
            capture.matching(L"OrvaneNotification - Message ID [8], type[7][NotifyCommandFailure]");
        QCOMPARE(traced.size(), std::size_t(1));
        QCOMPARE(traced[0].verbosity, LogVerbosity::DebugLevel4.value());

        pane.clear();
        QCOMPARE(pane.lineCount(), 0);
    }

    void withTheFocusInThePaneTheViewStaysWhereTheUserPutIt() {
        // The pane beside another control that can take the focus.
        QWidget form;
        auto* elsewhere = new QLineEdit(&form);
        auto* layout = new QVBoxLayout(&form);
        layout->addWidget(elsewhere);
        auto& pane = *new HistoryWnd(&form);
        layout->addWidget(&pane);
        form.resize(400, 160);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        elsewhere->setFocus();
        QTRY_VERIFY(elsewhere->hasFocus());
        const auto append = [&pane](int from, int to) {
            for (int i = from; i < to; ++i) {
                pane.appendLine(LogVerbosity::AppSpecific1, march7(), QStringLiteral("line %1").arg(i));
            }
        };
        QScrollBar* bar = pane.verticalScrollBar();
        append(0, 200);
        QVERIFY(bar->maximum() > 150);
        QCOMPARE(bar->value(), bar->maximum()); // unfocused, it follows the last line

        pane.setFocus();
        QTRY_VERIFY(pane.hasFocus());
        bar->setValue(150);
        const QString top = pane.cursorForPosition(QPoint(4, 4)).block().text();
        QVERIFY(top.endsWith(QStringLiteral("line 150")));
        append(200, 250);
        QCOMPARE(bar->value(), 150);
        QCOMPARE(pane.cursorForPosition(QPoint(4, 4)).block().text(), top);
        QCOMPARE(textOf(line(pane, 249)), QStringLiteral("line 249"));

        // Still put while the oldest lines give way: the same line stays on top.
        append(250, HistoryWnd::kMaxLines + 100);
        QCOMPARE(pane.lineCount(), HistoryWnd::kMaxLines);
        QCOMPARE(bar->value(), 50);
        QCOMPARE(pane.cursorForPosition(QPoint(4, 4)).block().text(), top);

        elsewhere->setFocus();
        QTRY_VERIFY(!pane.hasFocus());
        append(HistoryWnd::kMaxLines + 100, HistoryWnd::kMaxLines + 101);
        QCOMPARE(bar->value(), bar->maximum());
    }

    void keepsTheLastTenThousandLinesInOrder() {
        HistoryWnd pane;
        for (int i = 0; i < HistoryWnd::kMaxLines + 50; ++i) {
            pane.appendLine(i % 2 == 0 ? LogVerbosity::Error : LogVerbosity::AppSpecific2, march7(),
                            QStringLiteral("line %1").arg(i));
        }
        QCOMPARE(pane.lineCount(), HistoryWnd::kMaxLines);
        QCOMPARE(textOf(line(pane, 0)), QStringLiteral("line 50"));
        QCOMPARE(colourOf(line(pane, 0)), kRed);
        QCOMPARE(colourOf(line(pane, 1)), kWhite);
        QCOMPARE(textOf(line(pane, HistoryWnd::kMaxLines - 1)),
                 QStringLiteral("line %1").arg(HistoryWnd::kMaxLines + 49));
    }

    void aDestroyedPaneListensToNothing() {
        test::FakeOrvaneInterface device;
        {
            HistoryWnd pane;
            QCOMPARE(pane.attach(device), 0U);
            QCOMPARE(pane.attach(device), 0U); // again: replaces the subscription
            QCOMPARE(device.subscribers(), std::size_t(1));
        }
        QCOMPARE(device.subscribers(), std::size_t(0));
        device.deliver(OrvaneWatchDogNotification());
        log(LogVerbosity::Warning, "Somewhere::else", L"after the pane");
        deliver();
    }
};

ORVANE_UI_TEST(HistoryWndTest)
#include "HistoryWndTest.moc"
