#include "app/OrvaneOutputWnd.h"

#include "tests/ui/support/UiTest.h"
#include "tests/unit/device/FakeOrvaneInterface.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/config/ConfigMgr.h"

#include <QAccessible>
#include <QEvent>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

using app::OrvaneOutputWnd;
using device::OrvaneDisconnectNotification;
using device::OrvaneReadingNotification;

namespace {

class OwnConfigMgr : public wyr::windows::config::ConfigMgr {
public:
    OwnConfigMgr() = default;
};

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

const QList<QColor> kTraces{QColor(245, 246, 248), QColor(198, 17, 137), QColor(234, 175, 15)};
const QColor kGrid(93, 101, 118);

OrvaneReadingNotification reading(float value, std::uint64_t id = 1) {
    OrvaneReadingNotification record;
    record.id = id;
    record.reading1 = value;
    record.reading2 = value;
    record.reading3 = value;
    return record;
}

QString description(QWidget& widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&widget);
    return face != nullptr ? face->text(QAccessible::Description) : QString();
}

int countOf(const QImage& image, const QColor& colour) {
    int found = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            found += image.pixelColor(x, y) == colour ? 1 : 0;
        }
    }
    return found;
}

// Records the newest reading's first value at each paint the window receives.
class PaintSpy : public QObject {
public:
    explicit PaintSpy(OrvaneOutputWnd& window) : _window(window) { _window.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted.push_back(_window.readings().empty() ? kNaN : _window.readings().back().reading1);
        }
        return false;
    }
    std::vector<float> painted;

private:
    OrvaneOutputWnd& _window;
};

} // namespace

// A 600 × 300 window at the default pixel rate 2 has three lanes 96 pixels high:
// frames at rows 3, 99 | 102, 198 | 201, 297, insides from 4.5 to 98.5 (and 99
// and 198 pixels further down), 300 records, the newest at x = 596.5.
class OrvaneOutputWndTest : public QObject {
    Q_OBJECT

    std::unique_ptr<OwnConfigMgr> _config;
    QTemporaryDir _home;

