#include "app/DebugPanel.h"

#include "tests/ui/app/CommaLocale.h"
#include "tests/ui/app/DebugSamples.h"
#include "tests/ui/support/UiTest.h"

#include <QTest>
#include <limits>

using app::DebugPanel;
using test::FakeOrvaneInterface;

namespace {

QString q(const std::wstring& text) {
    return QString::fromStdWString(text);
}

} // namespace

class DebugPanelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fieldsAreEmptyUntilTheFirstStateThenFormattedLocaleFree() {
        const test::CommaLocale german;
        FakeOrvaneInterface fake;
        fake.open = true;
        DebugPanel panel(fake);
        panel.open();
        QVERIFY(panel.fields() == DebugPanel::Fields{});

        test::deliverReading(fake, 1.5F, -2.0F, 1000.25F);
        QVERIFY(panel.fields() == DebugPanel::Fields{});

        auto state = test::sampleState(true);
        state.flags |= device::OrvaneDeviceState::AntennaDisconnectedFlag;
        test::deliverState(fake, state);
        const auto& f = panel.fields();
        QCOMPARE(q(f.model), QStringLiteral("X1"));
        QCOMPARE(q(f.serialNumber), QStringLiteral("120034"));
        QCOMPARE(q(f.firmwareRevision), QStringLiteral("2.10.1.345"));
        QCOMPARE(q(f.inputVoltage), QStringLiteral("12.25"));
        QCOMPARE(q(f.antennaState), QStringLiteral("Disconnected"));
        QCOMPARE(q(f.streamingState), QStringLiteral("Streaming"));
        QCOMPARE(q(f.frameRate), QStringLiteral("16 fps"));
        QCOMPARE(q(f.calculatedRate), QStringLiteral("16.0 fps"));
        QCOMPARE(q(f.gain), QStringLiteral("512"));
        // The reading that came before the state is shown once the device streams.
        QCOMPARE(q(f.adc1), QStringLiteral("1.5"));
        QCOMPARE(q(f.adc2), QStringLiteral("-2"));
        QCOMPARE(q(f.adc3), QStringLiteral("1000.25"));

