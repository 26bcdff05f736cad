#include "app/SystemInfoDlg.h"

#include "app/ProgramVersion.h"
#include "app/SystemInfoReport.h"
#include "tests/ui/support/UiTest.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/OsFacts.h"

#include <QFontInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using app::SystemInfoDlg;
using wyr::windows::config::ConfigMgr;
using wyr::windows::system::OsFacts;

class SystemInfoDlgTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writesTheReportWhenItOpensAndProbesOnlyOnce() {
        int kernelCalls = 0;
        OsFacts facts({[] { return std::optional<std::string>("PRETTY_NAME=\"Test OS 1\"\n"); },
                       [&kernelCalls] {
                           ++kernelCalls;
                           return std::optional<OsFacts::Kernel>({"Linux", "6.1.5", "x86_64"});
                       }});
        ConfigMgr& config = ConfigMgr::instance();
        config.setInt(L"UI.Gain", 512);
        config.define(L"UI.ScaleFactor", L"2|1.0", true);

        SystemInfoDlg first(true, false, facts, config);
        QCOMPARE(first.windowTitle(), QStringLiteral("System Info"));
        QVERIFY(first.isModal());
        auto* box = first.findChild<QPlainTextEdit*>(QStringLiteral("report"));
        QVERIFY(box != nullptr);
        QVERIFY(box->isReadOnly());
        QVERIFY(QFontInfo(box->font()).fixedPitch());
        QCOMPARE(kernelCalls, 0);
        QVERIFY(box->toPlainText().isEmpty());

        first.show();
        QCOMPARE(kernelCalls, 1);
        const app::SystemInfoReport::Inputs inputs{app::ProgramVersion::current(), true, false,
                                                   facts.facts()};
        const QString expected =
            QString::fromStdWString(app::SystemInfoReport::build(inputs, config.entries()));
        QCOMPARE(first.report(), expected);
        QCOMPARE(box->toPlainText(), QString(expected).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QVERIFY(expected.contains(QStringLiteral("   OS Name\t\t: Test OS 1\r\n")));
        QVERIFY(expected.contains(QStringLiteral("   UI.Gain - Integer | 512\r\n")));
        QVERIFY(!expected.contains(QStringLiteral("UI.ScaleFactor")));

        auto* ok = first.findChild<QPushButton*>(QStringLiteral("ok"));
        QVERIFY(ok != nullptr);
        ok->click();
        QCOMPARE(first.result(), int(QDialog::Accepted));

        SystemInfoDlg second(false, true, facts, config);
        second.show();
        QCOMPARE(kernelCalls, 1);
        QVERIFY(second.report().contains(QStringLiteral("   Debug\t\t\t: Yes\r\n")));
    }
};

ORVANE_UI_TEST(SystemInfoDlgTest)
#include "SystemInfoDlgTest.moc"
