#include "bootloader/BootloaderImpl.h"
#include "tests/unit/bootloader/RecordLog.h"
#include "tests/unit/bootloader/ScriptedBootloader.h"
#include "tests/unit/bootloader/TestImage.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/communication/SerialDevice.h"
#include "wyr/windows/system/CurrentThread.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/threading/ThreadState.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace bootloader;
using test::ScriptedBootloader;
using test::seen;
using test::SeenRecord;
using wyr::windows::communication::PortHandle;
using wyr::windows::communication::SerialDevice;
using wyr::windows::system::runUntil;
using wyr::windows::system::threading::ThreadState;

namespace {

constexpr int kDebug3 = 0x04;
constexpr int kInformation = 0x10;
constexpr int kError = 0x40;

const auto& None = BootloaderNotifyState::None;
const auto& Initiated = BootloaderNotifyState::Initiated;
const auto& Running = BootloaderNotifyState::Running;
const auto& Completed = BootloaderNotifyState::Completed;

// A record that counts how many of its kind are alive.
struct CountedRecord : BootloaderProgress {
    CountedRecord() : BootloaderProgress(BootloaderNotifyType::LoadSource, BootloaderNotifyState::Running) {
        ++alive;
    }
    ~CountedRecord() override { --alive; }
    static inline std::atomic<int> alive{0};
};

// The update as the user interface drives it: requests to the bootloader thread,
// notifications back on this (the user-interface) thread.
class BootloaderThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        capture.collect();
        capture.records.clear();
        log.probe = [this] { return impl.getState().value(); };
    }
    // Nothing this test logged is left for a later test's listener.
    void TearDown() override {
        impl.finalize();
        capture.collect();
    }

    PortHandle openPort() {
        PortHandle port;
        EXPECT_EQ(SerialDevice::open(pty.slavePath(), port), 0U);
        return port;
    }

    // Pumps until a record of `type` arrived (generous bound; guards against hangs).
    bool waitFor(const BootloaderNotifyType& type, std::size_t n = 1) {
        return runUntil([&] { return log.of(type).size() >= n; }, 30000);
    }

    bool logged(int verbosity, const std::wstring& message) {
        for (const auto& r : capture.collect()) {
            if (r.verbosity == verbosity && r.message == message) {
                return true;
            }
        }
        return false;
    }

    test::LogCapture capture;
    test::PtyPair pty;
    std::optional<ScriptedBootloader> device;
    BootloaderImpl impl;
    test::RecordLog log;
};

} // namespace

TEST_F(BootloaderThreadTest, InitializeWithoutAnOpenPortStartsNothing) {
    impl.connect(std::ref(log));
    EXPECT_EQ(impl.initialize(nullptr, BootloaderEntry::FromApplication), 6U);
    PortHandle closed = openPort();
    closed->close();
    EXPECT_EQ(impl.initialize(closed, BootloaderEntry::FromApplication), 6U);

    EXPECT_EQ(impl.thread().state(), ThreadState::Stopped);
    EXPECT_EQ(impl.thread().threadId(), 0U);
    EXPECT_TRUE(capture.matching(L"Successfully created").empty());
    // Requests go nowhere, and say so.
    impl.enterBootloadMode();
    EXPECT_FALSE(
        capture.matching(L"::PostThreadMessage() failed to thread [0x0] with result of [1444].").empty());

    // initialize let go of the earlier subscribers.
    impl.notify(new tagBLNHDR(BootloaderNotifyType::EnteredBootloadMode, None));
    wyr::windows::system::pump();
    EXPECT_TRUE(log.records.empty());
}

