#include "bootloader/BootloaderImpl.h"
#include "tests/unit/bootloader/RecordLog.h"
#include "tests/unit/bootloader/ScriptedBootloader.h"
#include "tests/unit/bootloader/TestImage.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/TextConversion.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace bootloader;
using test::ScriptedBootloader;
using test::seen;
using test::SeenRecord;
using Command = test::ScriptedBootloader::Command;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int kInformation = 0x10;
constexpr int kWarning = 0x20;
constexpr int kError = 0x40;

constexpr std::uint8_t kErase = 0x30;
constexpr std::uint8_t kSignature = 0x40;
constexpr std::uint8_t kReset = 0x50;
constexpr std::uint8_t kChecksum = 0x60;
constexpr std::uint8_t kBlock = 0x70;

const auto& Erase = BootloaderNotifyType::EraseTarget;
const auto& Write = BootloaderNotifyType::WriteTarget;
const auto& Initiated = BootloaderNotifyState::Initiated;
const auto& Running = BootloaderNotifyState::Running;
const auto& Completed = BootloaderNotifyState::Completed;

// The programming procedures run here on the test thread, which also owns the
// broadcast window, against the scripted bootloader; no worker thread is involved.
class FlashProgramming : public ::testing::Test {
protected:
    void SetUp() override {
        capture.collect();
        capture.records.clear();
        fresh();

        // The first quarter of page 5, and page 11 with the image's info block at
        // its top; pages 4 and 6 .. 10 hold nothing.
        image.add(0x500, test::TestImage::pattern(64, 2));
        image.add(0xB00, test::TestImage::pattern(32, 3));
        image.addInfoBlock(0xBFF, ScriptedBootloader::kPageSizeCode, ScriptedBootloader::kBufferSizeCode);
    }

    // Nothing this test logged is left for a later test's listener.
    void TearDown() override {
        impl.reset();
        capture.collect();
    }

    // A fresh device, with its own faults to come, and a fresh update.
    ScriptedBootloader& fresh(bool application = true) {
        impl.reset();
        device.reset();
        device.emplace(pty, application);
        impl.emplace();
        impl->setEntry(bootloader::BootloaderEntry::FromApplication);
        EXPECT_EQ(impl->serial().open(pty.widePath()), 0U);
        impl->connect(std::ref(log));
        log.clear();
        return *device;
    }

    // Reads the bootloader's blocks and loads the image, as the update does before
    // it erases; forgets the records and the log lines this produced.
    void prepare(const test::TestImage& source) {
        impl->_getTargetInfo();
        impl->_loadFile(wyr::windows::system::toWide(source.write()));
        records();
        ASSERT_EQ(impl->getState(), BootloaderNotifyType::LoadSource);
        log.clear();
        capture.collect();
        capture.records.clear();
    }
    void prepare() { prepare(image); }

    std::vector<SeenRecord> records() {
        wyr::windows::system::pump();
        return log.records;
    }

    std::size_t logged(int verbosity, const std::wstring& message) {
        std::size_t n = 0;
        for (const auto& r : capture.collect()) {
            n += r.verbosity == verbosity && r.message == message ? 1 : 0;
        }
        return n;
    }

    // What the device's flash holds where the image has pages, and erased flash
    // everywhere else in the application area.
    void expectProgrammed() {
        for (std::uint32_t page = 0x400; page <= 0xB00; page += ScriptedBootloader::kPageSize) {
            EXPECT_EQ(device->flash(page, ScriptedBootloader::kPageSize),
                      image.page(page, ScriptedBootloader::kPageSize))
                << std::hex << page;
        }
    }

    test::LogCapture capture;
    test::PtyPair pty;
    std::optional<ScriptedBootloader> device;
    std::optional<BootloaderImpl> impl;
    test::RecordLog log;
    test::TestImage image;
};

std::size_t count(const std::vector<Command>& commands, std::uint8_t code, std::uint32_t address) {
    std::size_t n = 0;
    for (const auto& c : commands) {
        n += c.code == code && c.address == address ? 1 : 0;
    }
    return n;
}

} // namespace

