#include "app/AdminMode.h"

#include "tests/ui/support/UiTest.h"

#include <QTest>

using app::AdminMode;

namespace {

AdminMode::Sources sources(std::optional<std::string> nis, std::optional<std::string> host) {
    return {[nis] { return nis; }, [host] { return host; }};
}

} // namespace

Q_DECLARE_METATYPE(std::optional<std::string>)

class AdminModeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theLanGroupDecidesWithoutSwitches_data() {
        QTest::addColumn<std::optional<std::string>>("nis");
        QTest::addColumn<std::optional<std::string>>("host");
        QTest::addColumn<bool>("admin");
        const std::optional<std::string> none;
        QTest::newRow("NIS domain TLV") << std::optional<std::string>("TLV") << none << true;
        QTest::newRow("NIS names are exact") << std::optional<std::string>("tlv") << none << false;
        QTest::newRow("another NIS domain wins over the host")
            << std::optional<std::string>("LAB") << std::optional<std::string>("pc.tlv") << false;
        QTest::newRow("(none) means no NIS domain")
            << std::optional<std::string>("(none)") << std::optional<std::string>("bench4.tlv") << true;
        QTest::newRow("empty NIS domain")
            << std::optional<std::string>("") << std::optional<std::string>("a.TlV.") << true;
        QTest::newRow("NIS unavailable") << none << std::optional<std::string>("bench4.tlv") << true;
        QTest::newRow("a longer DNS domain")
            << none << std::optional<std::string>("bench4.tlv.example.com") << false;
        QTest::newRow("a domain ending in TLV") << none << std::optional<std::string>("x.abctlv") << false;
        QTest::newRow("host without domain") << none << std::optional<std::string>("tlv") << false;
        QTest::newRow("nothing known") << none << none << false;
    }
    void theLanGroupDecidesWithoutSwitches() {
        QFETCH(std::optional<std::string>, nis);
        QFETCH(std::optional<std::string>, host);
        QFETCH(bool, admin);
        QCOMPARE(AdminMode::decide({"orvane"}, sources(nis, host)), admin);
    }

    void theSwitchesWinAndAdminWinsOverNoadmin() {
        const auto member = sources(std::string("TLV"), std::nullopt);
        const auto stranger = sources(std::string("LAB"), std::nullopt);
        QVERIFY(AdminMode::decide({"orvane", "-admin"}, stranger));
        QVERIFY(!AdminMode::decide({"orvane", "-noadmin"}, member));
        QVERIFY(AdminMode::decide({"orvane", "-noadmin", "-debug", "-admin"}, stranger));
        // Compared exactly: neither of these is a switch.
        QVERIFY(!AdminMode::decide({"orvane", "-Admin", "--admin", "-admin=1"}, stranger));
        QVERIFY(AdminMode::decide({"orvane", "-NOADMIN"}, member));
    }

    void theSystemsOwnSourcesAnswerWithoutFailing() {
        const auto group = AdminMode::lanGroup(AdminMode::systemSources());
        QVERIFY(group != "(none)");
    }
};

ORVANE_UI_TEST(AdminModeTest)
#include "AdminModeTest.moc"
