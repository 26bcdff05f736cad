#include "tests/unit/config/ConfigValuePrinter.h"
#include "tests/unit/support/LogCapture.h"
#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/CurrentThread.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/RegisteredMessage.h"

#include <gtest/gtest.h>
#include <thread>
#include <utility>
#include <vector>

using namespace wyr::windows::config;
using namespace wyr::windows::system;
using test::LogCapture;

namespace {

class TestConfigMgr : public ConfigMgr {
public:
    TestConfigMgr() = default;
};

struct Change {
    std::wstring name;
    ConfigValue value;
    ThreadId thread;
};

bool changeWaiting(ConfigMgr& config) {
    Message m;
    return peekMessage(m, config.notificationWindow().window().handle(), 0, 0, PM_NOREMOVE);
}

} // namespace

TEST(ConfigNotification, TheMessageKeepsItsRegisteredName) {
    EXPECT_EQ(registeredMessageName(ConfigNotificationWnd::WM_NOTIFY_CONFIGCHANGE),
              "WM_NOTIFY_CONFIGCHANGE-{95E4B830-E1AB-47F3-9677-580C7128D1BB}");
    EXPECT_EQ(&ConfigMgr::instance(), &ConfigMgr::instance());
    EXPECT_EQ(ConfigMgr::instance().notificationWindow().window().ownerThread(), currentThreadId());
}

TEST(ConfigNotification, NothingIsPostedWithoutAListenerNorByDefine) {
    TestConfigMgr config;
    config.setBool(L"Debug.Logging", true);
    EXPECT_FALSE(changeWaiting(config));

    std::vector<Change> changes;
    auto connection = config.connect([&](const std::wstring& name, const ConfigValue& value) {
        changes.push_back({name, value, currentThreadId()});
    });
    ASSERT_EQ(config.define(L"UI.Gain", L"1|5", false), ERROR_SUCCESS);
    EXPECT_FALSE(changeWaiting(config)) << "define does not notify";
    connection.disconnect();
    config.setBool(L"Debug.Logging", false);
    EXPECT_FALSE(changeWaiting(config));
    EXPECT_TRUE(changes.empty());
}

TEST(ConfigNotification, ChangesReachListenersOnTheOwnerThreadInOrder) {
    TestConfigMgr config;
    ASSERT_EQ(config.define(L"Debug.Logging", L"0|0", true), ERROR_SUCCESS);
    std::vector<Change> changes;
    auto connection = config.connect([&](const std::wstring& name, const ConfigValue& value) {
        changes.push_back({name, value, currentThreadId()});
    });

    config.setBool(L"Debug.Logging", true);
    config.setString(L"Debug.LogLocation", L"%TEMP%");
    std::thread worker([&config] {
        for (std::int32_t i = 0; i < 50; ++i) {
            config.setInt(L"UI.Gain", i);
        }
        config.setDouble(L"UI.ScaleFactor", 1.5);
        config.setFloat(L"UI.NoiseFloor", 0.5F);
    });
    worker.join();
    EXPECT_TRUE(changes.empty()) << "listeners run only when the owner thread pumps";
    ASSERT_TRUE(runUntil([&] { return changes.size() == 54; }, 10000)) << changes.size();

    EXPECT_EQ(changes[0].name, L"Debug.Logging");
    EXPECT_EQ(changes[0].value, ConfigValue(true));
    EXPECT_EQ(changes[1].value, ConfigValue(std::wstring(L"%TEMP%")));
    for (std::int32_t i = 0; i < 50; ++i) {
        EXPECT_EQ(changes[2 + i].value, ConfigValue(i));
    }
    EXPECT_EQ(changes[52].value, ConfigValue(1.5));
    EXPECT_EQ(changes[53].value, ConfigValue(bitsFromFloat(0.5F)));
    for (const auto& change : changes) {
        EXPECT_EQ(change.thread, currentThreadId());
    }
    EXPECT_FALSE(config.entries().at(L"Debug.Logging").transient) << "a setter clears the transient flag";
}

TEST(ConfigNotification, UndeliveredChangesAreFreed) {
    LogCapture log(0x0040);
    {
        TestConfigMgr config;
        auto connection = config.connect([](const std::wstring&, const ConfigValue&) {});
        config.setString(L"UI.Pending", L"freed with the window");
        EXPECT_TRUE(changeWaiting(config));
    } // destroyed before the queue is pumped: the leak checker sees the copies freed

    TestConfigMgr config;
    auto connection = config.connect([](const std::wstring&, const ConfigValue&) {});
    config.notificationWindow().destroyWindow();
    config.setString(L"UI.Lost", L"freed at once");
    EXPECT_FALSE(log.matching(L"Failed to post the change of <UI.Lost> [1400].").empty());
    std::wstring value;
    ASSERT_TRUE(config.getString(L"UI.Lost", value)) << "the value is set even if nobody hears of it";
    EXPECT_EQ(value, L"freed at once");
}

TEST(ConfigNotification, WorkersReadAndWriteWhileTheUserInterfacePumps) {
    TestConfigMgr config;
    std::atomic<int> heard{0};
    auto connection = config.connect([&](const std::wstring&, const ConfigValue&) { ++heard; });
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t) {
        workers.emplace_back([&config, t] {
            const std::wstring name = L"Worker.N" + std::to_wstring(t);
            for (std::int32_t i = 0; i < 100; ++i) {
                config.setInt(name, i);
                std::int32_t read = -1;
                config.getInt(name, read);
                config.contains(L"Worker.N0");
                config.entries();
            }
        });
    }
    ASSERT_TRUE(runUntil([&] { return heard == 300; }, 20000)) << heard;
    for (auto& worker : workers) {
        worker.join();
    }
    std::int32_t last = 0;
    ASSERT_TRUE(config.getInt(L"Worker.N2", last));
    EXPECT_EQ(last, 99);
}
