#include "app/OrvaneView.h"

#include "app/HistoryWnd.h"
#include "app/MainFrame.h"
#include "app/OrvaneApp.h"
#include "app/OrvaneOutputWnd.h"
#include "controls/DesktopAlertMgr.h"
#include "controls/DesktopAlertWnd.h"
#include "controls/LedCtrl.h"
#include "controls/SegmentDisplayCtrl.h"
#include "device/DeviceSupervisor.h"
#include "device/OrvaneInterface.h"
#include "sim/InstrumentSimulator.h"
#include "tests/ui/support/AppEnvironment.h"
#include "tests/ui/support/UiTest.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/ui/MessageQueuePump.h"
#include "wyr/windows/ui/NotificationDlg.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <set>
#include <stdlib.h>
#include <unistd.h>

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

    // A port that opens but where nobody answers: a pseudo-terminal nobody reads,
    // published below the simulator's number so that a scan meets it first.
    bool addSilentPort(int com) {
        _silent = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        char name[128] = {};
        if (_silent < 0 || ::grantpt(_silent) != 0 || ::unlockpt(_silent) != 0 ||
            ::ptsname_r(_silent, name, sizeof name) != 0) {
            return false;
        }
        const QString link = qEnvironmentVariable("ORVANE_PORT_DIR") + QStringLiteral("/COM%1").arg(com);
        return QFile::link(QString::fromLocal8Bit(name), link);
    }
    ~Running() {
        _orvane.exitInstance();
        if (_silent >= 0) {
            ::close(_silent);
        }
    }
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
    int _silent = -1;
    InstrumentSimulator _simulator;
    app::OrvaneApp _orvane;
};

// Every text a widget showed while the test ran, sampled as a person glances at it.
class Seen {
public:
    explicit Seen(std::function<QString()> look) : _look(std::move(look)) {
        QObject::connect(&_timer, &QTimer::timeout, [this] {
            const QString now = _look();
            if (!now.isEmpty() && (_texts.isEmpty() || _texts.back() != now)) {
                _texts << now;
            }
        });
        _timer.start(5);
    }
    const QStringList& texts() const { return _texts; }

private:
    std::function<QString()> _look;
    QTimer _timer;
    QStringList _texts;
};

