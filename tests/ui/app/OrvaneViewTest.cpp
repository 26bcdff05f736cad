#include "app/OrvaneView.h"

#include "app/HistoryWnd.h"
#include "app/MainFrame.h"
#include "app/OrvaneApp.h"
#include "app/OrvaneOutputWnd.h"
#include "controls/LedCtrl.h"
#include "controls/SegmentDisplayCtrl.h"
#include "device/DeviceSupervisor.h"
#include "device/OrvaneInterface.h"
#include "sim/InstrumentSimulator.h"
#include "tests/ui/support/AppEnvironment.h"
#include "tests/ui/support/UiTest.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/ui/MessageQueuePump.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QTest>

using app::OrvaneView;
using device::DeviceSupervisor;
using sim::FaultSettings;
using sim::InstrumentSettings;
using sim::InstrumentSimulator;

namespace {

constexpr int kPort = 217;
// Long enough for a probe, a connection and two corrections at 5 heartbeats a second.
constexpr int kStepMs = 15000;

template <typename T> T& part(const OrvaneView& view, const char* name) {
    auto* found = view.findChild<T*>(QLatin1String(name));
    if (found == nullptr) {
        qFatal("The view has no %s", name);
    }
    return *found;
}

bool received(const InstrumentSimulator& simulator, const std::string& payloadStart) {
    for (const auto& payload : simulator.status().commands) {
        if (payload.rfind(payloadStart, 0) == 0) {
            return true;
        }
    }
    return false;
}

// The program itself against a simulated instrument on a pseudo-terminal.
class Running {
public:
    Running(InstrumentSettings settings, FaultSettings faults)
        : _simulator(withFastHeartbeat(std::move(settings)), std::move(faults)),
          _orvane({QStringLiteral("orvane"), QStringLiteral("-noadmin")}) {
        started = _simulator.start(kPort) == 0 && _orvane.initInstance();
    }
    ~Running() { _orvane.exitInstance(); }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

    OrvaneView& view() { return _orvane.mainFrame()->view(); }
    InstrumentSimulator& simulator() { return _simulator; }

    // The port's item of the Auto Connect menu.
    bool choosePort() {
        for (QAction* item : view().portMenu().actions()) {
            if (item->text() == QStringLiteral("COM%1").arg(kPort)) {
                item->trigger();
                return true;
            }
        }
        return false;
    }

    bool started = false;

private:
    static InstrumentSettings withFastHeartbeat(InstrumentSettings settings) {
        settings.heartbeatPeriodMs = 200;
        return settings;
    }

    test::AppEnvironment _environment;
    InstrumentSimulator _simulator;
    app::OrvaneApp _orvane;
};

} // namespace

class OrvaneViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aChosenPortIsCorrectedIntoToleranceThenStreamsAndDisconnects() {
        InstrumentSettings settings;
        settings.frameRate = 30; // the default wants 16
        settings.gain = 1000;    // not in the list: the next smaller entry is 793
        settings.voltage = 12.0F;
        Running orvane(settings, {});
        QVERIFY(orvane.started);
        OrvaneView& view = orvane.view();
        auto& autoConnect = part<QAbstractButton>(view, "autoConnect");
        auto& disconnect = part<QAbstractButton>(view, "disconnect");
        QVERIFY(autoConnect.isEnabled());
        QVERIFY(!disconnect.isEnabled());
        QCOMPARE(part<QLabel>(view, "decibels").text(), QStringLiteral("-----"));

