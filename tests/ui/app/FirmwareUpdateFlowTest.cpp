#include "app/FirmwareUpdateDlg.h"
#include "app/HistoryWnd.h"
#include "app/MainFrame.h"
#include "app/OrvaneApp.h"
#include "app/OrvaneView.h"
#include "app/SerialSettingsDlg.h"
#include "bootloader/FieldRow.h"
#include "bootloader/InfoColumn.h"
#include "device/DeviceSupervisor.h"
#include "sim/InstrumentSimulator.h"
#include "tests/ui/support/AppEnvironment.h"
#include "tests/ui/support/ModalDialogs.h"
#include "tests/ui/support/UiTest.h"
#include "tests/unit/bootloader/TestImage.h"
#include "wyr/windows/ui/TaskDialog.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using app::FirmwareUpdateDlg;
using app::MainFrame;
using device::DeviceSupervisor;
using test::TestImage;
using wyr::windows::ui::TaskDialog;

namespace {

constexpr std::uint32_t kAppStart = 0x001000;
constexpr std::uint32_t kAppEnd = 0x001FFF;
constexpr int kStepMs = 30000;

QPushButton* button(const FirmwareUpdateDlg& dialog, const char* name) {
    return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
}

// The bootloader's answer in the list: the query is done.
QString bootloaderVersion(const FirmwareUpdateDlg& dialog) {
    const auto* item =
        dialog.findChild<QTableWidget*>(QStringLiteral("properties"))
            ->item(bootloader::FieldRow::Version.value() - 1, bootloader::InfoColumn::Bootloader.value());
    return item != nullptr ? item->text() : QString();
}

QString instructionOf(const TaskDialog& dialog) {
    const auto* label = dialog.findChild<QLabel*>(QStringLiteral("mainInstruction"));
    return label != nullptr ? label->text() : QString();
}

// The program against a simulated instrument, from the menu command to the
// application's return.
class Bench {
public:
    Bench(bool admin, bool inBootloader)
        : _orvane({QStringLiteral("orvane"), QLatin1String(admin ? "-admin" : "-noadmin")}) {
        sim::InstrumentSettings settings;
        settings.heartbeatPeriodMs = 200;
        settings.frameRate = 16;
        settings.gain = 1023;
        settings.bootloader.appStart = kAppStart;
        settings.bootloader.appEnd = kAppEnd;
        settings.bootloader.startInBootloader = inBootloader;
        _simulator = std::make_unique<sim::InstrumentSimulator>(settings, sim::FaultSettings{});
        started = _simulator->start() == 0 && _orvane.initInstance();
    }
    ~Bench() { _orvane.exitInstance(); }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    MainFrame& frame() { return *_orvane.mainFrame(); }
    sim::InstrumentSimulator& simulator() { return *_simulator; }

    bool streaming() {
        return frame().view().supervisor().scanPort(_simulator->comNumber()) == 0 &&
               QTest::qWaitFor(
                   [this] {
                       return frame().view().supervisor().state() == DeviceSupervisor::State::Streaming;
                   },
                   kStepMs);
    }

    QString image() {
        _image = std::make_unique<TestImage>();
        _image->add(kAppStart, TestImage::pattern(100, 0x31));
        _image->add(kAppEnd - 11, {0x12, 0x34, 0x30, 0x04, 0x00, 0x07, // serial 0x1234, version 3.4.0.7
                                   0x40, 0x66, 0x09, 0x80, 0x42, 0x0C});
        return QString::fromStdString(_image->write(32));
    }

    bool started = false;

private:
    test::AppEnvironment _environment;
    app::OrvaneApp _orvane;
    std::unique_ptr<sim::InstrumentSimulator> _simulator;
    std::unique_ptr<TestImage> _image;
};

} // namespace

class FirmwareUpdateFlowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fromAConnectedDeviceToItsNewFirmwareAndBack() {
        Bench bench(false, false);
        QVERIFY(bench.started);
        QVERIFY(bench.streaming());
        MainFrame& frame = bench.frame();

