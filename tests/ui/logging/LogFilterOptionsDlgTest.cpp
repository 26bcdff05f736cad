#include "wyr/windows/logging/ui/LogFilterOptionsDlg.h"

#include "tests/ui/support/UiTest.h"
#include "wyr/windows/logging/LogVerbosity.h"
#include "wyr/windows/logging/TLogFilter.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace wyr::windows::logging;

namespace {

struct Filter : TLogFilter<Filter> {};

QListWidget* list(LogFilterOptionsDlg& dialog) {
    return dialog.findChild<QListWidget*>(QStringLiteral("verbosityList"));
}

QPushButton* button(LogFilterOptionsDlg& dialog, const char* name) {
    return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
}

void setTicked(LogFilterOptionsDlg& dialog, const LogVerbosity& verbosity, bool ticked) {
    const auto items = list(dialog)->findItems(QString::fromStdWString(verbosity.name()), Qt::MatchExactly);
    QCOMPARE(items.size(), 1);
    items.first()->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
}

} // namespace

class LogFilterOptionsDlgTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void listsEveryVerbosityInValueOrderTickedFromTheMask() {
        Filter filter;
        filter.setFilter(LogVerbosity::DebugLevel1.mask() | LogVerbosity::Information.mask());
        LogFilterOptionsDlg dialog(&filter);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Log Filter Options"));
        auto* items = list(dialog);
        QVERIFY(items != nullptr);
        QCOMPARE(items->count(), int(LogVerbosity::registry().size()));
        int row = 0;
        for (const auto& [value, verbosity] : LogVerbosity::registry()) {
            const auto* item = items->item(row++);
            QCOMPARE(item->text(), QString::fromStdWString(verbosity->name()));
            QCOMPARE(item->data(Qt::UserRole).toInt(), value);
            const bool ticked =
                *verbosity == LogVerbosity::DebugLevel1 || *verbosity == LogVerbosity::Information;
            QCOMPARE(item->checkState(), ticked ? Qt::Checked : Qt::Unchecked);
        }
    }

    void withAFilterUpdateAppliesTheTickedMaskAtOnceAndStaysOpen() {
        Filter filter;
        filter.setFilter(0xFFFF);
        LogFilterOptionsDlg dialog(&filter);
        dialog.show();
        QVERIFY(!button(dialog, "okButton")->isVisible());
        QVERIFY(button(dialog, "updateButton")->isVisible());
        for (const auto& [value, verbosity] : LogVerbosity::registry()) {
            setTicked(dialog, *verbosity,
                      *verbosity == LogVerbosity::Warning || *verbosity == LogVerbosity::Error);
        }
        QCOMPARE(filter.getFilter(), std::uint16_t(0xFFFF)); // nothing applied before the press
        button(dialog, "updateButton")->click();
        QCOMPARE(filter.getFilter(),
                 std::uint16_t(LogVerbosity::Warning.mask() | LogVerbosity::Error.mask()));
        QVERIFY(dialog.isVisible());

        // Shown again, it ticks what the filter holds now.
        filter.setFilter(LogVerbosity::DebugLevel4.mask());
        dialog.hide();
        dialog.show();
        QCOMPARE(dialog.tickedMask(), LogVerbosity::DebugLevel4.mask());
    }

    void withoutAFilterOkKeepsTheTickedMaskAndCloses() {
        LogFilterOptionsDlg dialog(nullptr);
        dialog.setMask(LogVerbosity::Warning.mask());
        dialog.show();
        QVERIFY(button(dialog, "okButton")->isVisible());
        QVERIFY(!button(dialog, "updateButton")->isVisible());
        QCOMPARE(dialog.tickedMask(), LogVerbosity::Warning.mask());
        setTicked(dialog, LogVerbosity::Warning, false);
        setTicked(dialog, LogVerbosity::AppSpecific2, true);
        setTicked(dialog, LogVerbosity::DebugLevel2, true);
        QCOMPARE(dialog.mask(), LogVerbosity::Warning.mask()); // kept only by OK
        button(dialog, "okButton")->click();
        QCOMPARE(dialog.mask(),
                 std::uint16_t(LogVerbosity::AppSpecific2.mask() | LogVerbosity::DebugLevel2.mask()));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
    }
};

ORVANE_UI_TEST(LogFilterOptionsDlgTest)
#include "LogFilterOptionsDlgTest.moc"
