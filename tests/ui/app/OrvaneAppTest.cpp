#include "app/OrvaneApp.h"

#include "app/ApplicationSettings.h"
#include "app/MainFrame.h"
#include "app/SingleInstance.h"
#include "tests/ui/support/AppEnvironment.h"
#include "tests/ui/support/ModalDialogs.h"
#include "tests/ui/support/UiTest.h"
#include "tests/unit/device/FakeOrvaneInterface.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/ui/TaskDialog.h"

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

using app::OrvaneApp;
using test::FakeOrvaneInterface;
using wyr::windows::config::ConfigMgr;
using wyr::windows::ui::TaskDialog;

namespace {

QString labelText(const TaskDialog& dialog, const char* name) {
    const auto* label = dialog.findChild<QLabel*>(QLatin1String(name));
    return label != nullptr && !label->isHidden() ? label->text() : QString();
}

QStringList arguments(std::initializer_list<const char*> switches) {
    QStringList list{QStringLiteral("orvane")};
    for (const char* s : switches) {
        list << QLatin1String(s);
    }
    return list;
}

std::vector<std::string> operations(const FakeOrvaneInterface& device) {
    std::vector<std::string> names;
    for (const auto& call : device.calls) {
        names.push_back(call.operation);
    }
    return names;
}

QStringList logFiles(const QString& directory) {
    return QDir(directory).entryList({QStringLiteral("Tolvek-OrvaneUI_DEBUG-*")}, QDir::Files);
}

} // namespace

class OrvaneAppTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsInOrderShowsTheFrameAndShutsDownInReverse() {
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        {
            OrvaneApp orvane(arguments({"-noadmin"}), &device);
            QVERIFY(orvane.initInstance());
            QVERIFY(orvane.mainFrame() != nullptr);
            QVERIFY(orvane.mainFrame()->isVisible());
            // The first start has no stored placement: maximised.
            QVERIFY(orvane.mainFrame()->windowState() & Qt::WindowMaximized);
            QCOMPARE(operations(device), (std::vector<std::string>{"registerConfiguration",
                                                                   "validateConfiguration", "initialize"}));
            // A first start is no configuration fault: the device settings exist now.
            QVERIFY(ConfigMgr::instance().contains(L"Device.Serial.BaudRate"));
            QCOMPARE(orvane.exitInstance(7), 7);
        }
        QCOMPARE(device.calls.back().operation, std::string("finalize"));
        QVERIFY(QFile::exists(environment.settingsFile()));
        // Nothing was asked of the user, so nothing else was written.
        QVERIFY(logFiles(environment.temporary()).isEmpty());
    }

    void aTransientSettingIsBackAtItsDefaultAndAnOrdinaryOneKeepsItsValue() {
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        {
            OrvaneApp orvane(arguments({}), &device);
            QVERIFY(orvane.initInstance());
            ConfigMgr::instance().setString(L"UI.ScaleFactor", L"3.5");
            ConfigMgr::instance().setInt(L"UI.Gain", 300);
            orvane.exitInstance();
        }
        OrvaneApp orvane(arguments({}), &device);
        QVERIFY(orvane.initInstance());
        std::int32_t gain = 0;
        QVERIFY(ConfigMgr::instance().getInt(L"UI.Gain", gain));
        QCOMPARE(gain, 300);
        double scale = 0.0;
        QVERIFY(ConfigMgr::instance().getDouble(L"UI.ScaleFactor", scale));
        QCOMPARE(scale, 1.0);
        orvane.exitInstance();
    }

    void theConfigurationFailureDialogRepairsOrEnds_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("runs");
        QTest::newRow("load default configuration") << 201 << true;
        QTest::newRow("cancel") << 202 << false;
        QTest::newRow("plain OK") << int(TaskDialog::IdOk) << false;
    }
    void theConfigurationFailureDialogRepairsOrEnds() {
        QFETCH(int, answer);
        QFETCH(bool, runs);
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        device.validateResults = {545};
        QString instruction;
        QString footer;
        bool ok = false;
        test::pressTaskDialog(answer, [&](TaskDialog& dialog) {
            instruction = labelText(dialog, "mainInstruction");
            footer = labelText(dialog, "footer");
            ok = dialog.button(TaskDialog::IdOk) != nullptr;
        });
        OrvaneApp orvane(arguments({}), &device);
        QCOMPARE(orvane.initInstance(), runs);
        QCOMPARE(instruction, QStringLiteral("Failed to load the application configuration."));
        QVERIFY(footer.isEmpty());
        QVERIFY(ok);
        QCOMPARE(device.callsOf("setDefaultConfiguration").size(), std::size_t(runs ? 1 : 0));
        if (runs) {
            QCOMPARE(device.callsOf("setDefaultConfiguration").front().first, -1);
        }
        QCOMPARE(orvane.mainFrame() != nullptr, runs);
        orvane.exitInstance();
    }

    void aLinkSettingIsRepairedWithoutAsking() {
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        device.validateResults = {619};
        OrvaneApp orvane(arguments({}), &device);
        QVERIFY(orvane.initInstance());
        QCOMPARE(device.callsOf("setDefaultConfiguration"),
                 (std::vector<FakeOrvaneInterface::Call>{{"setDefaultConfiguration", 619, 0}}));
        orvane.exitInstance();
    }

    void theInitialisationFailureDialogRetriesOrEnds() {
        test::AppEnvironment environment;
        {
            FakeOrvaneInterface device;
            device.initializeResults = {5};
            QString instruction;
            QString footer;
            test::pressTaskDialog(201, [&](TaskDialog& dialog) {
                instruction = labelText(dialog, "mainInstruction");
                footer = labelText(dialog, "footer");
            });
            OrvaneApp orvane(arguments({}), &device);
            QVERIFY(orvane.initInstance());
            QCOMPARE(instruction, QStringLiteral("The application failed to initialize properly."));
            QVERIFY(footer.contains(QLatin1String("support@")));
            QCOMPARE(device.callsOf("initialize").size(), std::size_t(2));
            orvane.exitInstance();
        }
        FakeOrvaneInterface device;
        device.initializeResults = {5};
        test::pressTaskDialog(202);
        OrvaneApp orvane(arguments({}), &device);
        QVERIFY(!orvane.initInstance());
        QVERIFY(orvane.mainFrame() == nullptr);
        orvane.exitInstance();
        // The link never came up, so it is not taken down either.
        QVERIFY(device.callsOf("finalize").empty());
    }

    void debugWritesTheLogWhereTheSettingSaysOrAsks_data() {
        QTest::addColumn<QString>("location");
        QTest::addColumn<bool>("inTemporary");
        QTest::addColumn<bool>("dialog");
        QTest::newRow("empty means the temporary folder") << QStringLiteral("3|") << true << false;
        QTest::newRow("a folder that does not exist")
            << QStringLiteral("3|/nonexistent/orvane-logs") << false << true;
    }
    void debugWritesTheLogWhereTheSettingSaysOrAsks() {
        QFETCH(QString, location);
        QFETCH(bool, inTemporary);
        QFETCH(bool, dialog);
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        {
            // The stored location, as a user may have left it.
            OrvaneApp first(arguments({}), &device);
            QVERIFY(first.initInstance());
            ConfigMgr::instance().define(app::ApplicationSettings::kDebugLogLocation, location.toStdWString(),
                                         false);
            first.exitInstance();
        }
        QString details;
        bool asked = false;
        if (dialog) {
            test::pressTaskDialog(201, [&](TaskDialog& shown) {
                asked =
                    labelText(shown, "mainInstruction") == QLatin1String("Failed to open local log file.");
                shown.setExpanded(true);
                details = labelText(shown, "expandedInformation");
            });
        }
        OrvaneApp orvane(arguments({"-debug"}), &device);
        QVERIFY(orvane.initInstance());
        QCOMPARE(asked, dialog);
        if (dialog) {
            QCOMPARE(details, QStringLiteral("The system cannot find the path specified."));
        }
        bool logging = false;
        QVERIFY(ConfigMgr::instance().getBool(app::ApplicationSettings::kDebugLogging, logging));
        QVERIFY(logging);
        orvane.exitInstance();
        QCOMPARE(logFiles(environment.temporary()).size(), inTemporary ? 1 : 0);
        if (inTemporary) {
            QFile file(environment.temporary() + QLatin1Char('/') +
                       logFiles(environment.temporary()).front());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.readAll().contains("                       CONFIGURATION"));
        }
    }

    void aSecondStartAsksTheFirstToComeForwardAndEnds() {
        test::AppEnvironment environment;
        FakeOrvaneInterface device;
        OrvaneApp first(arguments({}), &device);
        QVERIFY(first.initInstance());
        first.mainFrame()->showMinimized();

        FakeOrvaneInterface otherDevice;
        QString told;
        test::whenModal<QMessageBox>([&told](QMessageBox& box) {
            told = box.text();
            box.accept();
        });
        OrvaneApp second(arguments({}), &otherDevice);
        QVERIFY(!second.initInstance());
        QCOMPARE(told, QStringLiteral("Detected previous running instance."));
        QVERIFY(otherDevice.calls.empty());
        second.exitInstance();

        QTRY_VERIFY(!(first.mainFrame()->windowState() & Qt::WindowMinimized));
        first.exitInstance();
    }

    void aLockLeftByAKilledInstanceDoesNotBlockAStart() {
        test::AppEnvironment environment;
        QDir().mkpath(app::SingleInstance::runtimeDirectory());
        // A dead process leaves both files but holds no lock.
        QFile lock(app::SingleInstance::lockPath());
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.close();
        QFile socket(app::SingleInstance::socketPath());
        QVERIFY(socket.open(QIODevice::WriteOnly));
        socket.close();

        app::SingleInstance instance;
        QVERIFY(instance.acquire());
        QVERIFY(instance.error().isEmpty());
        app::SingleInstance later;
        QVERIFY(!later.acquire());
        QSignalSpy asked(&instance, &app::SingleInstance::activationRequested);
        QVERIFY(later.activatePrevious());
        QTRY_COMPARE(asked.count(), 1);
    }
};

ORVANE_UI_TEST(OrvaneAppTest)

#include "OrvaneAppTest.moc"
