#include "app/DebugDlg.h"

#include "tests/ui/app/DebugSamples.h"
#include "tests/ui/support/ModalDialogs.h"
#include "tests/ui/support/UiTest.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using app::DebugDlg;
using test::FakeOrvaneInterface;

namespace {

template <typename T> T& child(const QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qFatal("No child %s", name);
    }
    return *found;
}

QString field(const DebugDlg& dialog, const char* name) {
    return child<QLineEdit>(dialog, name).text();
}

} // namespace

class DebugDlgTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsTheDeviceStateAndForwardsEveryButton() {
        FakeOrvaneInterface fake;
        fake.open = true;
        DebugDlg dialog(fake);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Debug"));
        QVERIFY(!dialog.isModal());
        QVERIFY(dialog.testAttribute(Qt::WA_ShowWithoutActivating));
        QCOMPARE(fake.subscribers(), std::size_t{0});
        dialog.show();
        QCOMPARE(fake.subscribers(), std::size_t{1});

        test::deliverState(fake, test::sampleState(true, 9));
        test::deliverReading(fake, 0.5F, 1.0F, 2.0F);
        QCOMPARE(field(dialog, "model"), QStringLiteral("X1"));
        QCOMPARE(field(dialog, "firmwareRevision"), QStringLiteral("2.10.1.345"));
        QCOMPARE(field(dialog, "frameRate"), QStringLiteral("9 fps"));
        QCOMPARE(field(dialog, "adc2"), QStringLiteral("1"));
        auto& start = child<QPushButton>(dialog, "start");
        auto& stop = child<QPushButton>(dialog, "stop");
        QVERIFY(!start.isEnabled() && stop.isEnabled());

        stop.click();
        child<QToolButton>(dialog, "frameRateDown").click();
        child<QToolButton>(dialog, "frameRateUp").click();
        test::deliverState(fake, test::sampleState(false, 9));
        QVERIFY(start.isEnabled() && !stop.isEnabled());
        QCOMPARE(field(dialog, "adc2"), QString());
        start.click();

        auto& entry = child<QLineEdit>(dialog, "gainEntry");
        auto& set = child<QPushButton>(dialog, "set");
        QVERIFY(!set.isEnabled());
        QTest::keyClicks(&entry, QStringLiteral("1024"));
        QVERIFY(!set.isEnabled());
        entry.setText(QStringLiteral("1023"));
        QVERIFY(set.isEnabled());
        QTest::keyClick(&entry, Qt::Key_Return); // "Set" is the default button
        QCOMPARE(entry.text(), QString());
        QVERIFY(!set.isEnabled());

        const std::vector<FakeOrvaneInterface::Call> expected{{"stop", 0, 0},
                                                              {"setFrameRate", 8, 0},
                                                              {"setFrameRate", 10, 0},
                                                              {"start", 0, 0},
                                                              {"setGain", 1023, 0}};
        QVERIFY(fake.calls == expected);

        fake.open = false;
        test::deliverDisconnect(fake);
        QVERIFY(!start.isEnabled() && !stop.isEnabled());
        QVERIFY(!child<QToolButton>(dialog, "frameRateUp").isEnabled());
        QCOMPARE(field(dialog, "model"), QString());
    }

    void aGainOutsideTheRangeShowsTheRangeMessageAndSendsNothing() {
        FakeOrvaneInterface fake;
        DebugDlg dialog(fake);
        dialog.show();
        child<QLineEdit>(dialog, "gainEntry").setText(QStringLiteral("0"));

        QString shown;
        test::whenModal<QMessageBox>([&](QMessageBox& box) {
            shown = box.text();
            box.accept();
        });
        dialog.pressSet();
        QCOMPARE(shown, QStringLiteral("Please enter an integer between 1 and 1023."));
        QVERIFY(fake.callsOf("setGain").empty());
        QCOMPARE(child<QLineEdit>(dialog, "gainEntry").text(), QStringLiteral("0"));
    }

    void closingDisconnectsFromTheDeviceAndTellsTheOwner() {
        FakeOrvaneInterface fake;
        DebugDlg dialog(fake);
        QSignalSpy closed(&dialog, &DebugDlg::closed);
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(closed.count(), 1);
        QCOMPARE(fake.subscribers(), std::size_t{0});

        dialog.show();
        QCOMPARE(fake.subscribers(), std::size_t{1});
        dialog.close();
        QCOMPARE(closed.count(), 2);
        QCOMPARE(fake.subscribers(), std::size_t{0});
    }

    void destroyingTheOpenWindowDisconnects() {
        FakeOrvaneInterface fake;
        auto dialog = std::make_unique<DebugDlg>(fake);
        dialog->show();
        dialog.reset();
        QCOMPARE(fake.subscribers(), std::size_t{0});
        test::deliverState(fake, test::sampleState(true));
    }
};

ORVANE_UI_TEST(DebugDlgTest)
#include "DebugDlgTest.moc"
