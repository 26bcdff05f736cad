#include "app/SerialNumberDlg.h"
#include "app/SerialSettingsDlg.h"
#include "tests/ui/support/ModalDialogs.h"
#include "tests/ui/support/UiTest.h"
#include "tests/unit/support/FakeSerialTree.h"
#include "wyr/windows/communication/FlowControl.h"
#include "wyr/windows/communication/Parity.h"
#include "wyr/windows/communication/StopBits.h"
#include "wyr/windows/config/ConfigMgr.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <fstream>

using app::SerialNumberDlg;
using app::SerialSettingsDlg;
namespace comm = wyr::windows::communication;

namespace {

class OwnConfigMgr : public wyr::windows::config::ConfigMgr {
public:
    OwnConfigMgr() = default;
};

QComboBox* box(const SerialSettingsDlg& dialog, const char* name) {
    return dialog.findChild<QComboBox*>(QString::fromLatin1(name));
}

} // namespace

class SerialDialogsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theSerialNumberIsADigitsOnlyNumberUpTo65535_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("0") << "0" << true << 0 << "";
        QTest::newRow("65535") << "65535" << true << 65535 << "";
        QTest::newRow("letters dropped") << "4a2b" << true << 42 << "";
        QTest::newRow("65536") << "65536" << false << 0 << SerialNumberDlg::kRangeMessage;
        QTest::newRow("beyond 64 bits")
            << "99999999999999999999999" << false << 0 << SerialNumberDlg::kRangeMessage;
        QTest::newRow("empty") << "" << false << 0 << SerialNumberDlg::kEmptyMessage;
    }

    void theSerialNumberIsADigitsOnlyNumberUpTo65535() {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QFETCH(int, value);
        QFETCH(QString, message);
        SerialNumberDlg dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Set Serial No"));
        dialog.show();
        auto* entry = dialog.findChild<QLineEdit*>(QStringLiteral("serialNumber"));
        QTest::keyClicks(entry, typed);
        QString shown;
        if (!accepted) {
            test::whenModal<QMessageBox>([&shown](QMessageBox& box) {
                shown = box.text();
                box.accept();
            });
        }
        QSignalSpy done(&dialog, &QDialog::accepted);
        QTest::mouseClick(dialog.findChild<QWidget*>(QStringLiteral("ok")), Qt::LeftButton);
        QCOMPARE(done.count(), accepted ? 1 : 0);
        QCOMPARE(shown, message);
        if (accepted) {
            QCOMPARE(int{dialog.value()}, value);
        } else {
            QVERIFY(dialog.isVisible()); // refused: the user corrects it
        }
    }

    void theSerialSettingsListThePortsAndStartFromTheStore() {
        test::FakeSerialTree tree;
        const auto target = tree.root / "pty7";
        std::ofstream(target) << "";
        tree.publish("COM7", target);
        OwnConfigMgr config;
        config.setInt(L"Device.Serial.PortNumber", 7);
        config.setInt(L"Device.Serial.BaudRate", 19200);
        config.setInt(L"Device.Serial.DataBits", 7);
        config.setInt(L"Device.Serial.Parity", comm::Parity::Even.value());
        config.setInt(L"Device.Serial.StopBits", comm::StopBits::Two.value());
        config.setInt(L"Device.Serial.FlowControl", 12345); // no flow control: its default stands in

        SerialSettingsDlg dialog(config, L"Device", tree.enumerator());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Serial Settings"));
        QComboBox* port = box(dialog, "port");
        QCOMPARE(port->count(), 2);
        QCOMPARE(port->itemText(0), QStringLiteral("DISABLED"));
        QCOMPARE(port->itemData(0).toInt(), -1);
        QCOMPARE(port->itemText(1),
                 QStringLiteral("COM7 <Linked port (%1)>").arg(QString::fromStdString(target.string())));
        QCOMPARE(port->itemData(1).toInt(), 7);
        QCOMPARE(port->currentIndex(), 1);
        QCOMPARE(box(dialog, "baudRate")->currentData().toInt(), 19200);
        QCOMPARE(box(dialog, "baudRate")->currentText(), QStringLiteral("19200"));
        QCOMPARE(box(dialog, "dataBits")->currentData().toInt(), 7);
        QCOMPARE(box(dialog, "parity")->currentText(), QStringLiteral("Even"));
        QCOMPARE(box(dialog, "stopBits")->currentText(), QStringLiteral("2"));
        QCOMPARE(box(dialog, "flowControl")->currentData().toInt(), comm::FlowControl::None.value());

        box(dialog, "baudRate")->setCurrentIndex(box(dialog, "baudRate")->findData(115200));
        dialog.accept();
        QCOMPARE(dialog.port(), std::optional<std::int32_t>(7));
        QCOMPARE(dialog.devicePath(), QStringLiteral("\\\\.\\COM7"));
        const auto& chosen = dialog.lineSettings();
        QCOMPARE(chosen.baudRate, 115200U);
        QCOMPARE(int{chosen.dataBits}, 7);
        QVERIFY(*chosen.parity == comm::Parity::Even);
        QVERIFY(*chosen.stopBits == comm::StopBits::Two);
        QVERIFY(*chosen.flowControl == comm::FlowControl::None);

        // "DISABLED" with OK chooses nothing.
        SerialSettingsDlg disabled(config, L"Device", tree.enumerator());
        box(disabled, "port")->setCurrentIndex(0);
        disabled.accept();
        QVERIFY(!disabled.port().has_value());
        QCOMPARE(disabled.devicePath(), QString());
    }
};

ORVANE_UI_TEST(SerialDialogsTest)
#include "SerialDialogsTest.moc"