TEST_F(FlashProgramming, ErasesWritesAndVerifiesTheImageThenSignsIt) {
    prepare();
    const std::size_t before = device->commands().size();
    impl->_eraseTarget();
    EXPECT_EQ(impl->getState(), BootloaderNotifyType::EraseTarget);
    impl->_writeTarget();
    EXPECT_EQ(impl->getState(), BootloaderNotifyType::WriteTarget);

    // The signature page goes first, then the area page by page; every page of
    // the image is written in four blocks and checked; the signature comes last.
    std::vector<Command> expected{{kErase, 0xB00}};
    for (std::uint32_t page = 0x400; page <= 0xB00; page += 0x100) {
        expected.push_back({kErase, page});
    }
    for (const std::uint32_t page : {0x500U, 0xB00U}) {
        for (std::uint32_t block = page; block < page + 0x100; block += 0x40) {
            expected.push_back({kBlock, block});
        }
        expected.push_back({kChecksum, page});
    }
    expected.push_back({kSignature, 0});
    auto commands = device->commands();
    commands.erase(commands.begin(), commands.begin() + static_cast<long>(before));
    ASSERT_EQ(commands.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(commands[i].code, expected[i].code) << i;
        EXPECT_EQ(commands[i].address, expected[i].address) << i;
    }
    expectProgrammed();

    // Eight pages to erase, eight blocks to write.
    std::vector<SeenRecord> progress{seen(Erase, Initiated, 0, 0, 8), seen(Erase, Running, 0, 0, 8)};
    for (std::uint32_t page = 1; page <= 8; ++page) {
        progress.push_back(seen(Erase, Running, 0, page, 8));
    }
    progress.push_back(seen(Erase, Completed, 0, 8, 8));
    progress.push_back(seen(Write, Initiated, 0, 0, 8));
    for (std::uint32_t block = 1; block <= 8; ++block) {
        progress.push_back(seen(Write, Running, 0, block, 8));
    }
    progress.push_back(seen(Write, Completed, 0, 8, 8)); // the flash
    progress.push_back(seen(Write, Completed, 0, 0, 0)); // the signature
    EXPECT_EQ(records(), progress);
    EXPECT_EQ(logged(kError, L"Aborting operation."), 0U);
}

