#include "tests/unit/support/CommaDecimalLocale.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/logging/LogVerbosity.h"
#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/Wait.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <thread>

using namespace wyr::windows::logging;
using namespace wyr::windows::system;
using test::LogCapture;

namespace {

// A log record waits in the queue for the notification window.
bool recordQueued() {
    Message m;
    return peekMessage(m, LogBeacon::instance().notificationWindow().window().handle(), 0, 0, PM_NOREMOVE);
}

const std::vector<const LogVerbosity*>& allVerbosities() {
    static const std::vector<const LogVerbosity*> all = [] {
        std::vector<const LogVerbosity*> v;
        for (const auto& [value, verbosity] : LogVerbosity::registry()) {
            v.push_back(verbosity);
        }
        return v;
    }();
    return all;
}

long long millisOfDay(const SYSTEMTIME& t) {
    return ((t.wHour * 60LL + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
}

} // namespace

TEST(LogVerbosity, TwelveSingleBitsWithTheirNames) {
    const auto& all = allVerbosities();
    ASSERT_EQ(all.size(), 12U);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i]->value(), 1 << i);
    }
    EXPECT_EQ(LogVerbosity::DebugLevel1.name(), L"Debug Level 1");
    EXPECT_EQ(LogVerbosity::Information.name(), L"Information");
    EXPECT_EQ(LogVerbosity::UIInfo.name(), L"UI Info");
    EXPECT_EQ(LogVerbosity::AppSpecific4.name(), L"App Specific 4");
    EXPECT_EQ(LogVerbosity::fromValue(0x40), &LogVerbosity::Error);
}

TEST(LogBeaconDeathTest, LogCallBeforeTheBeaconExistsDoesNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            log(LogVerbosity::Error, "Test::before", L"lost %d", 1);
            logSystemError(2, "Test::before");
            std::exit(LogBeacon::existing() == nullptr && !logEnabled(LogVerbosity::Error) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Logging, NothingIsPostedWithoutAListenerThatAcceptsIt) {
    LogBeacon::instance().flush();
    log(LogVerbosity::Error, "Test::none", L"nobody listens");
    EXPECT_FALSE(recordQueued());

    LogCapture errorsOnly(0x0040);
    log(LogVerbosity::DebugLevel1, "Test::filtered", L" ");
    EXPECT_FALSE(recordQueued()) << "the beacon keeps the union of its listeners' masks";
    log(LogVerbosity::Error, "Test::accepted", L"seen");
    EXPECT_TRUE(recordQueued());
    EXPECT_EQ(errorsOnly.collect().size(), 1U);

    // A wider mask set after connecting widens what gets through.
    errorsOnly.setFilter(0x0041);
    log(LogVerbosity::DebugLevel1, "Test::widened", L" ");
    EXPECT_EQ(errorsOnly.collect().size(), 2U);
}

TEST(Logging, ListenerMasksSelectVerbosities) {
    LogCapture errors(0x0040);
    LogCapture everything(0xFFFF);
    for (const LogVerbosity* v : allVerbosities()) {
        log(*v, "Test::masks", L"%ls", v->name().c_str());
    }
    const auto errorRecords = errors.collect();
    ASSERT_EQ(errorRecords.size(), 1U);
    EXPECT_EQ(errorRecords[0].verbosity, 0x40);
    EXPECT_EQ(errorRecords[0].message, L"Error");
    const auto all = everything.collect();
    ASSERT_EQ(all.size(), 12U);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].verbosity, 1 << i);
    }
}

TEST(Logging, ListenersReceiveInConnectionOrder) {
    std::vector<std::string> calls;
    struct Tagged : LogListener {
        Tagged(std::vector<std::string>& c, std::string t) : calls(c), tag(std::move(t)) {}
        void onLogMessage(const LogVerbosity&, SYSTEMTIME, const wchar_t*, const wchar_t* message) override {
            calls.push_back(tag + toNarrow(message));
        }
        std::vector<std::string>& calls;
        std::string tag;
    };
    Tagged a(calls, "A"), b(calls, "B");
    ASSERT_EQ(a.connect(), ERROR_SUCCESS);
    ASSERT_EQ(b.connect(), ERROR_SUCCESS);
    log(LogVerbosity::Information, "Test::order", L"1");
    log(LogVerbosity::Information, "Test::order", L"2");
    LogBeacon::instance().flush();
    EXPECT_EQ(calls, (std::vector<std::string>{"A1", "B1", "A2", "B2"}));
}

TEST(Logging, ConnectAndDisconnectResults) {
    LogCapture listener;
    EXPECT_EQ(listener.connect(), ERROR_ALREADY_INITIALIZED);
    EXPECT_EQ(listener.disconnect(), ERROR_SUCCESS);
    EXPECT_EQ(listener.disconnect(), ERROR_NOT_CONNECTED);
    log(LogVerbosity::Error, "Test::disconnected", L"not delivered");
    EXPECT_TRUE(listener.collect().empty());
    EXPECT_EQ(listener.connect(), ERROR_SUCCESS);
}

