#include "app/FirmwareUpdateDlg.h"
#include "app/SerialNumberDlg.h"
#include "bootloader/BootloaderImpl.h"
#include "bootloader/BootloaderPort.h"
#include "bootloader/FieldRow.h"
#include "bootloader/InfoColumn.h"
#include "sim/InstrumentSimulator.h"
#include "tests/ui/support/AppEnvironment.h"
#include "tests/ui/support/ModalDialogs.h"
#include "tests/ui/support/UiTest.h"
#include "tests/unit/bootloader/TestImage.h"
#include "wyr/windows/ui/MessageQueuePump.h"
#include "wyr/windows/ui/ProgressDlg.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <boost/signals2/connection.hpp>
#include <memory>

using app::FirmwareUpdateDlg;
using bootloader::BootloaderNotifyState;
using bootloader::BootloaderNotifyType;
using bootloader::FieldRow;
using bootloader::InfoColumn;
using test::TestImage;

namespace {

// The simulated device: eight 512-byte pages written in 64-byte blocks.
constexpr std::uint32_t kAppStart = 0x001000;
constexpr std::uint32_t kAppEnd = 0x001FFF;
constexpr int kUpdateTimeoutMs = 30000;

// The info block an image carries in its top twelve bytes.
struct ImageBlock {
    std::uint8_t productCode = 0x42;
    std::uint16_t serial = 0x1234;
    std::uint32_t start = kAppStart; // the image's first byte
};

QPushButton* button(const FirmwareUpdateDlg& dialog, const char* name) {
    return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
}

QTableWidgetItem* cell(const FirmwareUpdateDlg& dialog, const FieldRow& row, const InfoColumn& column) {
    return dialog.findChild<QTableWidget*>(QStringLiteral("properties"))
        ->item(row.value() - 1, column.value());
}

QString text(const FirmwareUpdateDlg& dialog, const FieldRow& row, const InfoColumn& column) {
    return cell(dialog, row, column)->text();
}

// Whether `parts` appear in `texts` in this order.
bool inOrder(const QStringList& texts, const QStringList& parts) {
    qsizetype from = 0;
    for (const QString& part : parts) {
        from = texts.indexOf(part, from);
        if (from < 0) {
            return false;
        }
    }
    return true;
}

} // namespace

// The dialog against the bootloader talking to the simulated instrument on a
// pseudo-terminal: what the technician sees from the query to the restart.
class FirmwareUpdateSimTest : public QObject {
    Q_OBJECT

private:
    void startDevice(bool withApplication, sim::FaultSettings faults = {}) {
        sim::InstrumentSettings settings;
        settings.heartbeatPeriodMs = 200;
        settings.bootloader.appStart = kAppStart;
        settings.bootloader.appEnd = kAppEnd;
        // A device whose earlier update never signed its image powers up in its bootloader.
        settings.bootloader.startInBootloader = !withApplication;
        settings.bootloader.interruptedUpdate = withApplication;
        _simulator = std::make_unique<sim::InstrumentSimulator>(settings, faults);
        QCOMPARE(_simulator->start(), 0U);
        wyr::windows::communication::PortHandle port;
        QCOMPARE(bootloader::BootloaderPort::open(_simulator->comNumber(), {}, port), 0U);
        _bootloader = std::make_unique<bootloader::BootloaderImpl>();
        QCOMPARE(_bootloader->initialize(std::move(port), bootloader::BootloaderEntry::FoundInBootloader),
                 0U);
    }

    QString writeImage(const ImageBlock& block) {
        _image = std::make_unique<TestImage>();
        _image->add(block.start, TestImage::pattern(100, 0x31));
        _image->add(kAppEnd - 11, {static_cast<std::uint8_t>(block.serial >> 8),
                                   static_cast<std::uint8_t>(block.serial & 0xFF), 0x30, 0x04, 0x00,
                                   0x07, // version 3.4.0.7
                                   0x40, 0x66, 0x09, 0x80, block.productCode, 0x0C});
        return QString::fromStdString(_image->write(32));
    }

