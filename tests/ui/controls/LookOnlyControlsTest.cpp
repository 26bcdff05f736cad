#include "controls/LedCtrl.h"
#include "controls/SegmentDisplayCtrl.h"
#include "tests/ui/support/UiTest.h"

#include <QAccessible>
#include <QImage>
#include <QTest>

using controls::LedCtrl;
using controls::SegmentDisplayCtrl;

namespace {

QString accessible(QWidget& widget, QAccessible::Text kind) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&widget);
    return face != nullptr ? face->text(kind) : QStringLiteral("<none>");
}

QImage picture(QWidget& widget) {
    return widget.grab().toImage();
}

} // namespace

class LookOnlyControlsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ledsTellTheirStateAndDrawEachStateDifferently_data() {
        QTest::addColumn<bool>("device");
        QTest::addColumn<int>("states");
        QTest::newRow("device") << true << 5;
        QTest::newRow("antenna") << false << 3;
    }

    void ledsTellTheirStateAndDrawEachStateDifferently() {
        QFETCH(bool, device);
        QFETCH(int, states);
        LedCtrl led(device ? LedCtrl::Kind::Device : LedCtrl::Kind::Antenna);
        led.resize(20, 20);
        QCOMPARE(led.stateCount(), states);
        QCOMPARE(accessible(led, QAccessible::Name),
                 device ? QStringLiteral("Device LED") : QStringLiteral("Antenna LED"));
        QList<QImage> pictures;
        for (int state = 0; state < states; ++state) {
            QVERIFY(led.setState(state));
            QCOMPARE(accessible(led, QAccessible::Description),
                     QStringLiteral("state %1: %2").arg(state).arg(LedCtrl::stateName(led.kind(), state)));
            const QImage image = picture(led);
            QVERIFY(!pictures.contains(image)); // a missing image would draw nothing, alike
            pictures.append(image);
        }
        QVERIFY(!led.setState(states));
        QVERIFY(!led.setState(-1));
        QCOMPARE(led.state(), states - 1);
    }

    void theDisplayTellsItsTextAndLookAndDrawsTheLooksColours_data() {
        QTest::addColumn<int>("look");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("segment");
        QTest::addColumn<QColor>("background");
        QTest::newRow("idle") << int(SegmentDisplayCtrl::Look::Idle) << "idle" << QColor(0, 150, 0)
                              << QColor(Qt::black);
        QTest::newRow("in range") << int(SegmentDisplayCtrl::Look::InRange) << "in range"
                                  << QColor(100, 255, 100) << QColor(Qt::black);
        QTest::newRow("alarm") << int(SegmentDisplayCtrl::Look::Alarm) << "alarm" << QColor(Qt::black)
                               << QColor(237, 7, 7);
    }

    void theDisplayTellsItsTextAndLookAndDrawsTheLooksColours() {
        QFETCH(int, look);
        QFETCH(QString, name);
        QFETCH(QColor, segment);
        QFETCH(QColor, background);
        SegmentDisplayCtrl display;
        QCOMPARE(display.text(), QStringLiteral("-----"));
        display.setText(QStringLiteral(" 24.1"));
        display.setLook(static_cast<SegmentDisplayCtrl::Look>(look));
        QCOMPARE(accessible(display, QAccessible::Description), QStringLiteral("' 24.1', %1").arg(name));
        display.resize(display.sizeHint());
        const QImage image = picture(display);
        bool segmentSeen = false;
        bool backgroundSeen = false;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                segmentSeen = segmentSeen || pixel == segment;
                backgroundSeen = backgroundSeen || pixel == background;
            }
        }
        QVERIFY(segmentSeen && backgroundSeen);
    }

    void charactersLightTheirSegments_data() {
        QTest::addColumn<QChar>("character");
        QTest::addColumn<int>("segments");
        QTest::newRow("8") << QChar(u'8') << 0x7F;
        QTest::newRow("1") << QChar(u'1') << 0x06;
        QTest::newRow("minus") << QChar(u'-') << 0x40;
        QTest::newRow("blank") << QChar(u' ') << 0;
        QTest::newRow("E") << QChar(u'E') << 0x79;
        QTest::newRow("B drawn as b") << QChar(u'B') << 0x7C;
        QTest::newRow("unknown") << QChar(u'%') << 0;
    }

    void charactersLightTheirSegments() {
        QFETCH(QChar, character);
        QFETCH(int, segments);
        QCOMPARE(int(SegmentDisplayCtrl::segmentsOf(character)), segments);
    }
};

ORVANE_UI_TEST(LookOnlyControlsTest)
#include "LookOnlyControlsTest.moc"
