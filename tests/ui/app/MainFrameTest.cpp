#include "app/MainFrame.h"

#include "app/DebugDlg.h"
#include "device/DisconnectType.h"
#include "device/OrvaneNotification.h"
#include "tests/ui/support/AppEnvironment.h"
#include "tests/ui/support/UiTest.h"
#include "tests/unit/device/FakeOrvaneInterface.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/logging/ui/LogConsoleWnd.h"
#include "wyr/windows/logging/ui/LogFilterOptionsDlg.h"
#include "wyr/windows/ui/MessageQueuePump.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

using app::MainFrame;
using test::FakeOrvaneInterface;

namespace {

QStringList menuTitles(const MainFrame& frame) {
    QStringList titles;
    for (const QAction* action : frame.menuBar()->actions()) {
        titles << action->text();
    }
    return titles;
}

MainFrame::Context context(bool admin, bool showLog = false) {
    MainFrame::Context c;
    c.admin = admin;
    c.showLog = showLog;
    return c;
}

} // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

    std::unique_ptr<wyr::windows::ui::MessageQueuePump> _pump;

private Q_SLOTS:
    void initTestCase() {
        _pump = std::make_unique<wyr::windows::ui::MessageQueuePump>();
        wyr::windows::logging::LogBeacon::instance();
    }

    void theAdminMenuAndTheStartConsoleBelongToAdministratorMode_data() {
        QTest::addColumn<bool>("admin");
        QTest::addColumn<bool>("showLog");
        QTest::addColumn<QStringList>("menus");
        QTest::addColumn<bool>("console");
        const QStringList plain{QStringLiteral("&File"), QStringLiteral("&Orvane"), QStringLiteral("&Help")};
        const QStringList admin{QStringLiteral("&File"), QStringLiteral("&Orvane"), QStringLiteral("&Admin"),
                                QStringLiteral("&Help")};
        QTest::newRow("operator") << false << false << plain << false;
        QTest::newRow("operator with -showlog") << false << true << plain << false;
        QTest::newRow("administrator") << true << false << admin << false;
        QTest::newRow("administrator with -showlog") << true << true << admin << true;
    }
    void theAdminMenuAndTheStartConsoleBelongToAdministratorMode() {
        QFETCH(bool, admin);
        QFETCH(bool, showLog);
        QFETCH(QStringList, menus);
        QFETCH(bool, console);
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        MainFrame frame(device, context(admin, showLog));
        QCOMPARE(menuTitles(frame), menus);
        // Open before the window is shown.
        QVERIFY(!frame.isVisible());
        QCOMPARE(frame.console() != nullptr, console);
        if (admin) {
            QCOMPARE(frame.command(MainFrame::ViewConsole)->isChecked(), console);
        } else {
            QVERIFY(frame.command(MainFrame::ViewConsole) == nullptr);
        }
        QCOMPARE(frame.windowTitle(), QStringLiteral("Tolvek - Orvane"));
    }

    void theCommandsFollowTheirRules_data() {
        QTest::addColumn<bool>("admin");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("update");
        QTest::newRow("operator, no device") << false << false << false;
        QTest::newRow("operator, connected") << false << true << true;
        QTest::newRow("administrator, no device") << true << false << true;
    }
    void theCommandsFollowTheirRules() {
        QFETCH(bool, admin);
        QFETCH(bool, open);
        QFETCH(bool, update);
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        device.open = open;
        MainFrame frame(device, context(admin));
        frame.updateCommands();
        QCOMPARE(frame.command(MainFrame::UpdateFirmware)->isEnabled(), update);
        QCOMPARE(frame.command(MainFrame::UpdateFirmware)->text(), QStringLiteral("&Update Orvane Firmware"));
        QCOMPARE(frame.command(MainFrame::Disconnect)->isEnabled(), open);
        QCOMPARE(frame.command(MainFrame::Reset)->isEnabled(), open);
        QCOMPARE(frame.command(MainFrame::Connect)->isEnabled(), !open);
    }

    void theConsoleFilterNeedsTheConsoleAndGoesWithIt() {
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        MainFrame frame(device, context(true));
        QVERIFY(!frame.command(MainFrame::ConsoleFilter)->isEnabled());

        frame.command(MainFrame::ViewConsole)->trigger();
        QVERIFY(frame.console() != nullptr);
        QVERIFY(frame.command(MainFrame::ViewConsole)->isChecked());
        QVERIFY(frame.command(MainFrame::ConsoleFilter)->isEnabled());

        frame.command(MainFrame::ConsoleFilter)->trigger();
        QVERIFY(frame.filterDialog() != nullptr);
        QVERIFY(frame.filterDialog()->isVisible());
        QVERIFY(frame.command(MainFrame::ConsoleFilter)->isChecked());

        // Closing the console takes its filter dialog with it.
        frame.command(MainFrame::ViewConsole)->trigger();
        QVERIFY(frame.console() == nullptr);
        QVERIFY(frame.filterDialog() == nullptr);
        QVERIFY(!frame.command(MainFrame::ConsoleFilter)->isEnabled());
        QVERIFY(!frame.command(MainFrame::ConsoleFilter)->isChecked());
    }

    void theDebuggerToggles() {
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        MainFrame frame(device, context(true));
        frame.show();
        frame.command(MainFrame::ViewDebugger)->trigger();
        QVERIFY(frame.debugWindow() != nullptr);
        QVERIFY(frame.debugWindow()->isVisible());
        QVERIFY(frame.command(MainFrame::ViewDebugger)->isChecked());
        frame.command(MainFrame::ViewDebugger)->trigger();
        QVERIFY(frame.debugWindow() == nullptr);
        QVERIFY(!frame.command(MainFrame::ViewDebugger)->isChecked());
    }

    void closingWithoutADeviceClosesAtOnce() {
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        MainFrame frame(device, context(false));
        frame.show();
        QVERIFY(frame.close());
        QVERIFY(device.callsOf("disconnect").empty());
    }

    void closingWhileConnectedWaitsForTheDisconnection() {
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        device.open = true;
        MainFrame frame(device, context(false));
        frame.show();
        const std::size_t before = device.subscribers();
        QVERIFY(before > 0);

        QVERIFY(!frame.close());
        QVERIFY(frame.isVisible());
        QCOMPARE(device.callsOf("disconnect"),
                 (std::vector<FakeOrvaneInterface::Call>{
                     {"disconnect", device::DisconnectType::Normal.value(), 0}}));
        // Only the close's own subscriber is left.
        QCOMPARE(device.subscribers(), std::size_t(1));
        // Asking again while waiting sends nothing more.
        QVERIFY(!frame.close());
        QCOMPARE(device.callsOf("disconnect").size(), std::size_t(1));

        device.open = false;
        device::OrvaneDisconnectNotification disconnected(5, 0);
        device.deliver(disconnected);
        QTRY_VERIFY(!frame.isVisible());
    }

    void aSecondStartRestoresAMinimisedWindow() {
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        MainFrame frame(device, context(false));
        frame.showMinimized();
        frame.activate();
        QVERIFY(!(frame.windowState() & Qt::WindowMinimized));
        QVERIFY(frame.isVisible());
    }

    void theStatusBarShowsTheMeasuredFrameRate_data() {
        QTest::addColumn<bool>("open");
        QTest::addColumn<double>("measured");
        QTest::addColumn<QString>("shown");
        QTest::newRow("streaming") << true << 15.96 << QStringLiteral("16.0 fps");
        QTest::newRow("no reading yet") << true << std::nan("") << QStringLiteral("---");
        QTest::newRow("zero") << true << 0.0 << QStringLiteral("---");
        QTest::newRow("disconnected") << false << 16.0 << QStringLiteral("---");
    }
    void theStatusBarShowsTheMeasuredFrameRate() {
        QFETCH(bool, open);
        QFETCH(double, measured);
        QFETCH(QString, shown);
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        device.open = open;
        device.state.measuredFrameRate = measured;
        MainFrame frame(device, context(false));
        frame.updateCommands();
        QCOMPARE(frame.frameRatePane().text(), shown);
    }
};

ORVANE_UI_TEST(MainFrameTest)

#include "MainFrameTest.moc"
