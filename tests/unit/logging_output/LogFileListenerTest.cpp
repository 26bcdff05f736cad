#include "wyr/windows/logging/output/LogFileListener.h"

#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/Mutex.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/Wait.h"
#include "wyr/windows/system/threading/ThreadControl.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <thread>

using wyr::windows::logging::LogBeacon;
using wyr::windows::logging::LogFileListener;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::system::threading::CREATE_SUSPENDED;
using wyr::windows::system::threading::ThreadState;
namespace sys = wyr::windows::system;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kGenerous = 10000;
const std::wstring kName = L"Tolvek-OrvaneUI_DEBUG-20240131_142503";

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Records earlier tests' threads logged after their last flush go to nobody.
        LogBeacon::instance().flush();
        std::string pattern = (fs::temp_directory_path() / "orvane-logfile-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::wstring wdir() const { return sys::toWide(dir.string()); }
    fs::path logPath() const { return dir / (sys::toNarrow(kName) + ".log"); }

    static std::vector<std::string> lines(const fs::path& file) {
        std::ifstream in(file);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);) {
            result.push_back(line);
        }
        return result;
    }

    fs::path dir;
};

sys::SYSTEMTIME at(std::uint16_t ms) {
    return sys::SYSTEMTIME{2024, 1, 3, 31, 14, 25, 3, ms};
}

} // namespace

TEST_F(LogFileTest, FormatsLinesWithTheVerbosityNumber) {
    LogFileListener listener;
    EXPECT_EQ(listener.formatLine(LogVerbosity::Information, at(127),
                                  L"wyr::windows::logging::LogFileListener::open", L"Log file opened"),
              "01/31/2024|14:25:03.127|16|wyr::windows::logging::LogFileListener::open|Log file opened\n");
    EXPECT_EQ(listener.formatLine(LogVerbosity::DebugLevel3, at(5), L"A::b", L"caf\u00e9 50%"),
              "01/31/2024|14:25:03.005|4|A::b|caf\xC3\xA9 50%\n");
}