    // Shown, and the device's answer in the list.
    static void queried(FirmwareUpdateDlg& dialog) {
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(!text(dialog, FieldRow::Version, InfoColumn::Bootloader).isEmpty(), 15000);
        QVERIFY(!dialog.busy());
    }

    // Browse, the file chosen in the file dialog, and the image loaded.
    static void browse(FirmwareUpdateDlg& dialog, const QString& path) {
        QStringList filters;
        QString suffix;
        test::whenModal<QFileDialog>([&](QFileDialog& files) {
            filters = files.nameFilters();
            suffix = files.defaultSuffix();
            // Typed, as the user would: the dialog's own list fills in the background.
            auto* name = files.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name != nullptr);
            name->setText(path);
            static_cast<QDialog&>(files).accept(); // QFileDialog hides it
            if (files.isVisible()) {
                files.reject(); // a failure of the checks below, not a hang
            }
        });
        QTest::mouseClick(button(dialog, "browse"), Qt::LeftButton);
        QCOMPARE(filters, QStringList({"HEX Files (*.hex)", "ALL (*.*)"}));
        QCOMPARE(suffix, QStringLiteral("hex"));
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("path"))->text(), path);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.busy(), 10000);
    }

    // Update pressed once, until the caption reads "Close".
    static void updated(FirmwareUpdateDlg& dialog) {
        QVERIFY(button(dialog, "update")->isEnabled());
        QTest::mouseClick(button(dialog, "update"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(button(dialog, "cancel")->text(), QStringLiteral("Close"),
                                  kUpdateTimeoutMs);
        QTRY_VERIFY(!dialog.busy());
        QVERIFY(dialog.findChild<wyr::windows::ui::ProgressDlg*>() == nullptr);
        QVERIFY(!button(dialog, "update")->isEnabled());
    }

    // Close pressed: the reset confirmed, the dialog ended with 0.
    void closed(FirmwareUpdateDlg& dialog) {
        QSignalSpy finished(&dialog, &QDialog::finished);
        QTest::mouseClick(button(dialog, "cancel"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QCOMPARE(finished.first().first().toInt(), FirmwareUpdateDlg::kClosed);
        QTRY_VERIFY(!_simulator->status().inBootloader);
    }

    std::unique_ptr<test::AppEnvironment> _environment;
    std::unique_ptr<wyr::windows::ui::MessageQueuePump> _pump;
    std::unique_ptr<sim::InstrumentSimulator> _simulator;
    std::unique_ptr<bootloader::BootloaderImpl> _bootloader;
    std::unique_ptr<TestImage> _image;

private Q_SLOTS:
    void initTestCase() {
        _pump = std::make_unique<wyr::windows::ui::MessageQueuePump>();
        QVERIFY(_pump->isValid());
    }
    void init() { _environment = std::make_unique<test::AppEnvironment>(); }
    void cleanup() {
        _bootloader.reset();
        _simulator.reset();
        _image.reset();
        _environment.reset();
    }

    void aWholeUpdateFromTheQueryToTheRestart() {
        startDevice(true);
        const QString path = writeImage(ImageBlock{});
        FirmwareUpdateDlg dialog(*_bootloader, false);
        // After the dialog's own handler: what its progress window shows for each record.
        QStringList shown;
        bool progressKeptAfterErase = false;
        bool startable = false;
        const boost::signals2::scoped_connection recorder =
            _bootloader->connect([&](const bootloader::tagBLNHDR* record) {
                const auto* progress = dialog.findChild<wyr::windows::ui::ProgressDlg*>();
                if (progress != nullptr && (shown.isEmpty() || shown.last() != progress->text())) {
                    shown << progress->text();
                }
                if (record->type == BootloaderNotifyType::EraseTarget) {
                    startable = startable || button(dialog, "update")->isEnabled() ||
                                button(dialog, "browse")->isEnabled();
                    if (record->state == BootloaderNotifyState::Completed) {
                        progressKeptAfterErase = progress != nullptr;
                    }
                }
            });
        queried(dialog);
        QCOMPARE(text(dialog, FieldRow::Version, InfoColumn::Bootloader), QStringLiteral("1.0.3.2"));
        QCOMPARE(text(dialog, FieldRow::Version, InfoColumn::Target), QStringLiteral("1.2.3.45"));
        QCOMPARE(text(dialog, FieldRow::StartAddress, InfoColumn::Target), QStringLiteral("N/A"));
        QVERIFY(!button(dialog, "update")->isEnabled());

        browse(dialog, path);
        QCOMPARE(text(dialog, FieldRow::Version, InfoColumn::Source), QStringLiteral("3.4.0.7"));
        QCOMPARE(text(dialog, FieldRow::SerialNo, InfoColumn::Source), QStringLiteral("4660"));
        QCOMPARE(dialog.check().markedCount(), 0U);
        QCOMPARE(button(dialog, "cancel")->text(), QStringLiteral("Cancel"));

        updated(dialog);
        QVERIFY2(inOrder(shown, {"Reading file", "Processing line 1 of 6", "Erasing Target",
                                 "Erasing page 1 of 8", "Erasing page 8 of 8", "Writing Target",
                                 "Writing flash block 1 of 16", "Writing flash block 16 of 16"}),
                 qPrintable(shown.join(QLatin1Char('|'))));
        QVERIFY(progressKeptAfterErase);
        QVERIFY(!startable);

        closed(dialog);
        QCOMPARE(_simulator->status().firmwareVersion, std::string("3.4.0.7"));
    }

    void anImageTheDeviceCannotTakeIsMarkedAndNotOffered_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("row");
        QTest::newRow("start address") << 0x42 << 0x1200 << FieldRow::StartAddress.value();
        QTest::newRow("product code") << 0x43 << int{kAppStart} << FieldRow::ProductCode.value();
    }

    void anImageTheDeviceCannotTakeIsMarkedAndNotOffered() {
        QFETCH(int, product);
        QFETCH(int, start);
        QFETCH(int, row);
        startDevice(false);
        ImageBlock block;
        block.productCode = static_cast<std::uint8_t>(product);
        block.start = static_cast<std::uint32_t>(start);
        const QString path = writeImage(block);
        FirmwareUpdateDlg dialog(*_bootloader, true);
        queried(dialog);
        // No application: no Target column.
        QCOMPARE(text(dialog, FieldRow::Version, InfoColumn::Target), QString());
        browse(dialog, path);

        const FieldRow& marked = *FieldRow::fromValue(row);
        for (const auto& [value, field] : FieldRow::registry()) {
            for (const auto& [columnValue, column] : InfoColumn::registry()) {
                const bool red = *field == marked && *column == InfoColumn::Source;
                QCOMPARE(cell(dialog, *field, *column)->background().color(),
                         red ? QColor(255, 0, 0) : QColor(255, 255, 255));
                QCOMPARE(cell(dialog, *field, *column)->foreground().color(), QColor(Qt::black));
            }
        }
        QVERIFY(!button(dialog, "update")->isEnabled());
        QVERIFY(!button(dialog, "setSerial")->isEnabled());
    }

    void anImageWithoutSerialNumberGetsOneInAdministratorMode() {
        startDevice(false);
        ImageBlock block;
        block.serial = 0;
        const QString path = writeImage(block);
        FirmwareUpdateDlg dialog(*_bootloader, true);
        queried(dialog);
        browse(dialog, path);
        QCOMPARE(text(dialog, FieldRow::SerialNo, InfoColumn::Source), QStringLiteral("N/A"));
        QVERIFY(!button(dialog, "update")->isEnabled());
        QVERIFY(button(dialog, "setSerial")->isEnabled());

        test::whenModal<app::SerialNumberDlg>([](app::SerialNumberDlg& serial) {
            serial.setText(QStringLiteral("4242"));
            serial.accept();
        });
        QTest::mouseClick(button(dialog, "setSerial"), Qt::LeftButton);
        QCOMPARE(text(dialog, FieldRow::SerialNo, InfoColumn::Source), QStringLiteral("4242"));
        updated(dialog);
        closed(dialog);
        QCOMPARE(_simulator->status().serialNumber, 4242);
    }

    void faultsTheWriteRecoversFromStillEndInAVerifiedImage_data() {
        QTest::addColumn<int>("badPageCrcAt");
        QTest::addColumn<int>("failBlockAt");
        QTest::newRow("page checksum wrong once") << 1 << 0;
        QTest::newRow("block refused once") << 0 << 3;
    }

    void faultsTheWriteRecoversFromStillEndInAVerifiedImage() {
        QFETCH(int, badPageCrcAt);
        QFETCH(int, failBlockAt);
        sim::FaultSettings faults;
        faults.badPageCrcAt = static_cast<unsigned>(badPageCrcAt);
        faults.failBlockAt = static_cast<unsigned>(failBlockAt);
        startDevice(true, faults);
        const QString path = writeImage(ImageBlock{});
        FirmwareUpdateDlg dialog(*_bootloader, false);
        queried(dialog);
        browse(dialog, path);
        updated(dialog);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        closed(dialog);
        QCOMPARE(_simulator->status().firmwareVersion, std::string("3.4.0.7"));
    }

    void aWriteThatKeepsFailingIsReportedAndNeverSigned() {
        sim::FaultSettings faults;
        faults.failEveryBlock = true;
        startDevice(true, faults);
        const QString path = writeImage(ImageBlock{});
        FirmwareUpdateDlg dialog(*_bootloader, false);
        queried(dialog);
        browse(dialog, path);
        for (int attempt = 0; attempt < 2; ++attempt) {
            QString message;
            test::whenModal<QMessageBox>([&message](QMessageBox& box) {
                message = box.text();
                box.accept();
            });
            QTest::mouseClick(button(dialog, "update"), Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(message, QStringLiteral("Failed to write target."), kUpdateTimeoutMs);
            QVERIFY(!dialog.busy());
            QVERIFY(dialog.findChild<wyr::windows::ui::ProgressDlg*>() == nullptr);
            // The erase stands; Update starts the write again.
            QCOMPARE(_bootloader->getState(), BootloaderNotifyType::EraseTarget);
            QCOMPARE(button(dialog, "cancel")->text(), QStringLiteral("Cancel"));
            QVERIFY(button(dialog, "update")->isEnabled());
        }
        QSignalSpy finished(&dialog, &QDialog::finished);
        QTest::mouseClick(button(dialog, "cancel"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QCOMPARE(finished.first().first().toInt(), FirmwareUpdateDlg::kCancelled);
        // Reset, the device stays in its bootloader for another try.
        QTest::qWait(200);
        QVERIFY(_simulator->status().inBootloader);
    }

    void anUnopenableFileIsToldAndAnotherCanBeChosen() {
        startDevice(false);
        const QString path = writeImage(ImageBlock{});
        FirmwareUpdateDlg dialog(*_bootloader, false);
        queried(dialog);
        QString message;
        test::whenModal<QMessageBox>([&message](QMessageBox& box) {
            message = box.text();
            box.accept();
        });
        dialog.loadFile(path + QStringLiteral(".missing"));
        QTRY_VERIFY_WITH_TIMEOUT(message.startsWith(QStringLiteral("Failed to open file")), 10000);
        QVERIFY(!dialog.busy());
        QVERIFY(dialog.findChild<wyr::windows::ui::ProgressDlg*>() == nullptr);
        browse(dialog, path);
        QVERIFY(button(dialog, "update")->isEnabled());
    }
};

ORVANE_UI_TEST(FirmwareUpdateSimTest)
#include "FirmwareUpdateSimTest.moc"