TEST(Logging, RecordCarriesContextFormattedMessageAndTimeOfTheCall) {
    LogCapture capture;
    const SYSTEMTIME before = getLocalTime();
    std::thread worker([] { log(LogVerbosity::Warning, "Worker::run", L"value %d of %ls", 7, L"ten"); });
    worker.join();
    const SYSTEMTIME after = getLocalTime();
    sleepMs(300); // delivery happens well after the call
    const auto records = capture.collect();
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].context, L"Worker::run");
    EXPECT_EQ(records[0].message, L"value 7 of ten");
    const auto t = millisOfDay(records[0].time);
    if (millisOfDay(after) >= millisOfDay(before)) { // not across midnight
        EXPECT_GE(t, millisOfDay(before));
        EXPECT_LE(t, millisOfDay(after));
    }
}

TEST(Logging, EachThreadsRecordsArriveInThatThreadsOrder) {
    LogCapture capture;
    constexpr int kEach = 300;
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w) {
        workers.emplace_back([w] {
            const std::string context = "Worker" + std::to_string(w);
            for (int i = 0; i < kEach; ++i) {
                log(LogVerbosity::DebugLevel4, context.c_str(), L"%d", i);
            }
        });
    }
    for (auto& t : workers) {
        t.join();
    }
    std::map<std::wstring, int> next;
    const auto records = capture.collect();
    ASSERT_EQ(records.size(), 3U * kEach);
    for (const auto& r : records) {
        EXPECT_EQ(std::stoi(r.message), next[r.context]++) << toNarrow(r.context);
    }
}

TEST(Logging, SystemErrorTextIsLoggedLiterallyAtError) {
    LogCapture capture;
    logSystemError(ERROR_FILE_NOT_FOUND, "Test::system");
    logSystemError(0xDEAD, "Test::system"); // no text, nothing logged
    const auto records = capture.collect();
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].verbosity, LogVerbosity::Error.value());
    EXPECT_EQ(records[0].message, L"The system cannot find the file specified.");
    EXPECT_EQ(records[0].context, L"Test::system");
}

TEST(Logging, LongAndUnusualMessagesSurvive) {
    LogCapture capture;
    const std::wstring longText(5000, L'x');
    log(LogVerbosity::Information, "Test::long", L"%ls", longText.c_str());
    log(LogVerbosity::Information, nullptr, L"");
    log(LogVerbosity::Information, "Test::percent", L"100%% sure");
    const auto records = capture.collect();
    ASSERT_EQ(records.size(), 3U);
    EXPECT_EQ(records[0].message, longText);
    EXPECT_EQ(records[1].context, L"");
    EXPECT_EQ(records[1].message, L"");
    EXPECT_EQ(records[2].message, L"100% sure");
}

TEST(Logging, FlushDeliversEverythingStillQueued) {
    LogCapture capture;
    for (int i = 0; i < 50; ++i) {
        log(LogVerbosity::Information, "Test::flush", L"%d", i);
    }
    EXPECT_TRUE(capture.records.empty());
    LogBeacon::instance().flush();
    EXPECT_EQ(capture.records.size(), 50U);
    EXPECT_FALSE(recordQueued());
}

TEST(Logging, EntryTraceAndByteDump) {
    using wyr::windows::logging::hexBytes;
    test::LogCapture capture;
    wyr::windows::logging::trace("Some::function");
    const auto traced = capture.matching(L"Some::function");
    ASSERT_EQ(traced.size(), 1U);
    EXPECT_EQ(traced[0].verbosity, wyr::windows::logging::LogVerbosity::DebugLevel1.value());
    EXPECT_EQ(traced[0].message, L" ");

    const std::vector<std::uint8_t> none;
    const std::vector<std::uint8_t> some{0x00, 0x0A, 0xA5, 0xFF};
    EXPECT_EQ(hexBytes(none), L"");
    EXPECT_EQ(hexBytes(some), L"0x00 0x0A 0xA5 0xFF");
}

TEST(Logging, Utf8ArgumentsAreKeptWhole) {
    LogCapture capture;
    log(LogVerbosity::Information, "Test::utf8", L"Folder [%s] holds %d files.", "/home/u/Caf\xC3\xA9", 3);
    log(LogVerbosity::Information, "Test::utf8", L"%s|%ls", "\xE2\x82\xAC", L"\u00fc");
    const auto records = capture.collect();
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].message, L"Folder [/home/u/Caf\u00e9] holds 3 files.");
    EXPECT_EQ(records[1].message, L"\u20ac|\u00fc");
}

TEST(Logging, NumbersReadTheSameInAUserLocale) {
    const test::CommaDecimalLocale locale;
    if (!locale.active()) {
        GTEST_SKIP() << locale.why();
    }
    LogCapture capture;
    log(LogVerbosity::Information, "Test::locale", L"Voltage %.1f V, rate %.1f fps, %d samples [%s]", 24.5,
        16.0, 12345, "Caf\xC3\xA9");
    const auto records = capture.collect();
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].message, L"Voltage 24.5 V, rate 16.0 fps, 12345 samples [Caf\u00e9]");
}
