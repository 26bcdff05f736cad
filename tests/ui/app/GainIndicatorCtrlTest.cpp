#include "app/GainIndicatorCtrl.h"

#include "device/SupervisorSettings.h"
#include "tests/ui/support/UiTest.h"
#include "wyr/windows/config/ConfigMgr.h"

#include <QAccessible>
#include <QImage>
#include <QTest>
#include <cmath>

using app::GainIndicatorCtrl;
using device::GainList;

namespace {

class OwnConfigMgr : public wyr::windows::config::ConfigMgr {
public:
    OwnConfigMgr() = default;
};

constexpr double kPi = 3.14159265358979323846;
const QColor kRed(255, 0, 0);

QString defaultList() {
    return QString::fromWCharArray(device::SupervisorSettings::DefaultGainSettings);
}

QString description(QWidget& widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&widget);
    return face != nullptr ? face->text(QAccessible::Description) : QString();
}

// The pixel of a 256 × 256 indicator that lies `degrees` above the bottom edge,
// seen from the wedge's corner, in the middle of the overlay's ring.
QColor throughTheRing(const QImage& image, double degrees) {
    const double radius = (GainIndicatorCtrl::kRingInner + GainIndicatorCtrl::kRingOuter) / 2.0;
    const double x = GainIndicatorCtrl::kRingCentre - radius * std::cos(degrees * kPi / 180.0);
    const double y = GainIndicatorCtrl::kRingCentre - radius * std::sin(degrees * kPi / 180.0);
    return image.pixelColor(static_cast<int>(x), static_cast<int>(y));
}

} // namespace

class GainIndicatorCtrlTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The default list has 32 values, 1023 first and 1 last.
    void theWedgeSweepsUpWithTheGainStep_data() {
        QTest::addColumn<int>("gain");
        QTest::addColumn<double>("angle");
        QTest::addColumn<QString>("text");
        QTest::newRow("1023, the first") << 1023 << 2.8125 << "gain 1023, step 1 of 32";
        QTest::newRow("256, the ninth") << 256 << 25.3125 << "gain 256, step 9 of 32";
        QTest::newRow("80, the seventeenth") << 80 << 47.8125 << "gain 80, step 17 of 32";
        QTest::newRow("1, the last") << 1 << 90.0 << "gain 1, step 32 of 32";
        QTest::newRow("not in the list") << 500 << 0.0 << "gain 500, not in the list of 32";
    }

    void theWedgeSweepsUpWithTheGainStep() {
        QFETCH(int, gain);
        QFETCH(double, angle);
        QFETCH(QString, text);
        OwnConfigMgr config; // UI.GainSettings at its default
        GainIndicatorCtrl indicator(config);
        QCOMPARE(indicator.accessibleName(), QStringLiteral("Gain indicator"));
        indicator.resize(256, 256);
        indicator.update(gain);
        QCOMPARE(GainIndicatorCtrl::angle(indicator.gains(), gain), angle);
        QCOMPARE(description(indicator), text);

        const QImage image = indicator.grab().toImage();
        QCOMPARE(image.size(), QSize(256, 256));
        if (angle >= 5.0) {
            QCOMPARE(throughTheRing(image, angle - 4.0), kRed);
        }
        if (angle <= 85.0) {
            QCOMPARE(throughTheRing(image, angle + 4.0), QColor(Qt::black));
        }
        // The overlay hides the wedge outside its ring: "GAIN" sits at the top left.
        QVERIFY(image.pixelColor(4, 4) != kRed);
        QVERIFY(image.pixelColor(250, 250) != kRed);
    }

    // The wedge's thinnest look: 3 pixels high at the left edge, so 2.1 pixels
    // under the middle of the ring (172 of 248 pixels from the corner).
    void aGainOffTheListOrAnUnusableListShowsOnlyTheThreePixelMinimum_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("gain");
        QTest::newRow("gain off the list") << defaultList() << 500;
        QTest::newRow("empty list") << QString() << 256;
        QTest::newRow("garbage list") << QStringLiteral("abc||x7|-") << 256;
    }

    void aGainOffTheListOrAnUnusableListShowsOnlyTheThreePixelMinimum() {
        QFETCH(QString, list);
        QFETCH(int, gain);
        GainIndicatorCtrl indicator{GainList(list.toStdWString())};
        indicator.resize(256, 256);
        indicator.update(gain);
        QCOMPARE(GainIndicatorCtrl::angle(indicator.gains(), gain), 0.0);
        const QImage image = indicator.grab().toImage();
        QCOMPARE(image.pixelColor(76, 247), kRed);
        QCOMPARE(image.pixelColor(76, 244), QColor(Qt::black));
        QCOMPARE(image.pixelColor(20, 246), kRed); // 2.8 pixels at x = 20

        // The first step is higher: 12.2 pixels at the left.
        GainIndicatorCtrl first{GainList(defaultList().toStdWString())};
        first.resize(256, 256);
        first.update(1023);
        QCOMPARE(first.grab().toImage().pixelColor(76, 244), kRed);
    }

    void theOutlineFollowsTheTwoCasesAround45Degrees_data() {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<QPolygonF>("outline");
        // A 208 × 108 indicator: w = 200, h = 100.
        QTest::newRow("0: the 3-pixel minimum") << 0.0 << QPolygonF({{200, 100}, {0, 100}, {0, 97}});
        QTest::newRow("26.565: w tan a")
            << std::atan(0.5) * 180.0 / kPi << QPolygonF({{200, 100}, {0, 100}, {0, 0}});
        QTest::newRow("45: no corner") << 45.0 << QPolygonF({{200, 100}, {0, 100}, {100, 0}});
        QTest::newRow("63.435: the top-left corner, h / tan a")
            << std::atan(2.0) * 180.0 / kPi << QPolygonF({{200, 100}, {0, 100}, {0, 0}, {150, 0}});
        QTest::newRow("89.9: L below 1 is 0") << 89.9 << QPolygonF({{200, 100}, {0, 100}, {0, 0}, {200, 0}});
        QTest::newRow("90: everything") << 90.0 << QPolygonF({{200, 100}, {0, 100}, {0, 0}, {200, 0}});
    }

    void theOutlineFollowsTheTwoCasesAround45Degrees() {
        QFETCH(double, degrees);
        QFETCH(QPolygonF, outline);
        const QPolygonF drawn = GainIndicatorCtrl::wedge(QSizeF(208, 108), degrees);
        QCOMPARE(drawn.size(), outline.size());
        for (int i = 0; i < drawn.size(); ++i) {
            QVERIFY2(
                std::abs(drawn[i].x() - outline[i].x()) < 1e-9 &&
                    std::abs(drawn[i].y() - outline[i].y()) < 1e-9,
                qPrintable(QStringLiteral("point %1: %2, %3").arg(i).arg(drawn[i].x()).arg(drawn[i].y())));
        }
    }

    void resizingRedrawsTheWedgeAndTinySizesDrawNothing() {
        GainIndicatorCtrl indicator{GainList(defaultList().toStdWString())};
        indicator.update(1);
        for (const QSize size : {QSize(128, 128), QSize(0, 0), QSize(5, 5), QSize(8, 8), QSize(9, 40)}) {
            indicator.resize(size);
            const QImage picture = indicator.grab().toImage();
            if (size.width() > 8 && size.height() > 8) {
                QCOMPARE(indicator.wedgeImage().size(), size);
                QCOMPARE(indicator.wedgeImage().pixelColor(0, 0), kRed);
            } else {
                QVERIFY(GainIndicatorCtrl::wedge(size, 90.0).isEmpty());
            }
            QCOMPARE(picture.size(), size.isEmpty() ? QSize(0, 0) : size);
        }
    }
};

ORVANE_UI_TEST(GainIndicatorCtrlTest)
#include "GainIndicatorCtrlTest.moc"