        QString instruction;
        test::pressTaskDialog(MainFrame::kContinue,
                              [&instruction](TaskDialog& dialog) { instruction = instructionOf(dialog); });
        frame.command(MainFrame::UpdateFirmware)->trigger();
        QCOMPARE(instruction, QStringLiteral("WARNING!!!"));
        QVERIFY(frame.inUpdate());
        QVERIFY(!frame.isVisible());
        // The pause for the device's bootloader is the loop's, not a wait.
        QVERIFY(frame.updateDialog() == nullptr);
        // A later start meanwhile leaves the frame hidden.
        frame.activate();
        QVERIFY(!frame.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(frame.updateDialog() != nullptr, kStepMs);
        FirmwareUpdateDlg& dialog = *frame.updateDialog();
        QTRY_VERIFY_WITH_TIMEOUT(!bootloaderVersion(dialog).isEmpty() && !dialog.busy(), kStepMs);
        QVERIFY(bench.simulator().status().inBootloader);
        // The only window shown, yet its end is not the program's.
        QVERIFY(!dialog.testAttribute(Qt::WA_QuitOnClose));

        // A later start brings the dialog forward, not the hidden window.
        frame.activate();
        QVERIFY(!frame.isVisible());
        QVERIFY(dialog.isVisible());

        dialog.loadFile(bench.image());
        QTRY_VERIFY_WITH_TIMEOUT(button(dialog, "update")->isEnabled(), kStepMs);
        QTest::mouseClick(button(dialog, "update"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(button(dialog, "cancel")->text(), QStringLiteral("Close"), kStepMs);
        QTRY_VERIFY(!dialog.busy());
        QTest::mouseClick(button(dialog, "cancel"), Qt::LeftButton);

        // Back: the window shown, the link up again, the view ready to scan.
        QTRY_VERIFY_WITH_TIMEOUT(!frame.inUpdate(), kStepMs);
        QVERIFY(frame.isVisible());
        QVERIFY(frame.updateDialog() == nullptr);
        QCOMPARE(frame.view().supervisor().state(), DeviceSupervisor::State::Idle);
        QVERIFY(bench.streaming());
        QCOMPARE(bench.simulator().status().firmwareVersion, std::string("3.4.0.7"));
        // Every part of the view follows the device again, the history pane too.
        QTRY_VERIFY(
            frame.view().findChild<app::HistoryWnd*>()->toPlainText().contains(QLatin1String("Connected.")));
    }

    void aDeclinedWarningLeavesTheDeviceStreaming() {
        Bench bench(false, false);
        QVERIFY(bench.started);
        QVERIFY(bench.streaming());
        test::pressTaskDialog(MainFrame::kCancel);
        bench.frame().command(MainFrame::UpdateFirmware)->trigger();
        QVERIFY(!bench.frame().inUpdate());
        QVERIFY(bench.frame().isVisible());
        QVERIFY(bench.frame().view().supervisor().state() == DeviceSupervisor::State::Streaming);
        QVERIFY(!bench.simulator().status().inBootloader);
    }

    void withoutADeviceAnOperatorGetsNothing() {
        Bench bench(false, false);
        QVERIFY(bench.started);
        bench.frame().enterBootloader();
        QVERIFY(!bench.frame().inUpdate());
        QVERIFY(bench.frame().isVisible());
    }

    void anAdministratorReachesADeviceWaitingInItsBootloaderAndCancels() {
        Bench bench(true, true);
        QVERIFY(bench.started);
        MainFrame& frame = bench.frame();
        const int com = bench.simulator().comNumber();
        QString instruction;
        test::pressTaskDialog(MainFrame::kContinue,
                              [&instruction](TaskDialog& dialog) { instruction = instructionOf(dialog); });
        test::whenModal<app::SerialSettingsDlg>([com](app::SerialSettingsDlg& settings) {
            auto* port = settings.findChild<QComboBox*>(QStringLiteral("port"));
            QVERIFY(port != nullptr);
            QCOMPARE(port->itemText(0), QStringLiteral("DISABLED"));
            const int index = port->findData(com);
            QVERIFY(index > 0);
            port->setCurrentIndex(index);
            settings.accept();
        });
        QVERIFY(frame.command(MainFrame::UpdateFirmware)->isEnabled());
        frame.command(MainFrame::UpdateFirmware)->trigger();
        QCOMPARE(instruction, QStringLiteral("WARNING!!!"));
        QVERIFY(frame.updateDialog() != nullptr);
        FirmwareUpdateDlg& dialog = *frame.updateDialog();
        QVERIFY(button(dialog, "setSerial")->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!bootloaderVersion(dialog).isEmpty() && !dialog.busy(), kStepMs);

        QTest::mouseClick(button(dialog, "cancel"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!frame.inUpdate(), kStepMs);
        QVERIFY(frame.isVisible());
        // Found in its bootloader, it is left there for another try.
        QVERIFY(bench.simulator().status().inBootloader);
    }

    void disabledInTheSerialSettingsLeavesLikeCancel() {
        Bench bench(true, true);
        QVERIFY(bench.started);
        MainFrame& frame = bench.frame();
        test::pressTaskDialog(MainFrame::kContinue);
        test::whenModal<app::SerialSettingsDlg>([](app::SerialSettingsDlg& settings) {
            settings.findChild<QComboBox*>(QStringLiteral("port"))->setCurrentIndex(0); // "DISABLED"
            settings.accept();
        });
        frame.command(MainFrame::UpdateFirmware)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!frame.inUpdate(), kStepMs);
        QVERIFY(frame.isVisible());
        QVERIFY(frame.updateDialog() == nullptr);
        QCOMPARE(frame.view().supervisor().state(), DeviceSupervisor::State::Idle);
    }
};

ORVANE_UI_TEST(FirmwareUpdateFlowTest)

#include "FirmwareUpdateFlowTest.moc"
