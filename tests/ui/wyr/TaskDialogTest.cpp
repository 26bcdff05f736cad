#include "wyr/windows/ui/TaskDialog.h"

#include "tests/ui/support/ModalDialogs.h"
#include "tests/ui/support/UiTest.h"

#include <QCommandLinkButton>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using wyr::windows::ui::TaskDialog;

namespace {

// The log failure dialog as the application shows it.
void fill(TaskDialog& dialog) {
    dialog.setWindowTitle(QStringLiteral("Orvane"));
    dialog.setIcon(TaskDialog::Icon::Error);
    dialog.setMainInstruction(QStringLiteral("Failed to open local log file."));
    dialog.setContent(QStringLiteral("Click cancel to exit the program."));
    dialog.setExpandedInformation(QStringLiteral("The system cannot find the path specified."),
                                  QStringLiteral("Show Details"), QStringLiteral("Hide Details"));
    dialog.addCommandLink(201, QStringLiteral("Continue\nNo log file will be created."));
    dialog.addCommandLink(202, QStringLiteral("Cancel\nOrvane will exit."));
    dialog.addButton(TaskDialog::IdOk);
    dialog.addButton(TaskDialog::IdRetry);
    dialog.setFooter(QStringLiteral("Support: support@example.com"));
}

QString labelText(TaskDialog& dialog, const char* name) {
    auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
    return label != nullptr ? label->text() : QStringLiteral("<missing>");
}

} // namespace

class TaskDialogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void execReturnsThePressedId_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("expected");
        QTest::newRow("first link") << "press 201" << 201;
        QTest::newRow("second link") << "press 202" << 202;
        QTest::newRow("OK button") << "press 1" << 1;
        QTest::newRow("Retry button") << "press 4" << 4;
        QTest::newRow("window closed") << "close" << TaskDialog::IdCancel;
        QTest::newRow("Escape") << "escape" << TaskDialog::IdCancel;
    }

    void execReturnsThePressedId() {
        QFETCH(QString, action);
        QFETCH(int, expected);
        TaskDialog dialog;
        fill(dialog);
        if (action.startsWith(QStringLiteral("press "))) {
            test::pressTaskDialog(action.mid(6).toInt());
        } else {
            test::whenModal<TaskDialog>([action](TaskDialog& shown) {
                if (action == QStringLiteral("close")) {
                    shown.close();
                } else {
                    QTest::keyClick(&shown, Qt::Key_Escape);
                }
            });
        }
        QCOMPARE(dialog.exec(), expected);
    }

    void showsItsTextsAndLinksWithTitleAndNote() {
        TaskDialog dialog;
        fill(dialog);
        QCOMPARE(dialog.objectName(), QStringLiteral("TaskDialog"));
        QCOMPARE(labelText(dialog, "mainInstruction"), QStringLiteral("Failed to open local log file."));
        QCOMPARE(labelText(dialog, "content"), QStringLiteral("Click cancel to exit the program."));
        QCOMPARE(labelText(dialog, "footer"), QStringLiteral("Support: support@example.com"));
        auto* link = dialog.findChild<QCommandLinkButton*>(QStringLiteral("link201"));
        QVERIFY(link != nullptr);
        QCOMPARE(link->text(), QStringLiteral("Continue"));
        QCOMPARE(link->description(), QStringLiteral("No log file will be created."));
        auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("button1"));
        QVERIFY(ok != nullptr);
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QCOMPARE(dialog.button(4)->text(), QStringLiteral("Retry"));
    }

    void detailsToggleShowsAndHidesTheDetailsWithItsTwoTexts() {
        TaskDialog dialog;
        fill(dialog);
        dialog.show();
        auto* toggle = dialog.findChild<QToolButton*>(QStringLiteral("detailsToggle"));
        auto* details = dialog.findChild<QLabel*>(QStringLiteral("expandedInformation"));
        QVERIFY(toggle != nullptr && details != nullptr);
        QVERIFY(toggle->isVisible());
        QCOMPARE(toggle->text(), QStringLiteral("Show Details"));
        QVERIFY(!details->isVisible());
        toggle->click();
        QCOMPARE(toggle->text(), QStringLiteral("Hide Details"));
        QVERIFY(details->isVisible());
        QCOMPARE(details->text(), QStringLiteral("The system cannot find the path specified."));
        toggle->click();
        QCOMPARE(toggle->text(), QStringLiteral("Show Details"));
        QVERIFY(!details->isVisible());
    }

    void aDialogWithoutDetailsOrButtonsHasNoButtonRow() {
        TaskDialog dialog;
        dialog.setMainInstruction(QStringLiteral("WARNING!!!"));
        dialog.addCommandLink(201, QStringLiteral("Continue\nProceed with Orvane firmware update."));
        dialog.show();
        QVERIFY(!dialog.findChild<QWidget*>(QStringLiteral("buttonRow"))->isVisible());
        QVERIFY(!dialog.findChild<QWidget*>(QStringLiteral("detailsToggle"))->isVisible());
    }
};

ORVANE_UI_TEST(TaskDialogTest)
#include "TaskDialogTest.moc"