QString alertTexts() {
    QStringList texts;
    if (auto* alerts = controls::DesktopAlertMgr::existing()) {
        for (const auto* alert : alerts->alerts()) {
            texts << alert->accessibleName();
        }
    }
    return texts.join(QLatin1Char('|'));
}

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

        // The port menu: the present ports by number from 56320, then Rescan.
        const QList<QAction*> items = view.portMenu().actions();
        QVERIFY(items.size() >= 2);
        QCOMPARE(items.front()->data().toInt(), OrvaneView::kFirstPortCommand);
        QCOMPARE(items.back()->text(), QStringLiteral("Rescan"));
        QCOMPARE(items.back()->data().toInt(), OrvaneView::kRescanCommand);
        for (qsizetype i = 0; i + 1 < items.size(); ++i) {
            QVERIFY(items[i]->text().startsWith(QLatin1String("COM")));
            QCOMPARE(items[i]->data().toInt(), OrvaneView::kFirstPortCommand + int(i));
        }

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
        // The frame's commands and frame-rate pane follow the device as it reports.
        auto* frame = qobject_cast<app::MainFrame*>(view.window());
        QVERIFY(frame != nullptr);
        QTRY_VERIFY(frame->command(app::MainFrame::Reset)->isEnabled());
        QTRY_VERIFY(frame->frameRatePane().text().endsWith(QLatin1String(" fps")));

        disconnect.click();
        QTRY_VERIFY_WITH_TIMEOUT(autoConnect.isEnabled(), kStepMs);
        QTRY_VERIFY(!frame->command(app::MainFrame::Reset)->isEnabled());
        QCOMPARE(frame->frameRatePane().text(), QStringLiteral("---"));
        QVERIFY(!disconnect.isEnabled());
        QCOMPARE(part<controls::LedCtrl>(view, "deviceLed").state(), 0);
        QCOMPARE(part<controls::SegmentDisplayCtrl>(view, "voltage").text(), QStringLiteral("-----"));
        QCOMPARE(part<controls::SegmentDisplayCtrl>(view, "voltage").look(),
                 controls::SegmentDisplayCtrl::Look::Idle);
        QCOMPARE(part<QLabel>(view, "decibels").text(), QStringLiteral("-----"));
        QVERIFY(!part<QAbstractButton>(view, "gainUp").isEnabled());
    }

    void anAutomaticScanSkipsASilentPortAndSaysSoAsItGoes() {
        InstrumentSettings settings;
        settings.frameRate = 16;
        settings.gain = 1023;
        Running orvane(settings, {});
        QVERIFY(orvane.started);
        QVERIFY(orvane.addSilentPort(kPort - 1));
        OrvaneView& view = orvane.view();
        const Seen dialog([&view] {
            return view.notificationDialog() != nullptr ? view.notificationDialog()->text() : QString();
        });
        view.autoConnect();
        QTRY_VERIFY_WITH_TIMEOUT(view.supervisor().state() == DeviceSupervisor::State::Streaming,
                                 3 * kStepMs);
        QVERIFY(view.notificationDialog() == nullptr);

        // In order, with whatever real ports the machine has before them.
        const QStringList expected{
            QStringLiteral("Scanning ports. Please wait..."),
            QStringLiteral(R"(Interrogating port..."\.\COM%1".)").arg(kPort - 1),
            QStringLiteral(R"(No Orvane found on port...\\.\COM%1!)").arg(kPort - 1),
            QStringLiteral(R"(Interrogating port..."\.\COM%1".)").arg(kPort),
            QStringLiteral(R"(Connecting to a Orvane found on port "\.\COM%1")").arg(kPort),
        };
        qsizetype at = 0;
        for (const QString& text : dialog.texts()) {
            if (at < expected.size() && text == expected[at]) {
                ++at;
            }
        }
        QVERIFY2(at == expected.size(), qPrintable(dialog.texts().join(QLatin1Char('\n'))));
        const QString history = part<app::HistoryWnd>(view, "historyWnd").toPlainText();
        QVERIFY(history.contains(QStringLiteral(R"(No Orvane found on port...\\.\COM%1!)").arg(kPort - 1)));
        QVERIFY(history.contains(QLatin1String("Connected.")));
        // In tolerance at once: the dialog shows this only for the moment of the check.
        QVERIFY(history.contains(QLatin1String("Validating Orvane settings.")));
        QVERIFY(received(orvane.simulator(), "2")); // START_STREAMING
    }

    void theDevicesTroublesRaiseTheirAlerts() {
        InstrumentSettings settings;
        settings.gain = 1000;
        // Ten heartbeats at 12 V, then ten at 3 V, over and over.
        settings.voltageProfile.assign(10, 12.0F);
        settings.voltageProfile.insert(settings.voltageProfile.end(), 10, 3.0F);
        FaultSettings faults;
        faults.ignoreCommand = "SET_GAIN"; // once: the correction is never acknowledged
        faults.heartbeatsStopAfter = 45;
        Running orvane(settings, faults);
        QVERIFY(orvane.started);
        wyr::windows::config::ConfigMgr::instance().setInt(L"Device.WatchDogTimeout", 1);
        OrvaneView& view = orvane.view();
        const Seen alerts(alertTexts);
        QVERIFY(orvane.choosePort());
        const auto raised = [&alerts](const QString& text) {
            for (const QString& shown : alerts.texts()) {
                if (shown.split(QLatin1Char('|')).contains(text)) {
                    return true;
                }
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(raised(QStringLiteral("[SET_GAIN] command failed!")), kStepMs);
        QTRY_VERIFY_WITH_TIMEOUT(view.supervisor().state() == DeviceSupervisor::State::Streaming, kStepMs);
        QTRY_VERIFY_WITH_TIMEOUT(raised(QStringLiteral("Under voltage!")), kStepMs);
        QTRY_VERIFY_WITH_TIMEOUT(raised(QStringLiteral("Voltage fluctuation!")), kStepMs);
        QTRY_VERIFY_WITH_TIMEOUT(raised(QStringLiteral("Unable to communication with Orvane X1!")), kStepMs);
        QCOMPARE(part<controls::LedCtrl>(view, "deviceLed").state(), 3);
        part<QAbstractButton>(view, "disconnect").click();
        QTRY_VERIFY_WITH_TIMEOUT(raised(QStringLiteral("Disconnected.")), kStepMs);
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
