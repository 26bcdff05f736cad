#include "app/SystemInfoReport.h"

#include "tests/ui/app/CommaLocale.h"
#include "tests/ui/support/UiTest.h"

#include <QTest>
#include <cstdio>

using app::SystemInfoReport;
using wyr::windows::config::ConfigEntry;
using wyr::windows::config::ConfigMgr;

namespace {

SystemInfoReport::Inputs sampleInputs() {
    SystemInfoReport::Inputs inputs;
    inputs.version = {0, 1, 0, 42};
    inputs.admin = true;
    inputs.debug = false;
    inputs.os = {true, L"Debian GNU/Linux 12 (bookworm)", L"x64", L"6.1.0-18-amd64", 76};
    return inputs;
}

QStringList linesOf(const std::wstring& report) {
    const QString text = QString::fromStdWString(report);
    // Every line ends in CR LF, so the last part is empty.
    return text.split(QStringLiteral("\r\n"));
}

} // namespace

class SystemInfoReportTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theReportIsWrittenLineByLineWithFullStopsUnderACommaLocale() {
        const test::CommaLocale german;
        if (german.active()) {
            // The fault this guards against: printf-style formatting follows the locale.
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%f", 1.0);
            QCOMPARE(QString::fromLatin1(buffer), QStringLiteral("1,000000"));
        }

        ConfigMgr::Entries settings;
        settings[L"UI.Gain"] = ConfigEntry{false, std::int32_t{512}};
        settings[L"UI.ScaleFactor"] = ConfigEntry{true, 1.0};
        settings[L"Debug.LogLocation"] = ConfigEntry{false, std::wstring(L"%TEMP%")};
        settings[L"Device.Ratio"] = ConfigEntry{false, 1.0};
        settings[L"Device.Big"] = ConfigEntry{false, -12345.678};
        settings[L"UI.Filtering"] = ConfigEntry{false, true};
        settings[L"Debug.Logging"] = ConfigEntry{true, false};
        settings[L"A.Off"] = ConfigEntry{false, false};

        const QStringList expected{
            QStringLiteral("Application Information"),
            QStringLiteral("   Version\t\t\t: 0.1.0"),
            QStringLiteral("   Build\t\t\t: 42"),
            QStringLiteral("   Admin\t\t\t: Yes"),
            QStringLiteral("   Debug\t\t\t: No"),
            QString(),
            QStringLiteral("OS Information"),
            QStringLiteral("   OS Name\t\t: Debian GNU/Linux 12 (bookworm)"),
            QStringLiteral("   Processor Architecture\t: x64"),
            QStringLiteral("   Service Pack\t\t: 6.1.0-18-amd64"),
            QStringLiteral("   Build Number\t\t: 76"),
            QString(),
            QStringLiteral("Settings"),
            QStringLiteral("   A.Off - Boolean | false"),
            QStringLiteral("   Debug.LogLocation - String | %TEMP%"),
            QStringLiteral("   Device.Big - Double | -12345.678000"),
            QStringLiteral("   Device.Ratio - Double | 1.000000"),
            QStringLiteral("   UI.Filtering - Boolean | true"),
            QStringLiteral("   UI.Gain - Integer | 512"),
            QString(),
        };
        QCOMPARE(linesOf(SystemInfoReport::build(sampleInputs(), settings)), expected);
    }

    void missingFactsGiveEmptyTextsAndBuildNumberZero() {
        SystemInfoReport::Inputs inputs = sampleInputs();
        inputs.os = {};
        inputs.admin = false;
        inputs.debug = true;
        const QStringList lines = linesOf(SystemInfoReport::build(inputs, {}));
        QCOMPARE(lines.mid(3, 2),
                 (QStringList{QStringLiteral("   Admin\t\t\t: No"), QStringLiteral("   Debug\t\t\t: Yes")}));
        QCOMPARE(
            lines.mid(7, 4),
            (QStringList{QStringLiteral("   OS Name\t\t: "), QStringLiteral("   Processor Architecture\t: "),
                         QStringLiteral("   Service Pack\t\t: "), QStringLiteral("   Build Number\t\t: 0")}));
        QCOMPARE(lines.mid(12), (QStringList{QStringLiteral("Settings"), QString()}));
    }

    void integerExtremesAndDoublesOutOfTheOrdinary() {
        const auto text = [](const wyr::windows::config::ConfigValue& value) {
            return QString::fromStdWString(SystemInfoReport::valueText(value));
        };
        QCOMPARE(text(std::int32_t{-2147483647 - 1}), QStringLiteral("Integer | -2147483648"));
        QVERIFY(text(1e300).startsWith(QStringLiteral("Double | 1000000000")));
        QVERIFY(text(1e300).endsWith(QStringLiteral(".000000")));
        QCOMPARE(text(0.0000004), QStringLiteral("Double | 0.000000"));
        QCOMPARE(text(-0.5), QStringLiteral("Double | -0.500000"));
        QCOMPARE(text(std::wstring(L"3|1|3")), QStringLiteral("String | 3|1|3"));
    }
};

ORVANE_UI_TEST(SystemInfoReportTest)
#include "SystemInfoReportTest.moc"
