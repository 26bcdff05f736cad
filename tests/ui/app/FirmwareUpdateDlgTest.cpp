#include "app/FirmwareUpdateDlg.h"

#include "bootloader/FieldRow.h"
#include "bootloader/InfoColumn.h"
#include "tests/ui/app/FakeBootloader.h"
#include "tests/ui/support/ModalDialogs.h"
#include "tests/ui/support/UiTest.h"
#include "wyr/windows/ui/NotificationDlg.h"
#include "wyr/windows/ui/ProgressDlg.h"
#include "wyr/windows/ui/TaskDialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <string>
#include <vector>

using app::FirmwareUpdateDlg;
using bootloader::FieldRow;
using bootloader::InfoColumn;
using bootloader::UpdateCheck;
using test::FakeBootloader;
using wyr::windows::ui::NotificationDlg;
using wyr::windows::ui::ProgressDlg;
using wyr::windows::ui::TaskDialog;
using Type = FakeBootloader::Type;
using State = FakeBootloader::State;

namespace {

QPushButton* button(const FirmwareUpdateDlg& dialog, const char* name) {
    return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
}

QTableWidgetItem* cell(const FirmwareUpdateDlg& dialog, const FieldRow& row, int column) {
    return dialog.findChild<QTableWidget*>(QStringLiteral("properties"))->item(row.value() - 1, column);
}

QString notificationText(const FirmwareUpdateDlg& dialog) {
    const auto* window = dialog.findChild<NotificationDlg*>();
    return window != nullptr && window->isVisible() ? window->text() : QString();
}

bool waitCursor(const FirmwareUpdateDlg& dialog) {
    return dialog.testAttribute(Qt::WA_SetCursor) && dialog.cursor().shape() == Qt::WaitCursor;
}

// What the next message box said; it is answered with OK.
struct Message {
    QString text;
    QString details;
};

void answerMessage(Message& seen) {
    test::whenModal<QMessageBox>([&seen](QMessageBox& box) {
        seen.text = box.text();
        seen.details = box.informativeText();
        box.accept();
    });
}

// A dialog that has shown the device's answer: the bootloader's block, no application.
void answered(FakeBootloader& bootloader, FirmwareUpdateDlg& dialog) {
    dialog.show();
    QTRY_COMPARE(bootloader.last(), std::string("enterBootloadMode"));
    bootloader.step = Type::EnteredBootloadMode;
    bootloader.send(Type::EnteredBootloadMode, State::None);
    bootloader.device = FakeBootloader::deviceBlock();
    bootloader.step = Type::ReceivedTargetInfo;
    bootloader.send(Type::ReceivedTargetInfo, State::None);
}

} // namespace

class FirmwareUpdateDlgTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theListHasAColumnPerBlockAndARowPerField() {
        FakeBootloader bootloader;
        FirmwareUpdateDlg dialog(bootloader, false);
        dialog.show();
        const auto* list = dialog.findChild<QTableWidget*>(QStringLiteral("properties"));
        QCOMPARE(list->columnCount(), 4);
        const QStringList headers{"Field", "Bootloader", "Target", "Source"};
        for (int column = 0; column < 4; ++column) {
            QCOMPARE(list->horizontalHeaderItem(column)->text(), headers[column]);
            // A quarter of the width each.
            QVERIFY(qAbs(list->columnWidth(column) - list->viewport()->width() / 4) <= 1);
        }
        QCOMPARE(list->rowCount(), static_cast<int>(FieldRow::registry().size()));
        for (const auto& [value, row] : FieldRow::registry()) {
            QCOMPARE(list->item(value - 1, 0)->text(), QString::fromStdWString(row->name()));
            QCOMPARE(Qt::Alignment(list->item(value - 1, 2)->textAlignment()), Qt::AlignCenter);
            QCOMPARE(list->item(value - 1, 2)->background().color(), QColor(Qt::white));
        }
        QVERIFY(button(dialog, "setSerial")->isHidden());
        QVERIFY(!button(dialog, "update")->isEnabled());