TEST_F(BootloaderThreadTest, AFullUpdateRunsOnTheWorkerAndReportsOnTheUserInterfaceThread) {
    device.emplace(pty);
    test::TestImage image;
    image.add(0x400, test::TestImage::pattern(100, 7));
    image.addInfoBlock(0xBFF, ScriptedBootloader::kPageSizeCode, ScriptedBootloader::kBufferSizeCode);
    const std::string path = image.write();

    ASSERT_EQ(impl.initialize(openPort(), BootloaderEntry::FromApplication), 0U);
    EXPECT_FALSE(
        capture.matching(L"Attached handle: " + wyr::windows::system::toWide(pty.slavePath())).empty());
    EXPECT_FALSE(capture.matching(L"Successfully created BootloaderThread [0x").empty());
    // A second update cannot start while this one runs, and changes nothing.
    EXPECT_EQ(impl.initialize(nullptr, BootloaderEntry::FromApplication), 1247U);
    impl.connect(std::ref(log));

    // Requests queue up behind the one under way and run in order; the write is
    // asked for when the erase reports success, as the update dialog does.
    impl.enterBootloadMode();
    impl.getTargetInfo();
    impl.loadFile(wyr::windows::system::toWide(path));
    impl.eraseTarget();
    ASSERT_TRUE(waitFor(BootloaderNotifyType::EraseTarget, 11));
    ASSERT_EQ(log.records.back(), seen(BootloaderNotifyType::EraseTarget, Completed, 0, 8, 8));
    impl.writeTarget();
    impl.resetTarget();
    ASSERT_TRUE(waitFor(BootloaderNotifyType::ResetTarget));

    const auto lines = static_cast<std::uint32_t>(image.lineCount());
    std::vector<SeenRecord> expected{seen(BootloaderNotifyType::EnteredBootloadMode, None),
                                     seen(BootloaderNotifyType::ReceivedTargetInfo, None),
                                     seen(BootloaderNotifyType::LoadSource, Initiated, 0, 0, lines)};
    for (std::uint32_t line = 1; line <= lines; ++line) {
        expected.push_back(seen(BootloaderNotifyType::LoadSource, Running, 0, line, lines));
    }
    expected.push_back(seen(BootloaderNotifyType::LoadSource, Completed, 0, lines, lines));
    EXPECT_EQ(std::vector<SeenRecord>(log.records.begin(),
                                      log.records.begin() + static_cast<long>(expected.size())),
              expected);
    // Erase: initiated, 0 .. 8, completed; write: initiated, 8 blocks, completed twice.
    EXPECT_EQ(log.of(BootloaderNotifyType::EraseTarget).size(), 11U);
    const auto written = log.of(BootloaderNotifyType::WriteTarget);
    ASSERT_EQ(written.size(), 11U);
    EXPECT_EQ(written[8], seen(BootloaderNotifyType::WriteTarget, Running, 0, 8, 8));
    EXPECT_EQ(written[9], seen(BootloaderNotifyType::WriteTarget, Completed, 0, 8, 8));
    EXPECT_EQ(written[10], seen(BootloaderNotifyType::WriteTarget, Completed, 0, 0, 0));
    EXPECT_EQ(log.records.back(), seen(BootloaderNotifyType::ResetTarget, None));

    // Every record reached the subscriber here, and the step it announces was
    // already reached when it arrived.
    for (const auto thread : log.threads) {
        EXPECT_EQ(thread, wyr::windows::system::currentThreadId());
    }
    const std::vector<std::pair<std::size_t, const BootloaderNotifyType*>> announced{
        {0, &BootloaderNotifyType::EnteredBootloadMode},
        {1, &BootloaderNotifyType::ReceivedTargetInfo},
        {expected.size() - 1, &BootloaderNotifyType::LoadSource},
        {expected.size() + 10, &BootloaderNotifyType::EraseTarget},
        {log.records.size() - 2, &BootloaderNotifyType::WriteTarget},
        {log.records.size() - 1, &BootloaderNotifyType::ResetTarget},
    };
    for (const auto& [index, step] : announced) {
        EXPECT_GE(log.probes.at(index), step->value()) << index;
    }
    EXPECT_EQ(impl.getState(), BootloaderNotifyType::ResetTarget);

    for (const auto* name : {L"Received TM_BL_ENTER_BOOTLOAD_MODE", L"Received TM_BL_GET_TARGET_INFO",
                             L"Received TM_BL_LOAD_FILE", L"Received TM_BL_ERASE_TARGET",
                             L"Received TM_BL_WRITE_TARGET", L"Received TM_BL_RESET_TARGET"}) {
        EXPECT_TRUE(logged(kDebug3, name)) << wyr::windows::system::toNarrow(name);
    }
    EXPECT_EQ(device->flash(0x400, 0x100), image.page(0x400, 0x100));
    EXPECT_EQ(device->count(0x40), 1U);
    EXPECT_EQ(device->count(0x50), 1U);

    InfoBlock block;
    ASSERT_TRUE(impl.getInfoBlock(InfoBlockType::BootloaderInfoBlock, block));
    EXPECT_EQ(block.appEnd, ScriptedBootloader::kAppEnd);
    ASSERT_TRUE(impl.getInfoBlock(InfoBlockType::TargetInfoBlock, block));
    EXPECT_EQ(block.serialNo, 0x1234);
    ASSERT_TRUE(impl.getInfoBlock(InfoBlockType::SourceInfoBlock, block));
    EXPECT_EQ(block.type, InfoBlockType::SourceInfoBlock);
    EXPECT_EQ(block.appStart, 0x400U);
    EXPECT_FALSE(impl.getInfoBlock(InfoBlockType::Unknown, block));

    impl.finalize();
    EXPECT_EQ(impl.thread().state(), ThreadState::Stopped);
    EXPECT_FALSE(impl.serial().isOpen());
}