TEST_F(FlashProgramming, ASingleFailureIsRetriedAndTheUpdateGoesOn) {
    struct Case {
        const char* what;
        std::function<void(ScriptedBootloader&)> script;
        int verbosity;
        std::wstring line;
        std::vector<std::pair<Command, std::size_t>> counts; // command, how often it went out
    };
    const std::vector<Case> cases{
        {"a page fails its checksum once: written again without an erase",
         [](ScriptedBootloader& d) { d.failChecksum(0x500, 1); },
         kError,
         L"Failed to verify page 0x000500",
         {{{kBlock, 0x500}, 2}, {{kBlock, 0x5C0}, 2}, {{kChecksum, 0x500}, 2}, {{kErase, 0x500}, 1}}},
        {"a block fails once: only the block goes again",
         [](ScriptedBootloader& d) { d.failBlock(0x540, 1); },
         kWarning,
         L"Retrying block [0x000540]",
         {{{kBlock, 0x540}, 2}, {{kBlock, 0x500}, 1}, {{kErase, 0x500}, 1}}},
        {"a block fails twice: the page is erased and written again",
         [](ScriptedBootloader& d) { d.failBlock(0x540, 2); },
         kError,
         L"Failed to write page 0x000500",
         {{{kBlock, 0x540}, 3}, {{kBlock, 0x500}, 2}, {{kErase, 0x500}, 2}, {{kChecksum, 0x500}, 1}}},
        {"an area page fails to erase once",
         [](ScriptedBootloader& d) { d.failErase(0x600, 1); },
         kError,
         L"Failed to erase page 0x000600",
         {{{kErase, 0x600}, 2}}},
        {"the signature page fails to erase once",
         [](ScriptedBootloader& d) { d.failErase(0xB00, 1); },
         kError,
         L"Failed to erase page 0x000b00",
         {{{kErase, 0xB00}, 3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto& d = fresh();
        prepare();
        c.script(d);
        impl->_eraseTarget();
        impl->_writeTarget();

        EXPECT_EQ(impl->getState(), BootloaderNotifyType::WriteTarget);
        records();
        const auto written = log.of(Write);
        ASSERT_GE(written.size(), 2U);
        EXPECT_EQ(written[written.size() - 2], seen(Write, Completed, 0, 8, 8));
        EXPECT_EQ(written.back(), seen(Write, Completed, 0, 0, 0));
        EXPECT_EQ(log.of(Erase).back(), seen(Erase, Completed, 0, 8, 8));
        EXPECT_EQ(logged(c.verbosity, c.line), 1U);
        EXPECT_EQ(logged(kError, L"Aborting operation."), 0U);
        const auto commands = d.commands();
        for (const auto& [command, n] : c.counts) {
            EXPECT_EQ(count(commands, command.code, command.address), n)
                << std::hex << int{command.code} << " at " << command.address;
        }
        EXPECT_EQ(d.count(kSignature), 1U);
        expectProgrammed();
    }
}

TEST_F(FlashProgramming, ARewrittenPageReportsItsBlocksAgain) {
    prepare();
    device->failChecksum(0x500, 1);
    impl->_eraseTarget();
    records();
    log.clear();
    impl->_writeTarget();
    std::vector<std::uint32_t> blocks;
    for (const auto& r : records()) {
        if (r.state == Running.value()) {
            blocks.push_back(r.current);
        }
    }
    EXPECT_EQ(blocks, (std::vector<std::uint32_t>{1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(FlashProgramming, ASecondFailureEndsTheStepWithoutSigning) {
    struct Case {
        const char* what;
        std::function<void(ScriptedBootloader&)> script;
        bool writes; // whether the write is reached; its faults are scripted after the erase
        std::vector<std::pair<std::wstring, std::size_t>> errors;
        SeenRecord last;
        const BootloaderNotifyType& step;
    };
    const std::vector<Case> cases{
        {"a page fails its checksum twice",
         [](ScriptedBootloader& d) { d.failChecksum(0x500, 2); },
         true,
         {{L"Failed to verify page 0x000500", 2},
          {L"Aborting operation.", 1},
          {L"Failed to write flash! Reason [31].", 1},
          {L"Failed to write flash", 1}},
         seen(Write, Completed, 31, 0, 8),
         BootloaderNotifyType::EraseTarget},
        {"a block fails on the page and again after its erase",
         [](ScriptedBootloader& d) { d.failBlock(0x540, 4); },
         true,
         {{L"Failed to write page 0x000500", 2}, {L"Aborting operation.", 1}, {L"Failed to write flash", 1}},
         seen(Write, Completed, 31, 0, 8),
         BootloaderNotifyType::EraseTarget},
        {"a failed page cannot even be erased",
         [](ScriptedBootloader& d) {
             d.failBlock(0x540, 2);
             d.failErase(0x500, 1);
         },
         true,
         {{L"Failed to write page 0x000500", 1}, {L"Aborting operation.", 1}, {L"Failed to write flash", 1}},
         seen(Write, Completed, 31, 0, 8),
         BootloaderNotifyType::EraseTarget},
        {"an area page fails to erase twice",
         [](ScriptedBootloader& d) { d.failErase(0x600, 2); },
         false,
         {{L"Failed to erase page 0x000600", 2},
          {L"Aborting operation.", 1},
          {L"Failed to erase flash! Reason [31].", 1},
          {L"Failed to erase target", 1}},
         seen(Erase, Completed, 31, 2, 8),
         BootloaderNotifyType::LoadSource},
        {"the signature page fails to erase twice",
         [](ScriptedBootloader& d) { d.failErase(0xB00, 2); },
         false,
         {{L"Failed to erase page 0x000b00", 2},
          {L"Aborting operation.", 1},
          {L"Failed to erase application signature! Reason [31].", 1},
          {L"Failed to erase signature", 1}},
         seen(Erase, Initiated, 31, 0, 8),
         BootloaderNotifyType::LoadSource},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto& d = fresh();
        prepare();
        if (!c.writes) {
            c.script(d);
        }
        impl->_eraseTarget();
        if (c.writes) {
            ASSERT_EQ(impl->getState(), BootloaderNotifyType::EraseTarget);
            c.script(d);
            impl->_writeTarget();
        }

        EXPECT_EQ(impl->getState(), c.step);
        const auto all = records();
        ASSERT_FALSE(all.empty());
        EXPECT_EQ(all.back(), c.last);
        for (const auto& [line, n] : c.errors) {
            EXPECT_EQ(logged(kError, line), n) << wyr::windows::system::toNarrow(line);
        }
        // Nothing after the failure: no later page, and never the signature.
        EXPECT_EQ(d.count(kSignature), 0U);
        EXPECT_EQ(count(d.commands(), kBlock, 0xB00), 0U);
    }
    // A failed signature page erase goes no further.
    EXPECT_EQ(device->count(kErase), 2U);
}

TEST_F(FlashProgramming, ASignatureThatFailsStillEndsTheWrite) {
    prepare();
    device->failSignature(1);
    impl->_eraseTarget();
    impl->_writeTarget();
    EXPECT_EQ(impl->getState(), BootloaderNotifyType::WriteTarget);
    records();
    EXPECT_EQ(log.of(Write).back(), seen(Write, Completed, 31, 0, 0));
    EXPECT_EQ(logged(kError, L"Failed to write signature! Reason [31]."), 1U);
    EXPECT_EQ(logged(kError, L"Failed to write signature"), 1U);
    expectProgrammed();
}

TEST_F(FlashProgramming, NothingIsErasedOrWrittenWithoutAFittingImageAndArea) {
    // Before the bootloader reported its area.
    impl->_eraseTarget();
    EXPECT_EQ(records(), (std::vector<SeenRecord>{seen(Erase, Initiated, 21, 0, 0)}));
    EXPECT_EQ(logged(kError, L"Failed to erase signature"), 1U);
    EXPECT_TRUE(device->commands().empty());

    // Erased, but no image: the empty area must not be signed.
    impl->_getTargetInfo();
    impl->_eraseTarget();
    ASSERT_EQ(impl->getState(), BootloaderNotifyType::EraseTarget);
    const std::size_t sent = device->commands().size();
    records();
    log.clear();
    impl->_writeTarget();
    EXPECT_EQ(records(), (std::vector<SeenRecord>{seen(Write, Completed, 21, 0, 0)}));
    EXPECT_EQ(device->commands().size(), sent);
    EXPECT_EQ(impl->getState(), BootloaderNotifyType::EraseTarget);

    struct Case {
        const char* what;
        std::function<void(test::TestImage&)> build;
    };
    const std::vector<Case> images{
        {"blocks of another size",
         [](test::TestImage& i) {
             i.add(0x400, test::TestImage::pattern(16, 1));
             i.addInfoBlock(0xBFF, ScriptedBootloader::kPageSizeCode, 5);
         }},
        {"pages of another size",
         [](test::TestImage& i) {
             i.add(0x400, test::TestImage::pattern(16, 1));
             i.addInfoBlock(0xBFF, 9, ScriptedBootloader::kBufferSizeCode);
         }},
        {"a page below the application area",
         [](test::TestImage& i) {
             i.add(0x300, test::TestImage::pattern(16, 1));
             i.addInfoBlock(0xBFF, ScriptedBootloader::kPageSizeCode, ScriptedBootloader::kBufferSizeCode);
         }},
        {"a page above the application area",
         [](test::TestImage& i) {
             i.add(0x400, test::TestImage::pattern(16, 1));
             i.addInfoBlock(0xCFF, ScriptedBootloader::kPageSizeCode, ScriptedBootloader::kBufferSizeCode);
         }},
    };
    for (const auto& c : images) {
        SCOPED_TRACE(c.what);
        test::TestImage other;
        c.build(other);
        prepare(other);
        const std::size_t before = device->commands().size();
        impl->_writeTarget();
        EXPECT_EQ(records(), (std::vector<SeenRecord>{seen(Write, Completed, 13, 0, 0)}));
        EXPECT_EQ(logged(kError, L"Failed to write flash"), 1U);
        EXPECT_EQ(device->commands().size(), before);
    }
    EXPECT_EQ(device->count(kSignature), 0U);
}

TEST_F(FlashProgramming, CancellingRestoresTheApplicationOnlyWhileItIsUntouched) {
    const auto& Reset = BootloaderNotifyType::ResetTarget;
    const auto& None = BootloaderNotifyState::None;

    // The bootloader never answered: nothing is sent.
    impl->_cancelBootloadMode();
    EXPECT_EQ(records(), (std::vector<SeenRecord>{seen(Reset, None, 0)}));
    EXPECT_EQ(impl->getState(), Reset);
    EXPECT_TRUE(device->commands().empty());

    struct Case {
        const char* what;
        bool application;
        std::function<void(BootloaderImpl&, ScriptedBootloader&)> before;
        std::vector<std::uint8_t> sent;
        std::vector<SeenRecord> records;
        int verbosity = 0; // and the line logged at it, if any
        std::wstring line;
    };
    const auto nothing = [](BootloaderImpl&, ScriptedBootloader&) {};
    const std::vector<Case> cases{
        {"an application and nothing erased: signed again, then reset",
         true,
         nothing,
         {kSignature, kReset},
         {seen(Write, Completed, 0), seen(Reset, None, 0)},
         0,
         L""},
        {"no application: only reset", false, nothing, {kReset}, {seen(Reset, None, 0)}, 0, L""},
        {"found in its bootloader with an unverified image: only reset, never signed",
         true,
         [](BootloaderImpl& b, ScriptedBootloader&) {
             b.setEntry(bootloader::BootloaderEntry::FoundInBootloader);
         },
         {kReset},
         {seen(Reset, None, 0)},
         kInformation,
         L"The device was found in its bootloader; it stays there until an update completes."},
        {"after the erase: only reset",
         true,
         [](BootloaderImpl& b, ScriptedBootloader&) { b._eraseTarget(); },
         {kReset},
         {seen(Reset, None, 0)},
         0,
         L""},
        {"after an erase that failed half-way: the remains are not signed",
         true,
         [](BootloaderImpl& b, ScriptedBootloader& d) {
             d.failErase(0x600, 2);
             b._eraseTarget();
         },
         {kReset},
         {seen(Reset, None, 0)},
         kWarning,
         L"The application was partly erased; its signature is not restored."},
        {"the signature fails: no reset",
         true,
         [](BootloaderImpl&, ScriptedBootloader& d) { d.failSignature(1); },
         {kSignature},
         {seen(Write, Completed, 31)},
         kError,
         L"Failed to write signature"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto& d = fresh(c.application);
        prepare();
        c.before(*impl, d);
        const std::size_t before = d.commands().size();
        records();
        log.clear();

        impl->_cancelBootloadMode();
        std::vector<std::uint8_t> sent;
        const auto commands = d.commands();
        for (std::size_t i = before; i < commands.size(); ++i) {
            sent.push_back(commands[i].code);
        }
        EXPECT_EQ(sent, c.sent);
        // Signed exactly when the signature was sent and taken.
        EXPECT_EQ(d.applicationSigned(), c.records.front() == seen(Write, Completed, 0));
        EXPECT_EQ(records(), c.records);
        if (c.verbosity != 0) {
            EXPECT_EQ(logged(c.verbosity, c.line), 1U);
        }
    }
}

TEST_F(FlashProgramming, AStopRequestEndsTheStepBeforeItsNextPageOrBlockAndSignsNothing) {
    prepare();
    impl->requestStop();
    impl->_eraseTarget();
    const auto erased = records();
    ASSERT_FALSE(erased.empty());
    EXPECT_EQ(erased.back(), seen(Erase, Completed, 1223, 0, 8));
    EXPECT_EQ(device->count(kErase), 1U); // the signature page only, before the stop was seen
    EXPECT_NE(impl->getState(), BootloaderNotifyType::EraseTarget);

    impl->_writeTarget();
    const auto written = records();
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.back(), seen(Write, Completed, 1223, 0, 8));
    EXPECT_EQ(device->count(kBlock), 0U);
    EXPECT_EQ(device->count(kSignature), 0U);
    EXPECT_FALSE(device->applicationSigned());
}
