#include "controls/DesktopAlertMgr.h"

#include "controls/DesktopAlertWnd.h"
#include "tests/ui/support/UiTest.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QTest>

using controls::DesktopAlert;
using controls::DesktopAlertMgr;
using controls::DesktopAlertWnd;

// Time is driven by hand: animate() is the 10 ms tick, displayTimeElapsed() and
// fadeTick() the alert's timers. The test never runs the event loop, so the real
// timers never fire in between.
namespace {

const QRect kArea(0, 0, 800, 600);
const QString kLong = QStringLiteral("Unable to communication with Orvane X1! ").repeated(12);

void enter(QWidget& window) {
    QEnterEvent event(QPointF(5, 5), QPointF(5, 5), window.mapToGlobal(QPointF(5, 5)));
    QCoreApplication::sendEvent(&window, &event);
}

void leave(QWidget& window) {
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(&window, &event);
}

void leftClick(QWidget& window) {
    const QPointF at(40, 20);
    QMouseEvent press(QEvent::MouseButtonPress, at, window.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &press);
}

int right(const QWidget& window) {
    return window.x() + window.width();
}

int bottom(const QWidget& window) {
    return window.y() + window.height();
}

} // namespace

class DesktopAlertMgrTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void threeAlertsStackUpwardsFromTheCornerOldestLowest() {
        DesktopAlertMgr manager;
        manager.setWorkArea(kArea);
        const int first = manager.show(QStringLiteral("Voltage fluctuation!"), DesktopAlert::Icon::Warning);
        const int second = manager.show(kLong, DesktopAlert::Icon::Warning);
        const int third = manager.show(QStringLiteral("Disconnected."), DesktopAlert::Icon::Information);
        QCOMPARE(first, 1);
        QCOMPARE(third, 3);
        QVERIFY(!manager.alert(first)->isVisible()); // shown at the next tick
        manager.animate();