TEST_F(BootloaderThreadTest, LoadingReportsEveryLine) {
    test::TestImage image;
    image.add(0x400, test::TestImage::pattern(226, 7));
    image.addInfoBlock(0xBFF, ScriptedBootloader::kPageSizeCode, ScriptedBootloader::kBufferSizeCode, 0);
    ASSERT_EQ(image.lineCount(2), 120U);
    ASSERT_EQ(impl.initialize(openPort(), BootloaderEntry::FromApplication), 0U);
    impl.connect(std::ref(log));

    impl.loadFile(wyr::windows::system::toWide(image.write(2)));
    ASSERT_TRUE(runUntil(
        [&] { return !log.records.empty() && log.records.back().state == Completed.value(); }, 30000));
    std::vector<SeenRecord> expected{seen(BootloaderNotifyType::LoadSource, Initiated, 0, 0, 120)};
    for (std::uint32_t line = 1; line <= 120; ++line) {
        expected.push_back(seen(BootloaderNotifyType::LoadSource, Running, 0, line, 120));
    }
    expected.push_back(seen(BootloaderNotifyType::LoadSource, Completed, 0, 120, 120));
    EXPECT_EQ(log.records, expected);
    EXPECT_EQ(impl.getState(), BootloaderNotifyType::LoadSource);

    // The serial number goes into the loaded image.
    EXPECT_EQ(impl.setSerialNumber(0x4321), 0U);
    InfoBlock block;
    ASSERT_TRUE(impl.getInfoBlock(InfoBlockType::SourceInfoBlock, block));
    EXPECT_EQ(block.serialNo, 0x4321);

    // A file that cannot be opened ends with its Initiated record; the step stays.
    log.clear();
    impl.loadFile(L"/nonexistent/image.hex");
    ASSERT_TRUE(waitFor(BootloaderNotifyType::LoadSource));
    runUntil([] { return false; }, 50);
    EXPECT_EQ(log.records,
              (std::vector<SeenRecord>{seen(BootloaderNotifyType::LoadSource, Initiated, 110, 0, 0)}));
    EXPECT_EQ(impl.getState(), BootloaderNotifyType::LoadSource);
    EXPECT_FALSE(impl.getInfoBlock(InfoBlockType::SourceInfoBlock, block));
}