        FirmwareUpdateDlg administrator(bootloader, true);
        QVERIFY(!button(administrator, "setSerial")->isHidden());
    }

    void theFirstShowQueriesTheDeviceAndRetriesTheInfoOnceWithoutAsking() {
        FakeBootloader bootloader;
        FirmwareUpdateDlg dialog(bootloader, false);
        dialog.show();
        QTRY_COMPARE(bootloader.calls, std::vector<std::string>{"enterBootloadMode"});
        QCOMPARE(notificationText(dialog), QStringLiteral("Querying device..."));
        QVERIFY(dialog.busy());
        QVERIFY(waitCursor(dialog));
        // Shown again: no second query.
        dialog.hide();
        dialog.show();
        QTest::qWait(20);
        QCOMPARE(bootloader.calls.size(), 1U);

        bootloader.step = Type::EnteredBootloadMode;
        bootloader.send(Type::EnteredBootloadMode, State::None);
        QCOMPARE(bootloader.last(), std::string("getTargetInfo"));
        bootloader.send(Type::ReceivedTargetInfo, State::None, 1460);
        QCOMPARE(notificationText(dialog), QStringLiteral("Querying device(2)..."));
        QCOMPARE(bootloader.calls.size(), 3U);

        bootloader.device = FakeBootloader::deviceBlock();
        bootloader.target = FakeBootloader::imageBlock();
        bootloader.target.type = bootloader::InfoBlockType::TargetInfoBlock;
        bootloader.step = Type::ReceivedTargetInfo;
        bootloader.send(Type::ReceivedTargetInfo, State::None);
        QVERIFY(dialog.findChild<NotificationDlg*>() == nullptr);
        QVERIFY(!dialog.busy());
        QVERIFY(!waitCursor(dialog));
        for (const auto& [value, row] : FieldRow::registry()) {
            QCOMPARE(cell(dialog, *row, InfoColumn::Bootloader.value())->text(),
                     QString::fromStdWString(
                         UpdateCheck::cellText(InfoColumn::Bootloader, *row, bootloader.device)));
            QCOMPARE(
                cell(dialog, *row, InfoColumn::Target.value())->text(),
                QString::fromStdWString(UpdateCheck::cellText(InfoColumn::Target, *row, bootloader.target)));
        }
        QCOMPARE(cell(dialog, FieldRow::StartAddress, InfoColumn::Bootloader.value())->text(),
                 QStringLiteral("0x001000"));
        // Nothing to program yet.
        QVERIFY(!button(dialog, "update")->isEnabled());
        QVERIFY(button(dialog, "browse")->isEnabled());
    }

    void anUnansweredQueryAsksRetryOrCancel_data() {
        QTest::addColumn<bool>("entering");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("instruction");
        QTest::addColumn<QString>("request");
        const QString entry = QStringLiteral("Target device failed to enter boot load mode.");
        const QString info = QStringLiteral("Target device failed to respond.");
        QTest::newRow("entry, Retry") << true << TaskDialog::IdRetry << entry << "enterBootloadMode";
        QTest::newRow("entry, Cancel") << true << TaskDialog::IdCancel << entry << "cancelBootloadMode";
        QTest::newRow("info, Retry") << false << TaskDialog::IdRetry << info << "getTargetInfo";
        QTest::newRow("info, Cancel") << false << TaskDialog::IdCancel << info << "cancelBootloadMode";
    }

    void anUnansweredQueryAsksRetryOrCancel() {
        QFETCH(bool, entering);
        QFETCH(int, answer);
        QFETCH(QString, instruction);
        QFETCH(QString, request);
        FakeBootloader bootloader;
        FirmwareUpdateDlg dialog(bootloader, false);
        dialog.show();
        QTRY_COMPARE(bootloader.last(), std::string("enterBootloadMode"));
        QString title;
        QString asked;
        test::pressTaskDialog(answer, [&](TaskDialog& task) {
            title = task.windowTitle();
            asked = task.findChild<QLabel*>(QStringLiteral("mainInstruction"))->text();
        });
        if (entering) {
            bootloader.send(Type::EnteredBootloadMode, State::None, 1460);
        } else {
            bootloader.step = Type::EnteredBootloadMode;
            bootloader.send(Type::EnteredBootloadMode, State::None);
            bootloader.send(Type::ReceivedTargetInfo, State::None, 1460); // the silent repeat
            bootloader.send(Type::ReceivedTargetInfo, State::None, 1460);
        }
        // The question waits for nothing: no wait cursor, no notification window behind it.
        QVERIFY(!waitCursor(dialog));
        QVERIFY(dialog.findChild<NotificationDlg*>() == nullptr);
        const std::size_t before = bootloader.calls.size();
        QTRY_COMPARE(title, QStringLiteral("Bootloader"));
        QTRY_COMPARE(bootloader.calls.size(), before + 1);
        QCOMPARE(QString::fromStdString(bootloader.last()), request);
        QCOMPARE(asked, instruction);
        if (answer == TaskDialog::IdRetry) {
            QCOMPARE(notificationText(dialog), QStringLiteral("Querying device..."));
            QVERIFY(dialog.busy());
        }
    }

    void cancelBeforeTheBootloaderAnsweredEndsWith1223() {
        FakeBootloader bootloader;
        FirmwareUpdateDlg dialog(bootloader, false);
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.show();
        QTRY_COMPARE(bootloader.last(), std::string("enterBootloadMode"));
        QTest::mouseClick(button(dialog, "cancel"), Qt::LeftButton);
        QCOMPARE(bootloader.last(), std::string("cancelBootloadMode"));
        // The entry that was under way fails; the user is not asked about it.
        bootloader.step = Type::ResetTarget;
        bootloader.send(Type::EnteredBootloadMode, State::None, 1460);
        QTest::qWait(50);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QCOMPARE(finished.count(), 0);
        // Pressed again while leaving: nothing more is sent.
        dialog.close();
        QCOMPARE(bootloader.calls.size(), 2U);

        bootloader.send(Type::ResetTarget, State::None);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toInt(), FirmwareUpdateDlg::kCancelled);
        QCOMPARE(dialog.exitCode(), FirmwareUpdateDlg::kCancelled);
        QVERIFY(!dialog.isVisible());
        QVERIFY(dialog.findChild<NotificationDlg*>() == nullptr);
        QVERIFY(!waitCursor(dialog));
        // Records after the end reach nobody.
        bootloader.send(Type::ResetTarget, State::None);
        QCOMPARE(finished.count(), 1);
    }

    void aFailedStepClosesItsProgressAndLeavesTheDialogUsable_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("initiatedFails");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("details");
        QTest::addColumn<QString>("again");
        // A file that cannot be opened, and a signature page that cannot be erased,
        // end with their Initiated record.
        QTest::newRow("unopenable file") << Type::ReceivedTargetInfo.value() << Type::LoadSource.value()
                                         << true << "Failed to open file /nowhere/image.hex."
                                         << "[110] "
                                         << "loadFile";
        QTest::newRow("invalid file") << Type::ReceivedTargetInfo.value() << Type::LoadSource.value() << false
                                      << "Failed to read file /nowhere/image.hex."
                                      << "[13] "
                                      << "loadFile";
        QTest::newRow("signature page")
            << Type::LoadSource.value() << Type::EraseTarget.value() << true << "Failed to erase target."
            << "[31] "
            << "eraseTarget";
        QTest::newRow("erase") << Type::LoadSource.value() << Type::EraseTarget.value() << false
                               << "Failed to erase target."
                               << "[31] "
                               << "eraseTarget";
        QTest::newRow("write") << Type::EraseTarget.value() << Type::WriteTarget.value() << false
                               << "Failed to write target."
                               << "[31] "
                               << "writeTarget";
    }

    void aFailedStepClosesItsProgressAndLeavesTheDialogUsable() {
        QFETCH(int, step);
        QFETCH(int, type);
        QFETCH(bool, initiatedFails);
        QFETCH(QString, message);
        QFETCH(QString, details);
        QFETCH(QString, again);
        const Type& failing = Type::fromValueOrNone(type);
        const std::uint32_t code = failing == Type::LoadSource ? (initiatedFails ? 110 : 13) : 31;
        FakeBootloader bootloader;
        FirmwareUpdateDlg dialog(bootloader, true);
        answered(bootloader, dialog);
        if (!(Type::fromValueOrNone(step) < Type::LoadSource)) {
            bootloader.source = FakeBootloader::imageBlock();
        }
        bootloader.step = Type::fromValueOrNone(step);
        dialog.refreshButtons();

        const auto start = [&] {
            if (failing == Type::LoadSource) {
                dialog.loadFile(QStringLiteral("/nowhere/image.hex"));
            } else {
                QVERIFY(button(dialog, "update")->isEnabled());
                QTest::mouseClick(button(dialog, "update"), Qt::LeftButton);
            }
            QCOMPARE(QString::fromStdString(bootloader.last()), again);
            QVERIFY(waitCursor(dialog));
            // Nothing else starts while it runs.
            QVERIFY(!button(dialog, "update")->isEnabled());
            QVERIFY(!button(dialog, "browse")->isEnabled());
            QVERIFY(!button(dialog, "setSerial")->isEnabled());
        };
        start();
        if (failing == Type::LoadSource) {
            bootloader.source.reset(); // opening a file drops the image before it
        }
        Message seen;
        answerMessage(seen);
        if (initiatedFails) {
            bootloader.send(failing, State::Initiated, code);
        } else {
            bootloader.send(failing, State::Initiated, 0, 0, 8);
            bootloader.send(failing, State::Running, 0, 1, 8);
            QVERIFY(dialog.findChild<ProgressDlg*>() != nullptr);
            bootloader.send(failing, State::Completed, code, 1, 8);
        }
        QVERIFY(dialog.findChild<ProgressDlg*>() == nullptr);
        QVERIFY(!dialog.busy());
        QVERIFY(!waitCursor(dialog));
        QTRY_COMPARE(seen.text, message);
        QVERIFY2(seen.details.startsWith(details), qPrintable(seen.details));
        QVERIFY(dialog.isVisible());
        QVERIFY(button(dialog, "browse")->isEnabled());
        QCOMPARE(button(dialog, "cancel")->text(), QStringLiteral("Cancel"));
        if (failing == Type::LoadSource) {
            // No image is left to program: no Source column, no Update.
            QCOMPARE(cell(dialog, FieldRow::ProductCode, InfoColumn::Source.value())->text(), QString());
            QVERIFY(!button(dialog, "update")->isEnabled());
            QVERIFY(!button(dialog, "setSerial")->isEnabled());
            bootloader.source = FakeBootloader::imageBlock();
        }
        // And the same step can be tried again.
        start();
    }

    void aWriteThatVerifiedEndsWithCloseWhichResetsTheDevice() {
        FakeBootloader bootloader;
        FirmwareUpdateDlg dialog(bootloader, false);
        QSignalSpy finished(&dialog, &QDialog::finished);
        answered(bootloader, dialog);
        bootloader.source = FakeBootloader::imageBlock();
        bootloader.step = Type::LoadSource;
        dialog.refreshButtons();
        QTest::mouseClick(button(dialog, "update"), Qt::LeftButton);
        QCOMPARE(bootloader.last(), std::string("eraseTarget"));
        bootloader.send(Type::EraseTarget, State::Initiated, 0, 0, 8);
        QCOMPARE(dialog.findChild<ProgressDlg*>()->text(), QStringLiteral("Erasing Target"));
        bootloader.send(Type::EraseTarget, State::Running, 0, 8, 8);
        QCOMPARE(dialog.findChild<ProgressDlg*>()->text(), QStringLiteral("Erasing page 8 of 8"));
        QCOMPARE(dialog.findChild<ProgressDlg*>()->pos(), 8);
        bootloader.step = Type::EraseTarget;
        bootloader.send(Type::EraseTarget, State::Completed, 0, 8, 8);
        // The write follows by itself, in the same progress window.
        QCOMPARE(bootloader.last(), std::string("writeTarget"));
        QVERIFY(dialog.findChild<ProgressDlg*>() != nullptr);
        QVERIFY(!button(dialog, "update")->isEnabled());
        bootloader.send(Type::WriteTarget, State::Initiated, 0, 0, 16);
        bootloader.send(Type::WriteTarget, State::Running, 0, 16, 16);
        QCOMPARE(dialog.findChild<ProgressDlg*>()->text(), QStringLiteral("Writing flash block 16 of 16"));
        bootloader.send(Type::WriteTarget, State::Completed, 0, 16, 16);
        QVERIFY(dialog.findChild<ProgressDlg*>() == nullptr);
        // Still waiting for the signature.
        QVERIFY(dialog.busy());
        QVERIFY(!button(dialog, "update")->isEnabled());
        bootloader.step = Type::WriteTarget;
        bootloader.send(Type::WriteTarget, State::Completed);
        QVERIFY(!dialog.busy());
        QCOMPARE(button(dialog, "cancel")->text(), QStringLiteral("Close"));
        QVERIFY(!button(dialog, "update")->isEnabled());
        QVERIFY(!button(dialog, "browse")->isEnabled());

        // A reset that fails keeps the dialog, with Close.
        Message seen;
        answerMessage(seen);
        QTest::mouseClick(button(dialog, "cancel"), Qt::LeftButton);
        QCOMPARE(bootloader.last(), std::string("resetTarget"));
        bootloader.send(Type::ResetTarget, State::None, 1460);
        QTRY_COMPARE(seen.text, QStringLiteral("Failed to reset target."));
        QVERIFY(dialog.isVisible());
        QVERIFY(!waitCursor(dialog));
        QCOMPARE(button(dialog, "cancel")->text(), QStringLiteral("Close"));
        QCOMPARE(finished.count(), 0);

        QTest::mouseClick(button(dialog, "cancel"), Qt::LeftButton);
        QCOMPARE(bootloader.last(), std::string("resetTarget"));
        bootloader.step = Type::ResetTarget;
        bootloader.send(Type::ResetTarget, State::None);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toInt(), FirmwareUpdateDlg::kClosed);
    }

    void aSignatureThatCannotBeWrittenIsReportedNotPassedOver() {
        FakeBootloader bootloader;
        FirmwareUpdateDlg dialog(bootloader, false);
        answered(bootloader, dialog);
        bootloader.source = FakeBootloader::imageBlock();
        bootloader.step = Type::EraseTarget;
        dialog.refreshButtons();
        QTest::mouseClick(button(dialog, "update"), Qt::LeftButton);
        QCOMPARE(bootloader.last(), std::string("writeTarget"));
        bootloader.send(Type::WriteTarget, State::Initiated, 0, 0, 16);
        bootloader.send(Type::WriteTarget, State::Completed, 0, 16, 16);
        bootloader.step = Type::WriteTarget;
        Message seen;
        answerMessage(seen);
        bootloader.send(Type::WriteTarget, State::Completed, 31);
        QTRY_COMPARE(seen.text, QStringLiteral("Failed to write the application signature."));
        QVERIFY(!waitCursor(dialog));
    }
};

ORVANE_UI_TEST(FirmwareUpdateDlgTest)
#include "FirmwareUpdateDlgTest.moc"