    std::unique_ptr<OrvaneOutputWnd> shownWindow(int width = 600, int height = 300) {
        auto window = std::make_unique<OrvaneOutputWnd>(*_config);
        window->resize(width, height);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            return nullptr;
        }
        return window;
    }

    static void fill(OrvaneOutputWnd& window, float value) {
        const auto record = reading(value);
        for (std::size_t i = 0; i < window.readings().capacity(); ++i) {
            window.orvaneCallback(&record);
        }
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(_home.isValid());
        qputenv("XDG_CONFIG_HOME", _home.path().toLocal8Bit());
        wyr::windows::logging::LogBeacon::instance();
    }

    void init() { _config = std::make_unique<OwnConfigMgr>(); }

    void theRingGrowsWithTheWidthNeverShrinksAndKeepsItsRecords() {
        auto window = shownWindow(600, 300);
        QVERIFY(window);
        QCOMPARE(window->pixelRate(), 2);
        QCOMPARE(window->readings().capacity(), std::size_t(300));
        for (std::uint64_t id = 1; id <= 5; ++id) {
            const auto record = reading(0.5F, id);
            window->orvaneCallback(&record);
        }
        window->resize(601, 300);
        QCOMPARE(window->readings().capacity(), std::size_t(301));
        window->resize(600, 300);
        QCOMPARE(window->readings().capacity(), std::size_t(301));
        QCOMPARE(window->readings().size(), std::size_t(5));
        QCOMPARE(window->readings().front().id, std::uint64_t(1));
        QCOMPARE(window->readings().back().id, std::uint64_t(5));

        // Full, the ring overwrites its oldest records and stays the same size.
        for (std::uint64_t id = 6; id <= 1000; ++id) {
            const auto record = reading(0.5F, id);
            window->orvaneCallback(&record);
        }
        QCOMPARE(window->readings().capacity(), std::size_t(301));
        QCOMPARE(window->readings().size(), std::size_t(301));
        QCOMPARE(window->readings().front().id, std::uint64_t(700));
        QCOMPARE(window->readings().back().id, std::uint64_t(1000));
    }

    void theCapacityFollowsThePixelRate() {
        QCOMPARE(_config->define(L"UI.PixelRate", L"1|3", true), 0U);
        auto window = shownWindow(601, 300);
        QVERIFY(window);
        QCOMPARE(window->readings().capacity(), std::size_t(201)); // ceil(200.33)
    }

    void lanesLieOnHalfPixelsWithTheirGaps_data() {
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<double>("top");
        QTest::addColumn<double>("height");
        QTest::newRow("remainder 2") << QSizeF(600, 300) << 3.5 << 96.0;
        QTest::newRow("remainder 0") << QSizeF(600, 298) << 2.5 << 96.0 - 1.0 / 3.0;
        QTest::newRow("too small") << QSizeF(600, 8) << 2.5 << 0.0;
        QTest::newRow("empty") << QSizeF(0, 0) << 2.5 << 0.0;
    }

    void lanesLieOnHalfPixelsWithTheirGaps() {
        QFETCH(QSizeF, size);
        QFETCH(double, top);
        QFETCH(double, height);
        const auto lanes = OrvaneOutputWnd::lanes(size);
        QCOMPARE(lanes[0].left(), 3.5);
        QCOMPARE(lanes[0].top(), top);
        QVERIFY(std::abs(lanes[0].height() - height) < 1e-9);
        if (size.width() > 7) {
            QCOMPARE(lanes[0].right(), size.width() - 2.5);
        }
        for (std::size_t k = 1; k < lanes.size(); ++k) {
            QCOMPARE(lanes[k].top(), lanes[k - 1].bottom() + 3.0);
            QCOMPARE(lanes[k].height(), lanes[0].height());
        }
        QVERIFY(lanes[2].bottom() <= size.height() + 0.5 - 2.0 || height == 0.0);
    }

    // Every lane shows its channel's trace from its inner bottom (98.5 in lane 1)
    // up to `top`; `filled` is a row fully inside the bar, `clear` one above it.
    void readingsAreScaledFlooredAndClipped_data() {
        QTest::addColumn<bool>("filtered");
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("filled");
        QTest::addColumn<int>("clear");
        // The 2-pixel floor: 96.5 to 98.5.
        QTest::newRow("0.0 floor") << false << 0.0F << 97 << 95;
        QTest::newRow("NaN floor") << false << kNaN << 97 << 95;
        QTest::newRow("negative floor") << false << -3.0F << 97 << 95;
        QTest::newRow("minus infinity floor") << false << -kInfinity << 97 << 95;
        QTest::newRow("filtered 0.4 below the noise floor") << true << 0.4F << 97 << 95;
        QTest::newRow("filtered NaN floor") << true << kNaN << 97 << 95;
        // Unfiltered 2.25 and filtered 2.5 are half a lane: 50.5 to 98.5.
        QTest::newRow("2.25 half") << false << 2.25F << 51 << 49;
        QTest::newRow("filtered 2.5 half") << true << 2.5F << 51 << 49;
        // Clipped at the inner top, 4.5; row 3 is the frame.
        QTest::newRow("9.0 clipped") << false << 9.0F << 5 << 3;
        QTest::newRow("filtered 4.5 full") << true << 4.5F << 5 << 3;
        QTest::newRow("infinity clipped") << false << kInfinity << 5 << 3;
        QTest::newRow("huge clipped") << false << 3.0e38F << 5 << 3;
    }

    void readingsAreScaledFlooredAndClipped() {
        QFETCH(bool, filtered);
        QFETCH(float, value);
        QFETCH(int, filled);
        QFETCH(int, clear);
        QCOMPARE(_config->define(L"UI.Filtering", filtered ? L"0|1" : L"0|0", true), 0U);
        auto window = shownWindow();
        QVERIFY(window);
        fill(*window, value);
        const QImage image = window->grab().toImage();
        for (int lane = 0; lane < 3; ++lane) {
            const int offset = lane * 99;
            for (int x : {10, 300, 590}) {
                QCOMPARE(image.pixelColor(x, filled + offset), kTraces[lane]);
                QVERIFY(image.pixelColor(x, clear + offset) != kTraces[lane]);
            }
        }
        // Nothing reaches the gaps between the lanes.
        QCOMPARE(image.pixelColor(300, 100), QColor(Qt::black));
        QCOMPARE(image.pixelColor(300, 101), QColor(Qt::black));
    }

    // The newest record lies half a pixel rate left of the lane's right edge
    // (597.5), each older one a pixel rate further; the fill ends at the oldest
    // drawn, in column `full`, and `clear` is left of it.
    void recordsLieAPixelRateApart_data() {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("full");
        QTest::addColumn<int>("clear");
        QTest::newRow("rate 2, 10 records") << QStringLiteral("1|2") << 10 << 579 << 577; // 596.5 - 18
        QTest::newRow("rate 4, 10 records") << QStringLiteral("1|4") << 10 << 560 << 558; // 595.5 - 36
        // 300 records would reach -1.5; the last one right of the lane's left edge is at 4.5.
        QTest::newRow("rate 2, full ring") << QStringLiteral("1|2") << 300 << 5 << 3;
    }

    void recordsLieAPixelRateApart() {
        QFETCH(QString, rate);
        QFETCH(int, records);
        QFETCH(int, full);
        QFETCH(int, clear);
        QCOMPARE(_config->define(L"UI.PixelRate", rate.toStdWString(), true), 0U);
        QCOMPARE(_config->define(L"UI.Filtering", L"0|0", true), 0U);
        auto window = shownWindow();
        QVERIFY(window);
        const auto record = reading(9.0F);
        for (int i = 0; i < records; ++i) {
            window->orvaneCallback(&record);
        }
        const QImage image = window->grab().toImage();
        QCOMPARE(image.pixelColor(full, 50), kTraces[0]);
        QCOMPARE(image.pixelColor(595, 50), kTraces[0]);
        QVERIFY(image.pixelColor(clear, 50) != kTraces[0]);
    }

    void anEmptyRingShowsFramesGridAndTheNoiseFloorOnly_data() {
        QTest::addColumn<bool>("filtered");
        QTest::newRow("unfiltered") << false;
        QTest::newRow("filtered") << true;
    }

    void anEmptyRingShowsFramesGridAndTheNoiseFloorOnly() {
        QFETCH(bool, filtered);
        QCOMPARE(_config->define(L"UI.Filtering", filtered ? L"0|1" : L"0|0", true), 0U);
        auto window = shownWindow();
        QVERIFY(window);
        fill(*window, 3.0F);
        window->clear();
        QCOMPARE(window->readings().size(), std::size_t(0));
        const QImage image = window->grab().toImage();
        for (const QColor& trace : kTraces) {
            QCOMPARE(countOf(image, trace), 0);
        }
        const QColor frame = window->palette().color(QPalette::Window);
        QCOMPARE(image.pixelColor(3, 50), frame);
        QCOMPARE(image.pixelColor(300, 3), frame);
        QCOMPARE(image.pixelColor(596, 99), frame);
        QCOMPARE(image.pixelColor(300, 102), frame);
        // Dashed grid lines every 12 pixels from 16.5: both dashes and gaps on row 16.
        int dashes = 0;
        int gaps = 0;
        for (int x = 5; x < 596; ++x) {
            dashes += image.pixelColor(x, 16) == kGrid ? 1 : 0;
            gaps += image.pixelColor(x, 16) == QColor(Qt::black) ? 1 : 0;
        }
        QVERIFY2(dashes > 100 && gaps > 100, qPrintable(QStringLiteral("%1 %2").arg(dashes).arg(gaps)));
        QCOMPARE(image.pixelColor(300, 17), QColor(Qt::black));

        // The noise floor 0.5 at 98.5 - 96 × 0.5 ÷ 4.5 = 87.83, two lines: row 88 green.
        int green = 0;
        for (int lane = 0; lane < 3; ++lane) {
            for (int x = 6; x < 594; ++x) {
                const QColor pixel = image.pixelColor(x, 88 + lane * 99);
                green += pixel.green() > 180 && pixel.red() < 60 && pixel.blue() < 60 ? 1 : 0;
            }
        }
        QCOMPARE(green, filtered ? 0 : 3 * 588);
        QCOMPARE(image.pixelColor(300, 85).green() > 100, false);
        QCOMPARE(image.pixelColor(300, 91).green() > 100, false);
    }

    void framesFollowThePalette() {
        auto window = shownWindow();
        QVERIFY(window);
        QPalette changed = window->palette();
        changed.setColor(QPalette::Window, QColor(10, 200, 30));
        window->setPalette(changed);
        QCOMPARE(window->grab().toImage().pixelColor(3, 50), QColor(10, 200, 30));
    }

    void whileTheSizeIsDraggedOnlyFramesAndGridShow() {
        QCOMPARE(_config->define(L"UI.Filtering", L"0|0", true), 0U);
        auto window = shownWindow();
        QVERIFY(window);
        fill(*window, 9.0F);
        QVERIFY(!window->resizing());
        QVERIFY(countOf(window->grab().toImage(), kTraces[0]) > 0);

        // Resize events in quick succession are a drag of the window's edge.
        window->resize(620, 300);
        window->resize(600, 300);
        QVERIFY(window->resizing());
        const QImage dragging = window->grab().toImage();
        QCOMPARE(countOf(dragging, kTraces[0]), 0);
        QCOMPARE(countOf(dragging, QColor(0, 255, 0)), 0);
        QCOMPARE(dragging.pixelColor(3, 50), window->palette().color(QPalette::Window));

        QTRY_VERIFY(!window->resizing());
        QVERIFY(countOf(window->grab().toImage(), kTraces[0]) > 0);
    }

    void tinyWindowsDrawSanely_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("zero") << QSize(0, 0);
        QTest::newRow("one") << QSize(1, 1);
        QTest::newRow("narrow") << QSize(5, 300);
        QTest::newRow("flat") << QSize(600, 9);
        QTest::newRow("lanes of two pixels") << QSize(600, 20);
    }

    void tinyWindowsDrawSanely() {
        QFETCH(QSize, size);
        QCOMPARE(_config->define(L"UI.Filtering", L"0|0", true), 0U);
        auto window = shownWindow();
        QVERIFY(window);
        fill(*window, 9.0F);
        window->resize(size);
        QTRY_VERIFY(!window->resizing());
        const QImage image = window->grab().toImage();
        QCOMPARE(image.size(), size.isEmpty() ? QSize(0, 0) : size);
        QCOMPARE(window->readings().capacity(), std::size_t(300));
        // Nothing is drawn outside the lanes.
        for (int x = 0; x < image.width(); ++x) {
            QVERIFY(image.height() < 2 || image.pixelColor(x, image.height() - 1) == QColor(Qt::black));
        }
    }

    void aBurstOfReadingsCostsFewPaintsAndTheLastOneShows() {
        auto window = shownWindow();
        QVERIFY(window);
        PaintSpy spy(*window);
        const auto first = reading(1.0F);
        window->orvaneCallback(&first);
        QTRY_VERIFY(!spy.painted.empty() && spy.painted.back() == 1.0F);

        // Right after a paint, with the thread idle between readings as in a live stream.
        spy.painted.clear();
        constexpr int kBurst = 20;
        for (int i = 1; i <= kBurst; ++i) {
            const auto next = reading(1.0F + static_cast<float>(i) * 0.1F);
            window->orvaneCallback(&next);
            QCoreApplication::processEvents();
        }
        QVERIFY(spy.painted.size() < std::size_t(kBurst));
        const float last = 1.0F + static_cast<float>(kBurst) * 0.1F;
        QTRY_VERIFY(!spy.painted.empty() && spy.painted.back() == last);
    }

    void readingsArriveByTheSubscriptionUntilTheDisconnection() {
        test::FakeOrvaneInterface device;
        test::LogCapture capture;
        {
            auto window = shownWindow();
            QVERIFY(window);
            QVERIFY(!window->subscribed());
            window->subscribe(device);
            QCOMPARE(device.subscribers(), std::size_t(1));

            auto first = reading(0.125F, 7);
            first.reading2 = 2.0F;
            first.reading3 = 4.5F;
            device.deliver(first);
            QCOMPARE(window->readings().size(), std::size_t(1));
            QCOMPARE(window->readings().back().reading2, 2.0F);
            QCOMPARE(description(*window), QStringLiteral("1 of 300 records; latest 0.125 2.000 4.500"));
            const auto logged = capture.matching(L"Message ID [7]");
            QCOMPARE(logged.size(), std::size_t(1));
            QCOMPARE(logged[0].context, std::wstring(L"OrvaneOutputWnd::orvaneCallback"));
            QCOMPARE(logged[0].message,
                     std::wstring(L"OrvaneNotification - Message ID [7], type[3][NotifySentenceReceived]"));
            QCOMPARE(logged[0].verbosity, wyr::windows::logging::LogVerbosity::DebugLevel4.value());

            // The disconnection ends the subscription; the picture stays.
            device.deliver(OrvaneDisconnectNotification(5));
            QVERIFY(!window->subscribed());
            QCOMPARE(device.subscribers(), std::size_t(0));
            device.deliver(reading(1.0F, 8));
            QCOMPARE(window->readings().size(), std::size_t(1));

            window->subscribe(device);
            window->subscribe(device); // replaces, not adds
            QCOMPARE(device.subscribers(), std::size_t(1));
            window->clear();
            QCOMPARE(description(*window), QStringLiteral("0 of 300 records"));
        }
        // A window that is gone receives nothing.
        QCOMPARE(device.subscribers(), std::size_t(0));
        device.deliver(reading(1.0F, 9));
    }
};

ORVANE_UI_TEST(OrvaneOutputWndTest)
#include "OrvaneOutputWndTest.moc"