TEST_F(BootloaderThreadTest, StoppingDuringAnExchangeNeverReportsSuccess) {
    device.emplace(pty, true, false); // takes frames, never answers
    ASSERT_EQ(impl.initialize(openPort(), BootloaderEntry::FromApplication), 0U);
    impl.connect(std::ref(log));

    impl.enterBootloadMode();
    ASSERT_TRUE(device->waitForCommands(1));
    impl.finalize();
    EXPECT_EQ(impl.thread().state(), ThreadState::Stopped);
    EXPECT_FALSE(impl.serial().isOpen());

    ASSERT_TRUE(waitFor(BootloaderNotifyType::EnteredBootloadMode));
    EXPECT_EQ(log.records,
              (std::vector<SeenRecord>{seen(BootloaderNotifyType::EnteredBootloadMode, None, 1223)}));
    EXPECT_EQ(impl.getState(), BootloaderNotifyType::None);
    EXPECT_TRUE(logged(kError, L"Failed to enter boot load mode! Reason [1223]."));

    // A new update starts from scratch on the same object.
    device.reset();
    device.emplace(pty);
    log.clear();
    ASSERT_EQ(impl.initialize(openPort(), BootloaderEntry::FromApplication), 0U);
    impl.connect(std::ref(log));
    impl.enterBootloadMode();
    ASSERT_TRUE(waitFor(BootloaderNotifyType::EnteredBootloadMode));
    EXPECT_EQ(log.records,
              (std::vector<SeenRecord>{seen(BootloaderNotifyType::EnteredBootloadMode, None, 0)}));
    EXPECT_TRUE(logged(kInformation, L"Attached handle: " + wyr::windows::system::toWide(pty.slavePath())));
}

TEST_F(BootloaderThreadTest, RecordsAreFreedWhetherOrNotTheyAreDelivered) {
    impl.connect(std::ref(log));

    // Delivered: freed after the subscribers ran.
    impl.notify(new CountedRecord);
    EXPECT_EQ(CountedRecord::alive, 1);
    wyr::windows::system::pump();
    EXPECT_EQ(log.records.size(), 1U);
    EXPECT_EQ(CountedRecord::alive, 0);

    // A null record is ignored.
    EXPECT_EQ(impl.broadcastWnd().OnNotify(0, 0), 0);
    EXPECT_EQ(log.records.size(), 1U);

    // Never delivered: freed with the window.
    {
        BootloaderImpl other;
        other.notify(new CountedRecord);
        other.notify(new CountedRecord);
        EXPECT_EQ(CountedRecord::alive, 2);
    }
    EXPECT_EQ(CountedRecord::alive, 0);

    // Not even posted: freed at once, and logged.
    impl.broadcastWnd().window().destroy();
    impl.notify(new CountedRecord);
    EXPECT_EQ(CountedRecord::alive, 0);
    const auto failures = capture.matching(L"::PostMessage() failed! Reason [1400].");
    ASSERT_EQ(failures.size(), 1U);
    EXPECT_EQ(failures[0].context, L"bootloader::BootloaderImpl::notify");
    EXPECT_EQ(failures[0].verbosity, kError);
}

TEST_F(BootloaderThreadTest, CancellingBeforeTheBootloaderAnsweredSendsNothing) {
    device.emplace(pty);
    ASSERT_EQ(impl.initialize(openPort(), BootloaderEntry::FromApplication), 0U);
    impl.connect(std::ref(log));
    impl.cancelBootloadMode();
    ASSERT_TRUE(waitFor(BootloaderNotifyType::ResetTarget));
    EXPECT_EQ(log.records, (std::vector<SeenRecord>{seen(BootloaderNotifyType::ResetTarget, None, 0)}));
    EXPECT_EQ(log.probes, (std::vector<int>{BootloaderNotifyType::ResetTarget.value()}));
    EXPECT_TRUE(device->commands().empty());
}
