#include "wyr/windows/ui/PersistWindowPos.h"

#include "tests/ui/support/UiTest.h"
#include "wyr/windows/config/ConfigMgr.h"

#include <QTest>
#include <QWidget>

using wyr::windows::config::ConfigMgr;
using wyr::windows::ui::PersistWindowPos;

namespace {

const QList<QRect> kOneScreen{QRect(0, 0, 1280, 800)};

std::wstring stored(const wchar_t* name) {
    std::wstring text;
    ConfigMgr::instance().getString(std::wstring(L"Test window.") + name, text);
    return text;
}

bool storedBool(const wchar_t* name) {
    bool value = false;
    ConfigMgr::instance().getBool(std::wstring(L"Test window.") + name, value);
    return value;
}

} // namespace

class PersistWindowPosTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        auto& store = ConfigMgr::instance();
        store.define(L"Test window.Rectangle", L"3|none", true);
        store.define(L"Test window.Iconized", L"0|0", true);
        store.define(L"Test window.Maximized", L"0|0", true);
    }

    void savesTheNormalRectangleAndStateAndRestoresThem() {
        const PersistWindowPos placement(L"Test window");
        QWidget saved;
        saved.setGeometry(100, 120, 640, 480);
        placement.save(saved);
        QCOMPARE(stored(L"Rectangle"), std::wstring(L"0100 0120 0740 0600"));
        QVERIFY(!storedBool(L"Iconized"));
        QVERIFY(!storedBool(L"Maximized"));

        QWidget restored;
        QVERIFY(placement.restore(restored, kOneScreen));
        QCOMPARE(restored.geometry(), QRect(100, 120, 640, 480));
        QVERIFY(!(restored.windowState() & Qt::WindowMaximized));
    }

    void aMaximisedWindowKeepsItsNormalRectangleAndComesBackMaximised() {
        const PersistWindowPos placement(L"Test window");
        QWidget saved;
        saved.setGeometry(40, 50, 300, 200);
        saved.showMaximized();
        QVERIFY(saved.isMaximized());
        placement.save(saved);
        QCOMPARE(stored(L"Rectangle"), std::wstring(L"0040 0050 0340 0250"));
        QVERIFY(storedBool(L"Maximized"));

        QWidget restored;
        QVERIFY(placement.restore(restored, kOneScreen));
        QVERIFY(restored.windowState() & Qt::WindowMaximized);
        QCOMPARE(restored.geometry(), QRect(40, 50, 300, 200));
    }

    void nothingUsableStoredLeavesTheWindowAlone_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("first start") << QString();
        QTest::newRow("garbage") << "3|none";
        QTest::newRow("three numbers") << "3|0010 0010 0400";
        QTest::newRow("no area") << "3|0400 0010 0100 0300";
        QTest::newRow("off every screen") << "3|5000 5000 5640 5480";
        QTest::newRow("edited into a number") << "1|17";
    }

    void nothingUsableStoredLeavesTheWindowAlone() {
        QFETCH(QString, text);
        auto& store = ConfigMgr::instance();
        if (text.isEmpty()) {
            const PersistWindowPos fresh(L"Never saved");
            QWidget window;
            window.setGeometry(1, 2, 30, 40);
            QVERIFY(!fresh.restore(window, kOneScreen));
            QCOMPARE(window.geometry(), QRect(1, 2, 30, 40));
            return;
        }
        store.define(L"Test window.Rectangle", text.toStdWString(), true);
        const PersistWindowPos placement(L"Test window");
        QWidget window;
        window.setGeometry(1, 2, 30, 40);
        QVERIFY(!placement.restore(window, kOneScreen));
        QCOMPARE(window.geometry(), QRect(1, 2, 30, 40));
    }

    void aRectangleMustShowEnoughOfItselfOnOneScreen_data() {
        QTest::addColumn<QRect>("rectangle");
        QTest::addColumn<bool>("fits");
        QTest::newRow("inside the first") << QRect(10, 10, 400, 300) << true;
        QTest::newRow("on the second, left of the first") << QRect(-900, 100, 400, 300) << true;
        QTest::newRow("mostly off, 60 pixels on") << QRect(1220, 700, 400, 300) << true;
        QTest::newRow("only 20 pixels on") << QRect(1260, 100, 400, 300) << false;
        QTest::newRow("in the gap under the second") << QRect(-900, 900, 400, 300) << false;
        QTest::newRow("across both, 40 on each") << QRect(-40, 10, 80, 300) << false;
    }

    void aRectangleMustShowEnoughOfItselfOnOneScreen() {
        QFETCH(QRect, rectangle);
        QFETCH(bool, fits);
        const QList<QRect> screens{QRect(0, 0, 1280, 800), QRect(-1024, 0, 1024, 768)};
        QCOMPARE(PersistWindowPos::fitsScreens(rectangle, screens), fits);
    }

    void negativeEdgesRoundTrip() {
        const QRect rectangle(-8, -8, 1296, 816);
        const std::wstring text = PersistWindowPos::formatRectangle(rectangle);
        QCOMPARE(text, std::wstring(L"-008 -008 1288 0808"));
        QCOMPARE(PersistWindowPos::parseRectangle(text), std::optional<QRect>(rectangle));
    }
};

ORVANE_UI_TEST(PersistWindowPosTest)
#include "PersistWindowPosTest.moc"