        auto& a = *manager.alert(first);
        auto& b = *manager.alert(second);
        auto& c = *manager.alert(third);
        for (DesktopAlertWnd* window : {&a, &b, &c}) {
            QVERIFY(window->isVisible());
            QCOMPARE(window->width(), 225);
            QVERIFY(window->height() >= 32 && window->height() <= 225);
            QCOMPARE(right(*window), 800 - 5);
            const auto flags = window->windowFlags();
            QVERIFY(flags.testFlag(Qt::Tool) && flags.testFlag(Qt::FramelessWindowHint) &&
                    flags.testFlag(Qt::WindowStaysOnTopHint) && flags.testFlag(Qt::WindowDoesNotAcceptFocus));
            QVERIFY(window->testAttribute(Qt::WA_ShowWithoutActivating));
            QCOMPARE(window->opacity(), 255);
        }
        QCOMPARE(bottom(a), 600 - 5);
        QCOMPARE(bottom(b), a.y() - 5);
        QCOMPARE(bottom(c), b.y() - 5);
        QVERIFY(b.height() > a.height()); // the long text needs more lines
        QCOMPARE(b.height(), 225);        // ... up to the tallest an alert may be
        QCOMPARE(a.accessibleName(), QStringLiteral("Voltage fluctuation!"));
        QCOMPARE(c.accessibleDescription(), QStringLiteral("Information"));
    }

    void anAlertThatDoesNotFitWaitsUnshownUntilThereIsRoom() {
        DesktopAlertMgr manager;
        const int first = manager.show(kLong, DesktopAlert::Icon::Warning);
        QVERIFY(manager.alert(first)->heightForWidth(225) >= 225); // as tall as an alert may be
        // Room for one tall alert and a bit: the second does not fit above it.
        manager.setWorkArea(QRect(0, 100, 800, 5 + 225 + 5 + 100));
        const int second = manager.show(kLong, DesktopAlert::Icon::Warning);
        const int third = manager.show(QStringLiteral("Over voltage!"), DesktopAlert::Icon::Warning);
        manager.animate();
        QVERIFY(manager.alert(first)->isVisible());
        QVERIFY(!manager.alert(second)->isVisible());
        QVERIFY(!manager.alert(third)->isVisible()); // newer ones wait behind it
        manager.animate();
        QVERIFY(!manager.alert(second)->isVisible());

        manager.alert(first)->finish();
        manager.animate();
        QVERIFY(manager.alert(first) == nullptr);
        QVERIFY(manager.alert(second)->isVisible());
        QCOMPARE(bottom(*manager.alert(second)), 100 + 335 - 5);
        QVERIFY(manager.alert(third)->isVisible());
        QCOMPARE(bottom(*manager.alert(third)), manager.alert(second)->y() - 5);
    }

    void whenTheLowestGoesTheOthersSlideDownFivePixelsATick() {
        DesktopAlertMgr manager;
        manager.setWorkArea(kArea);
        const int first = manager.show(kLong, DesktopAlert::Icon::Warning);
        const int second = manager.show(QStringLiteral("Under voltage!"), DesktopAlert::Icon::Warning);
        const int third = manager.show(QStringLiteral("Disconnected."), DesktopAlert::Icon::Information);
        manager.animate();
        auto& b = *manager.alert(second);
        auto& c = *manager.alert(third);
        const int gapBelowB = 600 - 5 - bottom(b);
        QCOMPARE(gapBelowB, 225 + 5);

        manager.alert(first)->finish();
        int ticks = 0;
        int lastB = b.y();
        int lastC = c.y();
        while (bottom(b) != 600 - 5 && ticks < 1000) {
            manager.animate();
            ++ticks;
            QVERIFY(b.y() - lastB <= 5 && b.y() - lastB >= 1);
            QVERIFY(c.y() - lastC <= 5);
            lastB = b.y();
            lastC = c.y();
        }
        QCOMPARE(ticks, (gapBelowB + 4) / 5);
        manager.animate();
        QCOMPARE(bottom(b), 600 - 5);
        QCOMPARE(bottom(c), b.y() - 5);
    }

    void afterTheDisplayTimeItFadesByTheIntegerStepAndHoveringHoldsIt() {
        DesktopAlertMgr manager;
        manager.setWorkArea(kArea);
        const int id = manager.show(QStringLiteral("Voltage fluctuation!"), DesktopAlert::Icon::Warning);
        manager.animate();
        auto& alert = *manager.alert(id);
        QCOMPARE(alert.alert().displayTimeMs, 4000);
        QCOMPARE(alert.alert().fadeTimeMs, 1500);
        alert.fadeTick(); // not fading yet
        QCOMPARE(alert.opacity(), 255);

        alert.displayTimeElapsed();
        QCOMPARE(alert.fadeStep(), 1); // 255 / (1500 / 10)
        alert.fadeTick();
        alert.fadeTick();
        QCOMPARE(alert.opacity(), 253);
        QCOMPARE(alert.windowOpacity(), 253 / 255.0);

        enter(alert);
        QCOMPARE(alert.opacity(), 255);
        alert.fadeTick();
        QCOMPARE(alert.opacity(), 255); // held while hovered
        leave(alert);
        alert.fadeTick();
        QCOMPARE(alert.opacity(), 254);

        for (int i = 0; i < 254; ++i) {
            alert.fadeTick();
        }
        QCOMPARE(alert.opacity(), 0);
        QVERIFY(alert.isFinished());
        QVERIFY(manager.isAnimating());
        manager.animate();
        QVERIFY(manager.alert(id) == nullptr);
        QVERIFY(!manager.isAnimating()); // the last removal stops the timer
    }

    void aLongerFadeTimeGivesASmallerStep_data() {
        QTest::addColumn<int>("fadeTime");
        QTest::addColumn<int>("step");
        QTest::newRow("10 ms") << 10 << 255;
        QTest::newRow("500 ms") << 500 << 5;
        QTest::newRow("3000 ms") << 3000 << 1;
    }

    void aLongerFadeTimeGivesASmallerStep() {
        QFETCH(int, fadeTime);
        QFETCH(int, step);
        DesktopAlertMgr manager;
        QVERIFY(manager.setFadeTime(fadeTime));
        const int id = manager.show(QStringLiteral("x"), DesktopAlert::Icon::Information);
        manager.animate();
        manager.alert(id)->displayTimeElapsed();
        QCOMPARE(manager.alert(id)->fadeStep(), step);
    }

    void aClickCallsBackAndEndsTheAlertAtTheNextTick() {
        DesktopAlertMgr manager;
        manager.setWorkArea(kArea);
        std::vector<int> clicked;
        const int id = manager.show(QStringLiteral("Disconnected."), DesktopAlert::Icon::Information,
                                    [&clicked](int alertId) { clicked.push_back(alertId); });
        const int other = manager.show(QStringLiteral("Over voltage!"), DesktopAlert::Icon::Warning);
        manager.animate();
        leftClick(*manager.alert(id));
        QCOMPARE(clicked, std::vector<int>{id});
        QVERIFY(manager.alert(id)->isFinished());
        QCOMPARE(manager.alert(id)->opacity(), 255); // gone without fading

        manager.alert(other)->findChild<QAbstractButton*>(QStringLiteral("closeButton"))->click();
        QVERIFY(manager.alert(other)->isFinished());
        QCOMPARE(clicked.size(), std::size_t(1)); // the close box calls nobody
        manager.animate();
        QVERIFY(manager.alerts().empty());
        QVERIFY(!manager.isAnimating());
    }

    void theTimerRunsOnlyWhileAlertsExist() {
        DesktopAlertMgr manager;
        QVERIFY(!manager.isAnimating());
        QCOMPARE(manager.show(QString(), DesktopAlert::Icon::Warning), -1);
        QVERIFY(!manager.isAnimating());
        QVERIFY(manager.alerts().empty());
        QVERIFY(!manager.setFadeTime(9));
        QCOMPARE(manager.fadeTime(), 1500);

        manager.show(QStringLiteral("Voltage fluctuation!"), DesktopAlert::Icon::Warning);
        QVERIFY(manager.isAnimating());
        manager.destroy();
        QVERIFY(!manager.isAnimating());
        QVERIFY(manager.alerts().empty());
    }

    void theProcessManagerIsMadeOnFirstUseAndDestroyedAtExit() {
        QVERIFY(DesktopAlertMgr::existing() == nullptr);
        auto& manager = DesktopAlertMgr::instance();
        QCOMPARE(&DesktopAlertMgr::instance(), &manager);
        manager.show(QStringLiteral("Disconnected."), DesktopAlert::Icon::Information);
        DesktopAlertMgr::destroyInstance();
        QVERIFY(DesktopAlertMgr::existing() == nullptr);
        DesktopAlertMgr::destroyInstance(); // nothing left: harmless
    }
};

ORVANE_UI_TEST(DesktopAlertMgrTest)
#include "DesktopAlertMgrTest.moc"
