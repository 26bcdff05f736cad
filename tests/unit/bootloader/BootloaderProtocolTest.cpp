#include "bootloader/BootloaderFrame.h"
#include "bootloader/BootloaderImpl.h"
#include "bootloader/PageChecksum.h"
#include "bootloader/ResponseCode.h"
#include "bootloader/TargetCommand.h"
#include "bootloader/TargetInfoReply.h"
#include "tests/unit/support/LogCapture.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace bootloader;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::span<const std::uint8_t> ascii(const char* text) {
    return {reinterpret_cast<const std::uint8_t*>(text), std::char_traits<char>::length(text)};
}

// A bootloader block: version bytes 05 40 02 30 (3.2.1.5), product 0x2A, UART,
// 512-byte pages, packets 2^6, buffer 2^5, CRC-16-CCITT, application 0x1000-0x7FFF.
const Bytes kBootloaderBlock{0x10, 0x05, 0x40, 0x02, 0x30, 0x2A, 0x80, 0x09,
                             0x65, 0x40, 0x00, 0x10, 0x00, 0xFF, 0x7F, 0x00};
// An application block: version bytes 07 80 04 10 (1.4.2.7), serial 0x1234.
const Bytes kTargetBlock{0x0C, 0x2B, 0x81, 0x0A, 0x76, 0xC0, 0x07, 0x80, 0x04, 0x10, 0x34, 0x12};

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

} // namespace

TEST(BootloaderTables, CommandsAndResponseCodes) {
    struct Row {
        const TargetCommand& command;
        std::uint32_t id;
        std::wstring name;
        Bytes code;
        std::uint32_t responseLength;
    };
    const std::vector<Row> rows{
        {TargetCommand::EnterBootloadMode, 1, L"TGT_CMD_ENTER_BL_MODE", {0x10, 0x52}, 1},
        {TargetCommand::GetInfo, 2, L"TGT_CMD_GET_INFO", {0x20}, 0},
        {TargetCommand::ResetMcu, 3, L"TGT_CMD_RESET_MCU", {0x50}, 1},
        {TargetCommand::EraseFlashPage, 4, L"TGT_CMD_ERASE_FLASH_PAGE", {0x30}, 1},
        {TargetCommand::WriteSignature, 5, L"TGT_CMD_WRITE_SIGNATURE", {0x40}, 1},
        {TargetCommand::GetPageCrc16, 6, L"TGT_CMD_GET_PAGE_CRC", {0x60}, 3},
        {TargetCommand::GetPageCrc32, 7, L"TGT_CMD_GET_PAGE_CRC", {0x60}, 5},
        {TargetCommand::WriteFlashBytes, 8, L"TGT_CMD_WRITE_FLASH_BYTES", {0x70}, 1},
    };
    ASSERT_EQ(TargetCommand::registry().size(), rows.size());
    for (const auto& row : rows) {
        EXPECT_EQ(TargetCommand::fromValue(static_cast<int>(row.id)), &row.command);
        EXPECT_EQ(row.command.id(), row.id);
        EXPECT_EQ(row.command.name(), row.name);
        EXPECT_EQ(Bytes(row.command.codeBytes().begin(), row.command.codeBytes().end()), row.code) << row.id;
        EXPECT_EQ(row.command.responseLength(), row.responseLength) << row.id;
    }

    const std::vector<std::pair<int, std::wstring>> codes{{0x00, L"OK"},
                                                          {0x01, L"App Mode"},
                                                          {0x02, L"Bootload Mode"},
                                                          {0x03, L"Signature Not Erased"},
                                                          {0x04, L"Address Invalid"},
                                                          {0x05, L"Unsupported Command"},
                                                          {0x06, L"Invalid Parameter"},
                                                          {0x80, L"ERROR"},
                                                          {0xFF, L"Unrecognized Response"}};
    ASSERT_EQ(ResponseCode::registry().size(), codes.size());
    for (const auto& [value, name] : codes) {
        const ResponseCode& code = ResponseCode::fromByte(static_cast<std::uint8_t>(value));
        EXPECT_EQ(code.value(), value);
        EXPECT_EQ(code.name(), name);
    }
    // Bytes outside the table stand for "Unrecognized Response".
    for (const std::uint8_t stray : {0x07, 0x7F, 0x81, 0xFE}) {
        EXPECT_EQ(&ResponseCode::fromByte(stray), &ResponseCode::Unrecognized) << int{stray};
    }
}