        state.flags = 0;
        state.measuredFrameRate = std::numeric_limits<double>::quiet_NaN();
        test::deliverState(fake, state, device::OrvaneNotificationType::NotifyAcknowledge);
        QCOMPARE(q(panel.fields().antennaState), QStringLiteral("Connected"));
        QCOMPARE(q(panel.fields().streamingState), QStringLiteral("Idle"));
        QCOMPARE(q(panel.fields().calculatedRate), QString());
        // Idle: the readings are not shown, though they are kept.
        QCOMPARE(q(panel.fields().adc1), QString());
        QCOMPARE(q(panel.fields().adc3), QString());
        test::deliverState(fake, test::sampleState(true));
        QCOMPARE(q(panel.fields().adc3), QStringLiteral("1000.25"));
    }

    void startStopAndStepsFollowThePortAndTheStreamingState() {
        FakeOrvaneInterface fake;
        DebugPanel panel(fake);
        int changes = 0;
        panel.setChangedHandler([&] { ++changes; });

        panel.open();
        QVERIFY(!panel.startEnabled() && !panel.stopEnabled() && !panel.frameRateStepsEnabled());

        fake.open = true;
        test::deliverState(fake, test::sampleState(true));
        QVERIFY(!panel.startEnabled() && panel.stopEnabled() && panel.frameRateStepsEnabled());
        test::deliverState(fake, test::sampleState(false));
        QVERIFY(panel.startEnabled() && !panel.stopEnabled() && panel.frameRateStepsEnabled());

        // A type that carries no field still applies the rules.
        test::deliverState(fake, test::sampleState(true));
        fake.open = false;
        device::OrvaneWatchDogNotification watchdog;
        fake.deliver(watchdog);
        QVERIFY(!panel.startEnabled() && !panel.stopEnabled() && !panel.frameRateStepsEnabled());
        QCOMPARE(q(panel.fields().model), QStringLiteral("X1"));

        fake.open = true;
        test::deliverState(fake, test::sampleState(true));
        fake.open = false;
        test::deliverDisconnect(fake);
        QVERIFY(!panel.startEnabled() && !panel.stopEnabled() && !panel.frameRateStepsEnabled());
        QCOMPARE(q(panel.fields().model), QString());
        QCOMPARE(q(panel.fields().serialNumber), QStringLiteral("120034"));
        QCOMPARE(changes, 7);

        panel.pressStart();
        panel.pressStop();
        QCOMPARE(fake.calls.size(), std::size_t{2});
        QCOMPARE(fake.calls[0].operation, std::string("start"));
        QCOMPARE(fake.calls[1].operation, std::string("stop"));
    }

    void frameRateStepsStayWithinEightToEighteen_data() {
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("down"); // what "down" sends, 0 for nothing
        QTest::addColumn<int>("up");
        QTest::newRow("8") << 8 << 0 << 9;
        QTest::newRow("12") << 12 << 11 << 13;
        QTest::newRow("18") << 18 << 17 << 0;
        QTest::newRow("25, above the range") << 25 << 18 << 0;
        QTest::newRow("19") << 19 << 18 << 0;
        QTest::newRow("5, below the range") << 5 << 0 << 8;
    }
    void frameRateStepsStayWithinEightToEighteen() {
        QFETCH(int, shown);
        QFETCH(int, down);
        QFETCH(int, up);
        FakeOrvaneInterface fake;
        fake.open = true;
        DebugPanel panel(fake);
        panel.open();
        test::deliverState(fake, test::sampleState(true, shown));

        QCOMPARE(panel.pressFrameRateDown(), down != 0);
        QCOMPARE(panel.pressFrameRateUp(), up != 0);
        std::vector<FakeOrvaneInterface::Call> expected;
        for (const int rate : {down, up}) {
            if (rate != 0) {
                expected.push_back({"setFrameRate", rate, 0});
            }
        }
        QVERIFY(fake.callsOf("setFrameRate") == expected);
    }

    void setIsEnabledExactlyForAGainFromOneTo1023_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("0") << QStringLiteral("0") << false;
        QTest::newRow("1") << QStringLiteral("1") << true;
        QTest::newRow("1023") << QStringLiteral("1023") << true;
        QTest::newRow("1024") << QStringLiteral("1024") << false;
        QTest::newRow("-5") << QStringLiteral("-5") << false;
        QTest::newRow("blanks around") << QStringLiteral(" 77 ") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("not a number") << QStringLiteral("12a") << false;
        QTest::newRow("decimal") << QStringLiteral("5.0") << false;
        QTest::newRow("too long for an int") << QStringLiteral("99999999999") << false;
    }
    void setIsEnabledExactlyForAGainFromOneTo1023() {
        QFETCH(QString, entry);
        QFETCH(bool, enabled);
        FakeOrvaneInterface fake;
        DebugPanel panel(fake);
        panel.gainEntryChanged(entry.toStdWString());
        QCOMPARE(panel.setEnabled(), enabled);
        QCOMPARE(panel.pressSet(),
                 enabled ? DebugPanel::GainResult::Sent : DebugPanel::GainResult::OutOfRange);
        QCOMPARE(fake.callsOf("setGain").size(), enabled ? std::size_t{1} : std::size_t{0});
    }

    void setSendsTheGainEmptiesTheEntryAndIgnoresEditsWhileSending() {
        FakeOrvaneInterface fake;
        DebugPanel panel(fake);
        bool sawFlag = false;
        panel.setChangedHandler([&] {
            if (panel.gainBeingSent()) {
                sawFlag = true;
                // The window empties its entry now; that edit must not re-enable "Set".
                panel.gainEntryChanged(L"300");
            }
        });
        panel.gainEntryChanged(L"1023");
        QCOMPARE(panel.pressSet(), DebugPanel::GainResult::Sent);
        QVERIFY(sawFlag);
        QVERIFY(!panel.gainBeingSent());
        QVERIFY(!panel.setEnabled());
        QCOMPARE(q(panel.gainEntry()), QString());
        QVERIFY(fake.callsOf("setGain") == (std::vector<FakeOrvaneInterface::Call>{{"setGain", 1023, 0}}));

        // The entry is empty now: pressing again sends nothing.
        QCOMPARE(panel.pressSet(), DebugPanel::GainResult::OutOfRange);
        QCOMPARE(fake.callsOf("setGain").size(), std::size_t{1});
    }

    void subscribesOnceWhileOpenAndNotAfterClose() {
        FakeOrvaneInterface fake;
        {
            DebugPanel panel(fake);
            QCOMPARE(fake.subscribers(), std::size_t{0});
            panel.open();
            panel.open();
            QCOMPARE(fake.subscribers(), std::size_t{1});
            panel.close();
            QCOMPARE(fake.subscribers(), std::size_t{0});
            test::deliverState(fake, test::sampleState(true));
            QVERIFY(panel.fields() == DebugPanel::Fields{});
            panel.open();
        }
        QCOMPARE(fake.subscribers(), std::size_t{0});
    }
};

ORVANE_UI_TEST(DebugPanelTest)
#include "DebugPanelTest.moc"
