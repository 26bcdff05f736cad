#include "wyr/windows/ui/MessageQueuePump.h"

#include "tests/ui/support/UiTest.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/logging/LogListener.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/MessageWindow.h"

#include <QDialog>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <thread>
#include <vector>

using namespace wyr::windows;

namespace {

constexpr int kGuardMs = 10000; // ends a loop that would otherwise never end

class MessageCollector : public logging::LogListener {
public:
    void onLogMessage(const logging::LogVerbosity&, system::SYSTEMTIME, const wchar_t*,
                      const wchar_t* message) override {
        messages.emplace_back(message);
        if (onMessage) {
            onMessage();
        }
    }
    std::vector<std::wstring> messages;
    std::function<void()> onMessage;
};

} // namespace

class MessageQueuePumpTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void workerLogRecordsArriveInOrderWhileAModalDialogRuns() {
        logging::LogBeacon::instance();
        ui::MessageQueuePump pump;
        QVERIFY(pump.isValid());
        constexpr int kRecords = 300;
        QDialog dialog;
        MessageCollector collector;
        collector.onMessage = [&] {
            if (collector.messages.size() == kRecords) {
                dialog.done(QDialog::Accepted);
            }
        };
        QCOMPARE(collector.connect(), 0U);
        std::thread worker;
        QTimer::singleShot(0, &dialog, [&] {
            worker = std::thread([] {
                for (int i = 0; i < kRecords; ++i) {
                    logging::log(logging::LogVerbosity::Information, "worker", L"record %d", i);
                }
            });
        });
        QTimer::singleShot(kGuardMs, &dialog, [&] { dialog.done(QDialog::Rejected); });
        const int result = dialog.exec();
        worker.join();
        collector.disconnect();
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(collector.messages.size(), std::size_t(kRecords));
        for (int i = 0; i < kRecords; ++i) {
            QCOMPARE(collector.messages[std::size_t(i)], L"record " + std::to_wstring(i));
        }
    }

    // A handler that opens a modal dialog (a task dialog asking Retry/Cancel) must
    // not stall the queue: what is posted meanwhile is handled inside the dialog.
    void aHandlersModalDialogKeepsTheQueueFlowing() {
        ui::MessageQueuePump pump;
        constexpr int kLast = 50;
        std::vector<int> order;
        QDialog inner;
        QEventLoop loop;
        std::thread worker;
        system::MessageWindow* self = nullptr;
        system::MessageWindow window(
            [&](system::MessageId, system::WPARAM w, system::LPARAM) -> system::LRESULT {
                const int value = static_cast<int>(w);
                order.push_back(value);
                if (value == 0) {
                    worker = std::thread([self] {
                        for (int i = 1; i <= kLast; ++i) {
                            self->post(system::WM_USER, static_cast<system::WPARAM>(i), 0);
                        }
                    });
                    inner.exec();
                    order.push_back(-1);
                    loop.quit();
                } else if (value == kLast) {
                    inner.done(QDialog::Accepted);
                }
                return 0;
            });
        self = &window;
        QVERIFY(window.post(system::WM_USER, 0, 0));
        QTimer::singleShot(kGuardMs, &loop, [&] {
            inner.done(QDialog::Rejected);
            loop.quit();
        });
        loop.exec();
        if (worker.joinable()) {
            worker.join();
        }
        std::vector<int> expected{0};
        for (int i = 1; i <= kLast; ++i) {
            expected.push_back(i);
        }
        expected.push_back(-1);
        QCOMPARE(order, expected);
    }

    void threadTimersFireUnderQtsLoop() {
        ui::MessageQueuePump pump;
        QEventLoop loop;
        int fired = 0;
        const auto id = system::setTimer(10, [&](system::TimerId timer) {
            if (++fired == 3) {
                system::killTimer(timer);
                loop.quit();
            }
        });
        QVERIFY(id != 0);
        QTimer::singleShot(kGuardMs, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(fired, 3);
    }
};

ORVANE_UI_TEST(MessageQueuePumpTest)
#include "MessageQueuePumpTest.moc"