TEST(BootloaderFrames, EveryFrameByteForByte) {
    EXPECT_EQ(BootloaderFrame::command(TargetCommand::EnterBootloadMode), (Bytes{0x10, 0x52}));
    EXPECT_EQ(BootloaderFrame::command(TargetCommand::GetInfo), (Bytes{0x20}));
    EXPECT_EQ(BootloaderFrame::command(TargetCommand::ResetMcu), (Bytes{0x50}));
    EXPECT_EQ(BootloaderFrame::eraseFlashPage(0x001200),
              (Bytes{0x30, 0xA5, 0xF1, 0x00, 0x12, 0x00, 0x00, 0x00}));
    EXPECT_EQ(BootloaderFrame::writeFlashBytes(0x001240, 64),
              (Bytes{0x70, 0xA5, 0xF1, 0x40, 0x12, 0x00, 0x40, 0x00}));
    EXPECT_EQ(BootloaderFrame::getPageCrc(0x001200), (Bytes{0x60, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(BootloaderFrame::writeSignature(), (Bytes{0x40, 0xA5, 0xF1, 0x3D, 0xC2, 0x00, 0x00, 0x00}));

    // Little-endian throughout; only the low 24 bits of an address travel.
    EXPECT_EQ(BootloaderFrame::eraseFlashPage(0x12345678),
              (Bytes{0x30, 0xA5, 0xF1, 0x78, 0x56, 0x34, 0x00, 0x00}));
    EXPECT_EQ(BootloaderFrame::getPageCrc(0xABCDEF), (Bytes{0x60, 0xEF, 0xCD, 0xAB, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(BootloaderFrame::writeFlashBytes(0x00FE00, 0x1234),
              (Bytes{0x70, 0xA5, 0xF1, 0x00, 0xFE, 0x00, 0x34, 0x12}));
}

TEST(BootloaderChecksums, CheckValuesAndEdges) {
    EXPECT_EQ(PageChecksum::ccitt16(ascii("123456789")), 0x2189);
    EXPECT_EQ(PageChecksum::ieee32(ascii("abc")), 0x18089F17U);
    // Registers start at 0; the 32-bit result is complemented.
    EXPECT_EQ(PageChecksum::ccitt16({}), 0x0000);
    EXPECT_EQ(PageChecksum::ieee32({}), 0xFFFFFFFFU);
    // Not the published CRC-32, whose value for "abc" is 0x352441C2.
    EXPECT_NE(PageChecksum::ieee32(ascii("abc")), 0x352441C2U);
    // Every byte counts, also trailing 0xFF padding of an erased page.
    const Bytes page(512, 0xFF);
    Bytes changed = page;
    changed[511] = 0xFE;
    EXPECT_NE(PageChecksum::ccitt16(page), PageChecksum::ccitt16(changed));
    EXPECT_NE(PageChecksum::ieee32(page), PageChecksum::ieee32(changed));
}

TEST(TargetInfoReplyTest, RequiredLengthGrowsAsTheReplyArrivesByteByByte) {
    const Bytes reply = join({{0x00}, kBootloaderBlock, kTargetBlock});
    ASSERT_EQ(reply.size(), 29U);
    for (std::size_t held = 0; held <= reply.size(); ++held) {
        const std::size_t needed = TargetInfoReply::requiredInfoLength(std::span(reply).first(held));
        // 3 until L arrives, 1 + L + 1 until T arrives, then 1 + L + T.
        const std::size_t expected = held < 2 ? 3 : held < 18 ? 18 : 29;
        EXPECT_EQ(needed, expected) << held;
    }
    // An absent application (T = 0) still needs its length byte.
    EXPECT_EQ(TargetInfoReply::requiredInfoLength(join({{0x00}, kBootloaderBlock, {0x00}})), 18U);
    // L = 0 cannot hold a block; the reply ends with the byte after it.
    EXPECT_EQ(TargetInfoReply::requiredInfoLength(Bytes{0x00, 0x00}), 2U);
    // The largest lengths bound what a reply can ask for.
    Bytes big(600, 0xFF);
    EXPECT_EQ(TargetInfoReply::requiredInfoLength(big), 1U + 255 + 255);
}

TEST(TargetInfoReplyTest, ParsesBothBlockLayouts) {
    InfoBlock boot = TargetInfoReply::emptyBlock(InfoBlockType::BootloaderInfoBlock);
    ASSERT_TRUE(TargetInfoReply::parseInfoBlock(kBootloaderBlock, boot));
    EXPECT_EQ(boot.type, InfoBlockType::BootloaderInfoBlock);
    EXPECT_EQ(boot.length, 16);
    EXPECT_EQ(boot.version.text(), L"3.2.1.5");
    EXPECT_EQ(boot.productCode, 0x2A);
    EXPECT_EQ(boot.bootloaderType, 0x80);
    EXPECT_EQ(boot.pageSizeCode, 9);
    EXPECT_EQ(boot.packetSizeCode, 6);
    EXPECT_EQ(boot.bufferSizeCode, 5);
    EXPECT_EQ(boot.crcType, 0x40);
    EXPECT_EQ(boot.appStart, 0x1000U);
    EXPECT_EQ(boot.appEnd, 0x7FFFU);

    InfoBlock target = TargetInfoReply::emptyBlock(InfoBlockType::TargetInfoBlock);
    ASSERT_TRUE(TargetInfoReply::parseInfoBlock(kTargetBlock, target));
    EXPECT_EQ(target.length, 12);
    EXPECT_EQ(target.productCode, 0x2B);
    EXPECT_EQ(target.bootloaderType, 0x81);
    EXPECT_EQ(target.pageSizeCode, 10);
    EXPECT_EQ(target.packetSizeCode, 7);
    EXPECT_EQ(target.bufferSizeCode, 6);
    EXPECT_EQ(target.crcType, 0xC0);
    EXPECT_EQ(target.version.text(), L"1.4.2.7");
    EXPECT_EQ(target.serialNo, 0x1234);

    // Bytes beyond the listed fields are skipped.
    InfoBlock longer = TargetInfoReply::emptyBlock(InfoBlockType::BootloaderInfoBlock);
    Bytes padded = kBootloaderBlock;
    padded[0] = 20;
    padded.insert(padded.end(), {0xEE, 0xEE, 0xEE, 0xEE});
    ASSERT_TRUE(TargetInfoReply::parseInfoBlock(padded, longer));
    EXPECT_EQ(longer.length, 20);
    EXPECT_EQ(longer.appEnd, 0x7FFFU);
}

TEST(TargetInfoReplyTest, RejectsWhatCannotBeABlock) {
    InfoBlock block = TargetInfoReply::emptyBlock(InfoBlockType::BootloaderInfoBlock);
    EXPECT_FALSE(TargetInfoReply::parseInfoBlock({}, block));
    EXPECT_FALSE(TargetInfoReply::parseInfoBlock(
        Bytes{0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, block));

    // Every truncation of either layout fails, keeping the fields read so far.
    for (std::size_t size = 1; size < kBootloaderBlock.size(); ++size) {
        InfoBlock cut = TargetInfoReply::emptyBlock(InfoBlockType::BootloaderInfoBlock);
        EXPECT_FALSE(TargetInfoReply::parseInfoBlock(std::span(kBootloaderBlock).first(size), cut)) << size;
        EXPECT_EQ(cut.length, 16);
        EXPECT_EQ(cut.productCode, size > 5 ? 0x2A : 0) << size;
    }
    for (std::size_t size = 1; size < kTargetBlock.size(); ++size) {
        InfoBlock cut = TargetInfoReply::emptyBlock(InfoBlockType::TargetInfoBlock);
        EXPECT_FALSE(TargetInfoReply::parseInfoBlock(std::span(kTargetBlock).first(size), cut)) << size;
        EXPECT_EQ(cut.serialNo, 0) << size;
    }

    // The caller names the layout; anything else is refused.
    for (const InfoBlockType* type : {&InfoBlockType::Unknown, &InfoBlockType::SourceInfoBlock}) {
        InfoBlock other = TargetInfoReply::emptyBlock(*type);
        EXPECT_FALSE(TargetInfoReply::parseInfoBlock(kTargetBlock, other));
        EXPECT_EQ(other.length, 0);
    }
}

TEST(TargetInfoReplyTest, DecodesAWholeReply) {
    test::LogCapture capture;
    capture.collect();
    capture.records.clear();

    InfoBlock boot;
    InfoBlock target;
    ASSERT_EQ(TargetInfoReply::decode(join({{0x00}, kBootloaderBlock, kTargetBlock}), boot, target), 0U);
    EXPECT_EQ(boot.type, InfoBlockType::BootloaderInfoBlock);
    EXPECT_EQ(boot.appEnd, 0x7FFFU);
    EXPECT_EQ(target.type, InfoBlockType::TargetInfoBlock);
    EXPECT_EQ(target.serialNo, 0x1234);
    // Both blocks are dumped.
    EXPECT_EQ(capture.matching(L"                         INFO BLOCK").size(), 2U);
    EXPECT_EQ(capture.matching(L"Serial No         : [0x34, 0x12] 4660").size(), 1U);
}

TEST(TargetInfoReplyTest, AnAbsentApplicationIsNoFailureAndIsNotLogged) {
    test::LogCapture capture;
    capture.collect();
    capture.records.clear();

    InfoBlock boot;
    InfoBlock target;
    ASSERT_EQ(TargetInfoReply::decode(join({{0x00}, kBootloaderBlock, {0x00}}), boot, target), 0U);
    EXPECT_EQ(boot.length, 16);
    EXPECT_EQ(target.type, InfoBlockType::TargetInfoBlock);
    EXPECT_EQ(target.length, 0);
    EXPECT_EQ(capture.matching(L"Type              : [1] - BootloaderInfoBlock").size(), 1U);
    EXPECT_TRUE(capture.matching(L"TargetInfoBlock").empty());
}

TEST(TargetInfoReplyTest, AnUndecodableApplicationBlockCountsAsAbsent) {
    test::LogCapture capture;
    capture.collect();
    capture.records.clear();

    // T = 8 is too short for the version and serial number; T = 34 claims more
    // bytes than the reply holds.
    Bytes truncated = kTargetBlock;
    truncated[0] = 34;
    const std::vector<Bytes> blocks{{0x08, 0x2B, 0x81, 0x0A, 0x76, 0xC0, 0x07, 0x80}, truncated};
    for (const auto& block : blocks) {
        InfoBlock boot;
        InfoBlock target;
        ASSERT_EQ(TargetInfoReply::decode(join({{0x00}, kBootloaderBlock, block}), boot, target), 0U);
        EXPECT_EQ(boot.appEnd, 0x7FFFU);
        EXPECT_EQ(target.type, InfoBlockType::TargetInfoBlock);
        EXPECT_EQ(target.length, 0);
        EXPECT_EQ(target.productCode, 0);
    }
    EXPECT_EQ(capture.matching(L"The application info block cannot be decoded").size(), 2U);
}

TEST(TargetInfoReplyTest, ABadReplyFailsWithGeneralFailure) {
    struct Case {
        const char* what;
        Bytes reply;
    };
    Bytes shortBlock = join({{0x00}, kBootloaderBlock, kTargetBlock});
    shortBlock[1] = 15; // L = 15: the block lacks the last byte of appEnd
    const std::vector<Case> cases{
        {"empty", {}},
        {"not OK", join({{0x05}, kBootloaderBlock, kTargetBlock})},
        {"unrecognised code", join({{0x07}, kBootloaderBlock, kTargetBlock})},
        {"zero length", {0x00, 0x00, 0x00}},
        {"truncated", {0x00, 0x10, 0x05, 0x40}},
        {"longer than the reply",
         join({{0x00, 0x12}, Bytes(kBootloaderBlock.begin() + 1, kBootloaderBlock.end()), {0x00}})},
        {"block shorter than its fields", shortBlock},
    };
    for (const auto& c : cases) {
        InfoBlock boot;
        InfoBlock target;
        boot.length = 99;
        target.length = 99;
        EXPECT_EQ(TargetInfoReply::decode(c.reply, boot, target), 31U) << c.what;
        // Nothing half-decoded survives a failed reply.
        EXPECT_EQ(boot.length, 0) << c.what;
        EXPECT_EQ(boot.type, InfoBlockType::BootloaderInfoBlock) << c.what;
        EXPECT_EQ(target.length, 0) << c.what;
    }
}
