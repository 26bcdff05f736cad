#include "bootloader/BootloaderImpl.h"

#include "bootloader/TargetInfoReply.h"
#include "tests/unit/communication/PtyPair.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/system/Wait.h"

#include <chrono>
#include <cstdint>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace bootloader;
using test::Bytes;

namespace {

constexpr int kDebug4 = 0x08;
constexpr int kWarning = 0x20;
constexpr int kError = 0x40;

const std::wstring kReadContext = L"bootloader::BootloaderImpl::readBytes";

// 512-byte pages, packets 2^6, buffer 2^6, CRC-16-CCITT, application 0x1000-0x7FFF.
Bytes bootloaderBlock(std::uint8_t bufferSizeCode = 6, std::uint8_t crcType = 0x40) {
    return {
        0x10,    0x05, 0x40, 0x02, 0x30, 0x2A, 0x80, 0x09, static_cast<std::uint8_t>(0x60 | bufferSizeCode),
        crcType, 0x00, 0x10, 0x00, 0xFF, 0x7F, 0x00};
}
const Bytes kTargetBlock{0x0C, 0x2B, 0x81, 0x09, 0x66, 0x40, 0x07, 0x80, 0x04, 0x10, 0x34, 0x12};

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes ascii(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

class BootloaderIo : public ::testing::Test {
protected:
    void SetUp() override {
        // Records of earlier tests' threads may still be on their way.
        capture.collect();
        capture.records.clear();
        ASSERT_EQ(impl.serial().open(pty.widePath()), 0U);
    }

    // The bootloader's side: takes a frame of `frameSize` bytes, then sends `reply`
    // (nothing when it is empty). Yields the frame it took.
    std::future<Bytes> answer(std::size_t frameSize, Bytes reply) {
        return std::async(std::launch::async, [this, frameSize, reply = std::move(reply)] {
            Bytes frame = pty.receive(frameSize);
            if (!reply.empty()) {
                pty.send(reply);
            }
            return frame;
        });
    }

    // Runs TGT_CMD_GET_INFO against a bootloader reporting `block` and no application.
    void loadInfo(const Bytes& block) {
        auto peer = answer(1, join({{0x00}, block, {0x00}}));
        ASSERT_EQ(impl.getTargetInfoExchange(), 0U);
        ASSERT_EQ(peer.get(), Bytes{0x20});
    }

    bool logged(int verbosity, const std::wstring& message) {
        for (const auto& record : capture.collect()) {
            if (record.verbosity == verbosity && record.message == message) {
                return true;
            }
        }
        return false;
    }

    std::size_t count(const std::wstring& context, const std::wstring& prefix) {
        std::size_t n = 0;
        for (const auto& record : capture.collect()) {
            n += record.context == context && record.message.starts_with(prefix) ? 1 : 0;
        }
        return n;
    }

    // Pumps the log until `n` records of `context` begin with `prefix`.
    bool waitForLog(const std::wstring& context, const std::wstring& prefix, std::size_t n) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (count(context, prefix) >= n) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    test::LogCapture capture;
    test::PtyPair pty;
    BootloaderImpl impl;
};

} // namespace

TEST_F(BootloaderIo, AnErasePageExchangeSendsItsFrameAndLogsEachStep) {
    auto peer = answer(8, {0x00});
    EXPECT_TRUE(impl.erasePage(0x001200));
    EXPECT_EQ(peer.get(), (Bytes{0x30, 0xA5, 0xF1, 0x00, 0x12, 0x00, 0x00, 0x00}));

    EXPECT_TRUE(logged(kDebug4, L"Outgoing [TGT_CMD_ERASE_FLASH_PAGE] data is 8 bytes in size, "
                                L"[0x30 0xA5 0xF1 0x00 0x12 0x00 0x00 0x00]"));
    EXPECT_TRUE(logged(kDebug4, L"Waiting for 1 bytes - TIMEOUT [4000 mSec]"));
    EXPECT_TRUE(logged(kDebug4, L"- TIMEOUT [4000 mSec]"));
    EXPECT_TRUE(logged(kDebug4, L"Received 1 bytes, [0x00]"));
    EXPECT_TRUE(logged(kDebug4, L"Response Code: [0x00]-[OK]"));

    auto refused = answer(8, {0x04});
    EXPECT_FALSE(impl.erasePage(0x001400));
    EXPECT_EQ(refused.get(), (Bytes{0x30, 0xA5, 0xF1, 0x00, 0x14, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(logged(kDebug4, L"Response Code: [0x04]-[Address Invalid]"));
}

TEST_F(BootloaderIo, SingleByteExchangesAcceptOnlyTheirCode) {
    struct Case {
        const char* what;
        std::function<std::uint32_t()> run;
        Bytes frame;
        Bytes reply;
        std::uint32_t result;
    };
    const auto enter = [this] { return impl.enterBootloadModeExchange(); };
    const auto reset = [this] { return impl.resetTargetExchange(); };
    const auto signature = [this] { return impl.writeSignature(); };
    const Bytes enterFrame{0x10, 0x52};
    const Bytes signatureFrame{0x40, 0xA5, 0xF1, 0x3D, 0xC2, 0x00, 0x00, 0x00};
    const std::vector<Case> cases{
        {"enter: bootload mode", enter, enterFrame, {0x02}, 0},
        {"enter: still in the application", enter, enterFrame, {0x01}, 31},
        {"enter: OK is not enough", enter, enterFrame, {0x00}, 31},
        {"enter: garbage", enter, enterFrame, {0x07}, 31},
        {"enter: a long reply counts by its first byte", enter, enterFrame, {0x02, 0xFF, 0x13}, 0},
        {"reset: OK", reset, {0x50}, {0x00}, 0},
        {"reset: error", reset, {0x50}, {0x80}, 31},
        {"signature: OK", signature, signatureFrame, {0x00}, 0},
        {"signature: not erased", signature, signatureFrame, {0x03}, 31},
    };
    for (const auto& c : cases) {
        auto peer = answer(c.frame.size(), c.reply);
        EXPECT_EQ(c.run(), c.result) << c.what;
        EXPECT_EQ(peer.get(), c.frame) << c.what;
    }
    // A byte outside the table is logged under the name of 0xFF.
    EXPECT_TRUE(logged(kDebug4, L"Response Code: [0x07]-[Unrecognized Response]"));
    EXPECT_TRUE(logged(kError, L"[TGT_CMD_ENTER_BL_MODE] answered [0x07]-[Unrecognized Response] instead of "
                               L"[0x02]-[Bootload Mode]."));
}

TEST_F(BootloaderIo, BytesLeftFromEarlierAreNotTakenForTheAnswer) {
    pty.send(Bytes{0x00});
    ASSERT_TRUE(test::waitForQueued(impl.serial(), 1));
    auto peer = answer(8, {0x04});
    EXPECT_FALSE(impl.erasePage(0x001200));
    peer.get();
    EXPECT_TRUE(logged(kDebug4, L"Response Code: [0x04]-[Address Invalid]"));
}

TEST_F(BootloaderIo, TargetInfoArrivingInPiecesIsCollectedAndDecoded) {
    const Bytes reply = join({{0x00}, bootloaderBlock(), kTargetBlock});
    ASSERT_EQ(reply.size(), 29U);
    auto exchange = std::async(std::launch::async, [this] { return impl.getTargetInfoExchange(); });
    EXPECT_EQ(pty.receive(1), Bytes{0x20});

    // Each piece goes out only after the previous one was read.
    const std::vector<std::pair<std::size_t, std::size_t>> pieces{
        {0, 1}, {1, 2}, {2, 16}, {16, 18}, {18, 29}};
    std::size_t reads = 0;
    for (const auto& [from, to] : pieces) {
        pty.send(Bytes(reply.begin() + static_cast<long>(from), reply.begin() + static_cast<long>(to)));
        ASSERT_TRUE(waitForLog(kReadContext, L"Received ", ++reads)) << to;
    }
    ASSERT_EQ(exchange.get(), 0U);

    for (const auto* line :
         {L"Needing 3 bytes, received 1 bytes", L"Needing 18 bytes, received 2 bytes",
          L"Needing 18 bytes, received 16 bytes", L"Needing 29 bytes, received 18 bytes"}) {
        EXPECT_TRUE(logged(kDebug4, line)) << line;
    }
    const InfoBlock& boot = impl.bootloaderInfoBlock();
    EXPECT_EQ(boot.type, InfoBlockType::BootloaderInfoBlock);
    EXPECT_EQ(boot.appStart, 0x1000U);
    EXPECT_EQ(boot.appEnd, 0x7FFFU);
    EXPECT_EQ(boot.bufferSizeCode, 6);
    const InfoBlock& target = impl.targetInfoBlock();
    EXPECT_EQ(target.type, InfoBlockType::TargetInfoBlock);
    EXPECT_EQ(target.length, 12);
    EXPECT_EQ(target.serialNo, 0x1234);
    EXPECT_EQ(capture.matching(L"                         INFO BLOCK").size(), 2U);
}

TEST_F(BootloaderIo, TargetInfoWithoutApplicationSucceedsWithAnEmptyBlock) {
    loadInfo(bootloaderBlock());
    EXPECT_EQ(impl.bootloaderInfoBlock().length, 16);
    EXPECT_EQ(impl.targetInfoBlock().type, InfoBlockType::TargetInfoBlock);
    EXPECT_EQ(impl.targetInfoBlock().length, 0);
    EXPECT_EQ(capture.matching(L"                         INFO BLOCK").size(), 1U);
}

TEST_F(BootloaderIo, BadTargetInfoRepliesFailWithGeneralFailure) {
    Bytes overlapping = join({{0x00}, bootloaderBlock(), kTargetBlock});
    overlapping[1] = 15; // the block would need the application's first byte as its last
    const std::vector<std::pair<const char*, Bytes>> replies{
        {"garbage code", join({{0x07}, bootloaderBlock(), {0x00}})},
        {"refused", join({{0x05}, bootloaderBlock(), {0x00}})},
        {"zero length", {0x00, 0x00, 0x00}},
        {"block shorter than its fields", overlapping},
    };
    for (const auto& [what, reply] : replies) {
        auto peer = answer(1, reply);
        EXPECT_EQ(impl.getTargetInfoExchange(), 31U) << what;
        peer.get();
        EXPECT_EQ(impl.bootloaderInfoBlock().length, 0) << what;
        EXPECT_EQ(impl.targetInfoBlock().length, 0) << what;
    }
    EXPECT_TRUE(logged(kDebug4, L"Response Code: [0x07]-[Unrecognized Response]"));
    EXPECT_FALSE(capture.matching(L"The bootloader info block cannot be decoded").empty());
}

TEST_F(BootloaderIo, AReplyThatStopsShortEndsAfterTheReceiveWait) {
    // Earlier blocks are dropped when a query fails.
    loadInfo(bootloaderBlock());
    auto peer = answer(1, Bytes{0x00, 0x10, 0x05, 0x40, 0x02});
    EXPECT_EQ(impl.getTargetInfoExchange(), 1460U);
    peer.get();
    EXPECT_EQ(impl.bootloaderInfoBlock().length, 0);
    EXPECT_TRUE(logged(kError, L"Serial::waitCommEvent() failed [1460]."));
    EXPECT_TRUE(logged(kError, L"This operation returned because the timeout period expired."));

    // The port stays usable.
    auto next = answer(8, {0x00});
    EXPECT_TRUE(impl.erasePage(0x001200));
    next.get();
}

TEST_F(BootloaderIo, WriteBlockSendsHeaderThenData) {
    loadInfo(bootloaderBlock(6));
    const Bytes data = test::pattern(64);
    auto peer = std::async(std::launch::async, [this] {
        Bytes header = pty.receive(8);
        pty.send(Bytes{0x00});
        Bytes payload = pty.receive(64);
        pty.send(Bytes{0x00});
        return std::make_pair(header, payload);
    });
    EXPECT_EQ(impl.writeBlock(0x001240, data), 0U);
    const auto [header, payload] = peer.get();
    EXPECT_EQ(header, (Bytes{0x70, 0xA5, 0xF1, 0x40, 0x12, 0x00, 0x40, 0x00}));
    EXPECT_EQ(payload, data);
    EXPECT_TRUE(logged(kDebug4, L"Writing to flash block [0x001240] 64 bytes"));
    EXPECT_FALSE(logged(kError, L"Failed to write flash block! Reason [0]."));
}

TEST_F(BootloaderIo, WriteBlockFailures) {
    loadInfo(bootloaderBlock(5));
    capture.records.clear();

    // Larger than the bootloader's 32-byte buffer: nothing goes out.
    EXPECT_EQ(impl.writeBlock(0x001240, test::pattern(64)), 111U);
    EXPECT_TRUE(logged(kError, L"Failed to write flash block! Reason [111]."));
    EXPECT_TRUE(logged(kError, L"The file name is too long."));
    EXPECT_EQ(impl.writeBlock(0x001240, Bytes{}), 87U);
    EXPECT_TRUE(pty.drain().empty());

    // The header refused: the data stays home.
    auto refused = answer(8, {0x80});
    EXPECT_EQ(impl.writeBlock(0x001240, test::pattern(32)), 1004U);
    refused.get();
    EXPECT_TRUE(logged(kError, L"Failed to write flash block! Reason [1004]."));
    EXPECT_TRUE(pty.drain().empty());

    // The data refused.
    auto dataRefused = std::async(std::launch::async, [this] {
        pty.receive(8);
        pty.send(Bytes{0x00});
        pty.receive(32);
        pty.send(Bytes{0x05});
    });
    EXPECT_EQ(impl.writeBlock(0x001240, test::pattern(32)), 1004U);
    dataRefused.get();

    // The data never answered.
    auto silent = std::async(std::launch::async, [this] {
        pty.receive(8);
        pty.send(Bytes{0x00});
        return pty.receive(32);
    });
    EXPECT_EQ(impl.writeBlock(0x001240, test::pattern(32)), 1460U);
    EXPECT_EQ(silent.get().size(), 32U);
    EXPECT_TRUE(logged(kError, L"Failed to receive write response!"));
    EXPECT_TRUE(logged(kError, L"Failed to write flash block! Reason [1460]."));
}

TEST_F(BootloaderIo, VerifyPageComparesTheDevicesChecksum) {
    const Bytes page = ascii("123456789"); // CRC-16 0x2189
    loadInfo(bootloaderBlock(6, 0x40));

    auto good = answer(8, {0x00, 0x89, 0x21});
    EXPECT_TRUE(impl.verifyPageCRC(0x001200, page));
    EXPECT_EQ(good.get(), (Bytes{0x60, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(logged(kDebug4, L"Waiting for 3 bytes - TIMEOUT [4000 mSec]"));
    EXPECT_TRUE(logged(kDebug4, L"CRC-16-CCITT - Calculated CRC [8585], device CRC [8585]"));

    auto mismatch = answer(8, {0x00, 0x88, 0x21});
    EXPECT_FALSE(impl.verifyPageCRC(0x001200, page));
    mismatch.get();
    EXPECT_TRUE(logged(kError, L"CRC Mismatch!"));

    auto refused = answer(8, {0x04, 0x89, 0x21});
    EXPECT_FALSE(impl.verifyPageCRC(0x001200, page));
    refused.get();

    // 32-bit checksums answer with five bytes.
    loadInfo(bootloaderBlock(6, 0xC0));
    auto wide = answer(8, {0x00, 0x17, 0x9F, 0x08, 0x18});
    EXPECT_TRUE(impl.verifyPageCRC(0x001200, ascii("abc")));
    wide.get();
    EXPECT_TRUE(logged(kDebug4, L"Waiting for 5 bytes - TIMEOUT [4000 mSec]"));

    // Three of five bytes, then silence.
    auto shortReply = answer(8, {0x00, 0x17, 0x9F});
    EXPECT_FALSE(impl.verifyPageCRC(0x001200, ascii("abc")));
    shortReply.get();
}

TEST_F(BootloaderIo, UnsupportedChecksumTypesFailEveryVerification) {
    const std::vector<std::pair<std::uint8_t, std::wstring>> types{{0x01, L"16-bit User Defined CRC"},
                                                                   {0x80, L"32-bit User Defined CRC"},
                                                                   {0x00, L"None"},
                                                                   {0x41, L"INVALID"}};
    for (const auto& [code, name] : types) {
        loadInfo(bootloaderBlock(6, code));
        EXPECT_FALSE(impl.verifyPageCRC(0x001200, test::pattern(512)));
        EXPECT_TRUE(logged(kError, L"CRC Type [" + name + L"] is unsupported.")) << int{code};
        EXPECT_TRUE(pty.drain().empty());
    }
}

TEST_F(BootloaderIo, ALostLineEndsTheExchangeWithoutWaiting) {
    auto peer = std::async(std::launch::async, [this] {
        Bytes frame = pty.receive(2);
        pty.closeMaster();
        return frame;
    });
    const std::uint32_t result = impl.enterBootloadModeExchange();
    EXPECT_EQ(peer.get(), (Bytes{0x10, 0x52}));
    EXPECT_NE(result, 0U);
    EXPECT_NE(result, 1460U);
    EXPECT_TRUE(capture.matching(L"Serial::waitCommEvent() failed [").size() >= 1);
    // The next exchange cannot be sent either, and says so.
    EXPECT_NE(impl.resetTargetExchange(), 0U);
}

TEST_F(BootloaderIo, TheAbortEventCutsASilentWaitShort) {
    wyr::windows::system::Event abort(wyr::windows::system::Event::Reset::Manual);
    impl.setAbortEvent(&abort);
    auto peer = std::async(std::launch::async, [this, &abort] {
        Bytes frame = pty.receive(1);
        abort.set();
        return frame;
    });
    EXPECT_EQ(impl.getTargetInfoExchange(), 1223U);
    EXPECT_EQ(peer.get(), Bytes{0x20});
    impl.setAbortEvent(nullptr);
}