        QVERIFY(orvane.choosePort());
        QVERIFY(!autoConnect.isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(view.supervisor().state() == DeviceSupervisor::State::Streaming, kStepMs);
        QVERIFY(received(orvane.simulator(), "5|16"));
        QCOMPARE(orvane.simulator().status().frameRate, 16U);
        QCOMPARE(orvane.simulator().status().gain, 793);
        QVERIFY(view.notificationDialog() == nullptr);

        // What the device reports, as the operator sees it.
        QTRY_VERIFY_WITH_TIMEOUT(part<controls::LedCtrl>(view, "deviceLed").state() != 0, kStepMs);
        QTRY_COMPARE_WITH_TIMEOUT(part<controls::SegmentDisplayCtrl>(view, "voltage").text(),
                                  QStringLiteral(" 12.0"), kStepMs);
        QCOMPARE(part<controls::SegmentDisplayCtrl>(view, "voltage").look(),
                 controls::SegmentDisplayCtrl::Look::InRange);
        QCOMPARE(part<controls::LedCtrl>(view, "antennaLed").state(), 1);
        QCOMPARE(part<QLabel>(view, "decibels").text(), QStringLiteral(" 67.4"));
        QVERIFY(part<QAbstractButton>(view, "gainDown").isEnabled());
        QVERIFY(part<QAbstractButton>(view, "gainUp").isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!part<app::OrvaneOutputWnd>(view, "outputWnd").readings().empty(), kStepMs);
        QVERIFY(disconnect.isEnabled());
        QVERIFY(
            part<app::HistoryWnd>(view, "historyWnd").toPlainText().contains(QLatin1String("Connected.")));

        disconnect.click();
        QTRY_VERIFY_WITH_TIMEOUT(autoConnect.isEnabled(), kStepMs);
        QVERIFY(!disconnect.isEnabled());
        QCOMPARE(part<controls::LedCtrl>(view, "deviceLed").state(), 0);
        QCOMPARE(part<controls::SegmentDisplayCtrl>(view, "voltage").text(), QStringLiteral("-----"));
        QCOMPARE(part<controls::SegmentDisplayCtrl>(view, "voltage").look(),
                 controls::SegmentDisplayCtrl::Look::Idle);
        QCOMPARE(part<QLabel>(view, "decibels").text(), QStringLiteral("-----"));
        QVERIFY(!part<QAbstractButton>(view, "gainUp").isEnabled());
    }

    void aLinkLostDuringValidationLeavesTheViewReadyToScan() {
        FaultSettings faults;
        // The frame rate is never corrected, so validation goes on until the port goes.
        faults.dropCommand = "SET_FRAME_RATE";
        faults.dropCount = -1;
        faults.unplugAfterMs = 2500;
        InstrumentSettings settings;
        settings.frameRate = 30;
        Running orvane(settings, faults);
        QVERIFY(orvane.started);
        OrvaneView& view = orvane.view();
        QVERIFY(orvane.choosePort());
        QTRY_VERIFY_WITH_TIMEOUT(view.supervisor().state() == DeviceSupervisor::State::Validating, kStepMs);
        QVERIFY(view.notificationDialog() != nullptr);

        QTRY_VERIFY_WITH_TIMEOUT(part<QAbstractButton>(view, "autoConnect").isEnabled(), kStepMs);
        QVERIFY(view.notificationDialog() == nullptr);
        QVERIFY(view.supervisor().state() != DeviceSupervisor::State::Streaming);
        QVERIFY(!part<QAbstractButton>(view, "disconnect").isEnabled());
        QVERIFY(
            part<app::HistoryWnd>(view, "historyWnd").toPlainText().contains(QLatin1String("Disconnected.")));
    }

    void aGarbageGainListLeavesTheGainButtonsInert() {
        test::AppEnvironment environment;
        const wyr::windows::ui::MessageQueuePump pump;
        auto& config = wyr::windows::config::ConfigMgr::instance();
        config.open(L"Software\\Tolvek\\Orvane\\Config");
        // Read when the view is made, as a hand-edited file would hold it.
        config.define(L"UI.GainSettings", L"3|a|b||", false);
        InstrumentSimulator simulator(
            [] {
                InstrumentSettings settings;
                settings.heartbeatPeriodMs = 200;
                settings.frameRate = 16;
                return settings;
            }(),
            {});
        QCOMPARE(simulator.start(kPort), 0U);
        device::OrvaneInterface* link = nullptr;
        QCOMPARE(device::getInterface(device::OrvaneInterfaceId::Orvane, &link), 0U);
        link->setDefaultConfiguration(-1);
        QCOMPARE(link->initialize(), 0U);
        {
            OrvaneView view(*link);
            view.show();
            QVERIFY(view.supervisor().gainList().empty());
            QCOMPARE(view.supervisor().scanPort(kPort), 0U);
            QTRY_VERIFY_WITH_TIMEOUT(view.supervisor().state() == DeviceSupervisor::State::Streaming,
                                     kStepMs);
            QTRY_VERIFY_WITH_TIMEOUT(part<controls::LedCtrl>(view, "deviceLed").state() != 0, kStepMs);
            QVERIFY(!part<QAbstractButton>(view, "gainDown").isEnabled());
            QVERIFY(!part<QAbstractButton>(view, "gainUp").isEnabled());
            view.gainDown();
            view.gainUp();
            QVERIFY(!received(simulator, "4|")); // SET_GAIN
            view.disconnectDevice();
            QTRY_VERIFY_WITH_TIMEOUT(!link->isOpen(), kStepMs);
        }
        link->finalize();
    }
};

ORVANE_UI_TEST(OrvaneViewTest)

#include "OrvaneViewTest.moc"