TEST_F(LogFileTest, NewFileStartsWithHeaderAndOpenedLineAndEndsWithClosedLine) {
    LogFileListener listener;
    ASSERT_EQ(listener.open(wdir(), kName), 0U);
    EXPECT_TRUE(listener.isOpen());
    EXPECT_EQ(listener.path(), logPath().string());

    struct stat info {};
    ASSERT_EQ(::lstat(logPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    // Only the owner may read a log in a shared directory.
    EXPECT_EQ(info.st_mode & 0777, 0600U);

    auto content = lines(logPath());
    ASSERT_EQ(content.size(), 2U);
    EXPECT_EQ(content[0], "Date|Time|Verbosity|Context|Message");
    const std::regex opened(R"(\d\d/\d\d/\d{4}\|\d\d:\d\d:\d\d\.\d{3}\|16\|)"
                            R"(wyr::windows::logging::LogFileListener::open\|Log file opened)");
    EXPECT_TRUE(std::regex_match(content[1], opened)) << content[1];

    EXPECT_EQ(listener.open(wdir(), L"other"), sys::ERROR_INVALID_PARAMETER);
    listener.close();
    EXPECT_FALSE(listener.isOpen());
    content = lines(logPath());
    ASSERT_EQ(content.size(), 3U);
    EXPECT_TRUE(content[2].ends_with("|16|wyr::windows::logging::LogFileListener::close|Log file closed"));
    EXPECT_FALSE(fs::exists(dir / "other.log"));
}

TEST_F(LogFileTest, MaskDecidesWhetherAMessageIsWritten) {
    struct Case {
        std::uint16_t mask;
        bool written;
    };
    for (const Case c : {Case{0xFFEF, false}, Case{0x0010, true}}) {
        SCOPED_TRACE(c.mask);
        LogFileListener listener;
        listener.setFilter(c.mask);
        ASSERT_EQ(listener.open(wdir(), kName), 0U);
        ASSERT_EQ(listener.connect(), 0U);
        wyr::windows::logging::log(LogVerbosity::Information, "LogFileTest::mask", L"information %d", 1);
        wyr::windows::logging::log(LogVerbosity::Warning, "LogFileTest::mask", L"warning %d", 2);
        LogBeacon::instance().flush();
        listener.close();

        std::string all;
        for (const auto& line : lines(logPath())) {
            all += line + "\n";
        }
        EXPECT_EQ(all.find("|16|LogFileTest::mask|information 1") != std::string::npos, c.written);
        EXPECT_EQ(all.find("Log file opened") != std::string::npos, c.written);
        // Warning (0x20) passes 0xFFEF only.
        EXPECT_EQ(all.find("|32|LogFileTest::mask|warning 2") != std::string::npos, !c.written);
    }
}

TEST_F(LogFileTest, OpenReportsBadDirectories) {
    const fs::path file = dir / "plain-file";
    std::ofstream(file) << "x";
    ::setenv("ORVANE_LOGFILE_TEST_DIR", dir.c_str(), 1);
    ::unsetenv("ORVANE_LOGFILE_TEST_UNDEFINED");

    struct Case {
        std::wstring directory;
        std::uint32_t expected;
    };
    const std::vector<Case> cases{
        {L"%ORVANE_LOGFILE_TEST_UNDEFINED%/logs", sys::ERROR_INVALID_NAME},
        {sys::toWide(file.string()), sys::ERROR_INVALID_NAME},
        {wdir() + L"/missing", sys::ERROR_FILE_NOT_FOUND},
        {sys::toWide(file.string()) + L"/below", sys::ERROR_PATH_NOT_FOUND},
        {L"%ORVANE_LOGFILE_TEST_DIR%", sys::ERROR_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(sys::toNarrow(c.directory));
        LogFileListener listener;
        EXPECT_EQ(listener.open(c.directory, kName), c.expected);
        EXPECT_EQ(listener.isOpen(), c.expected == sys::ERROR_SUCCESS);
    }
    ::unsetenv("ORVANE_LOGFILE_TEST_DIR");
}

TEST_F(LogFileTest, PlantedLinkIsReplacedNotFollowed) {
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "precious\n";
    fs::create_symlink(victim, logPath());

    LogFileListener listener;
    ASSERT_EQ(listener.open(wdir(), kName), 0U);
    listener.close();

    EXPECT_EQ(lines(victim), std::vector<std::string>{"precious"});
    struct stat info {};
    ASSERT_EQ(::lstat(logPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600U);
    EXPECT_EQ(lines(logPath()).front(), "Date|Time|Verbosity|Context|Message");
}

TEST_F(LogFileTest, OldFileOfTheSameNameIsReplacedByAPrivateOne) {
    std::ofstream(logPath()) << "old line 1\nold line 2\nold line 3\n";
    fs::permissions(logPath(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                   fs::perms::others_read);

    LogFileListener listener;
    ASSERT_EQ(listener.open(wdir(), kName), 0U);
    const auto content = lines(logPath());
    ASSERT_EQ(content.size(), 2U);
    EXPECT_EQ(content[0], "Date|Time|Verbosity|Context|Message");
    struct stat info {};
    ASSERT_EQ(::lstat(logPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600U);
}

TEST_F(LogFileTest, BackgroundWriterWritesInOrderAndIsDrainedWhenStopped) {
    wyr::windows::logging::LogBeacon::instance().flush();
    test::LogCapture log;
    LogFileListener listener;
    ASSERT_EQ(listener.open(wdir(), kName), 0U);
    ASSERT_EQ(listener.startBackgroundWriter(), 0U);
    EXPECT_TRUE(listener.background());
    EXPECT_NE(listener.writerThread().state(), ThreadState::Stopped);
    EXPECT_EQ(listener.writerThread().name(), "Background Log Writer");
    const auto created = log.matching(L"Successfully created Background Log Writer [0x");
    ASSERT_EQ(created.size(), 1U);
    EXPECT_EQ(created[0].verbosity, 0x10);

    // The writer thread writes on its own ...
    for (int i = 0; i < 200; ++i) {
        listener.onLogMessage(LogVerbosity::Warning, at(0), L"Test::queued", std::to_wstring(i).c_str());
    }
    EXPECT_TRUE(sys::runUntil([&] { return lines(logPath()).size() == 202; }, kGenerous));

    // ... and what is still queued at the stop is written before it ends.
    for (int i = 200; i < 300; ++i) {
        listener.onLogMessage(LogVerbosity::Warning, at(0), L"Test::queued", std::to_wstring(i).c_str());
    }
    EXPECT_EQ(listener.stopBackgroundWriter(), 0U);
    EXPECT_FALSE(listener.background());
    EXPECT_EQ(listener.writerThread().state(), ThreadState::Stopped);
    std::size_t waiting = 99;
    // A stopped writer's queue refuses to lock.
    EXPECT_EQ(listener.writerThread().object().queueSize(waiting), sys::ERROR_CANCELLED);

    // Later messages are written directly, at once.
    listener.onLogMessage(LogVerbosity::Error, at(0), L"Test::direct", L"after");
    auto content = lines(logPath());
    ASSERT_EQ(content.size(), 303U);
    for (int i = 0; i < 300; ++i) {
        EXPECT_TRUE(content[2 + i].ends_with("|32|Test::queued|" + std::to_string(i))) << content[2 + i];
    }
    EXPECT_TRUE(content[302].ends_with("|64|Test::direct|after"));

    listener.close();
    content = lines(logPath());
    EXPECT_TRUE(content.back().ends_with("|Log file closed"));
}

TEST_F(LogFileTest, ClosingWithTheWriterRunningKeepsEveryLine) {
    LogFileListener listener;
    ASSERT_EQ(listener.open(wdir(), kName), 0U);
    ASSERT_EQ(listener.startBackgroundWriter(), 0U);
    for (int i = 0; i < 50; ++i) {
        listener.onLogMessage(LogVerbosity::Warning, at(0), L"Test::queued", std::to_wstring(i).c_str());
    }
    listener.close();
    EXPECT_FALSE(listener.background());
    const auto content = lines(logPath());
    ASSERT_EQ(content.size(), 53U);
    EXPECT_TRUE(content[51].ends_with("|Test::queued|49"));
    EXPECT_TRUE(content[52].ends_with("|Log file closed"));
}

TEST_F(LogFileTest, QueueDrainsOnTheCallingThreadByCount) {
    LogFileListener listener;
    ASSERT_EQ(listener.open(wdir(), kName), 0U);
    auto& thread = listener.writerThread();
    auto& writer = thread.object();
    // Created suspended: the queue exists, but the thread never takes from it.
    ASSERT_EQ(thread.create(LogFileListener::kWriterThreadName, listener.stream(), CREATE_SUSPENDED), 0U);
    for (const char* line : {"one\n", "two\n", "three\n", "four\n", "five\n"}) {
        EXPECT_TRUE(writer.queue(line));
    }
    std::size_t waiting = 0;
    EXPECT_EQ(writer.queueSize(waiting), 0U);
    EXPECT_EQ(waiting, 5U);

    EXPECT_EQ(writer.drain(2), 0U);
    EXPECT_EQ(writer.queueSize(waiting), 0U);
    EXPECT_EQ(waiting, 3U);
    auto content = lines(logPath());
    ASSERT_EQ(content.size(), 4U);
    EXPECT_EQ(content[2], "one");
    EXPECT_EQ(content[3], "two");

    EXPECT_EQ(writer.drain(0xFFFFFFFF), 0U);
    EXPECT_EQ(writer.queueSize(waiting), 0U);
    EXPECT_EQ(waiting, 0U);
    EXPECT_EQ(lines(logPath()).back(), "five");

    EXPECT_TRUE(thread.shutdown(2000));
    EXPECT_FALSE(writer.queue("lost\n"));
    EXPECT_EQ(writer.drain(0xFFFFFFFF), sys::ERROR_CANCELLED);
}

TEST_F(LogFileTest, QueueLockIsTheSharedNamedMutexAndStopInterruptsItsWait) {
    LogFileListener listener;
    ASSERT_EQ(listener.open(wdir(), kName), 0U);
    auto& thread = listener.writerThread();
    auto& writer = thread.object();
    ASSERT_EQ(thread.create(LogFileListener::kWriterThreadName, listener.stream()), 0U);
    const auto handle = thread.handle();

    // Another user of "message queue mutex" holds it.
    std::promise<void> held;
    std::promise<void> letGo;
    std::thread holder([&] {
        sys::Mutex shared("message queue mutex");
        sys::waitForSingle(shared, sys::INFINITE);
        held.set_value();
        letGo.get_future().wait();
        shared.release();
    });
    held.get_future().wait();

    auto size = std::async(std::launch::async, [&writer] {
        std::size_t waiting = 0;
        return writer.queueSize(waiting);
    });
    EXPECT_EQ(size.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    writer.notifyShutdown();
    ASSERT_EQ(size.wait_for(std::chrono::milliseconds(kGenerous)), std::future_status::ready);
    EXPECT_EQ(size.get(), sys::ERROR_CANCELLED);

    letGo.set_value();
    holder.join();
    // The stop also ended the writer thread.
    EXPECT_EQ(sys::waitForSingle(*handle, kGenerous), sys::WAIT_OBJECT_0);
    EXPECT_EQ(thread.state(), ThreadState::Stopped);
    EXPECT_EQ(thread.exitCode(), 0U);
}
