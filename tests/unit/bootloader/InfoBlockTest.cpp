#include "bootloader/InfoBlock.h"

#include "bootloader/BootloaderType.h"
#include "bootloader/CrcType.h"
#include "bootloader/FirmwareVersion.h"
#include "bootloader/InfoBlockField.h"
#include "bootloader/InfoBlockType.h"
#include "tests/unit/support/LogCapture.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace bootloader;

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::wstring kRule(60, L'=');

std::vector<std::wstring> dumpLines(test::LogCapture& capture) {
    std::vector<std::wstring> lines;
    for (const auto& r : capture.collect()) {
        EXPECT_EQ(r.context, L"bootloader::dump");
        EXPECT_EQ(r.verbosity, 0x10); // Information
        lines.push_back(r.message);
    }
    return lines;
}

} // namespace

TEST(BootloaderTables, RegistriesHoldTheNamedValues) {
    ASSERT_EQ(InfoBlockType::registry().size(), 4U);
    EXPECT_EQ(InfoBlockType::fromValue(3), &InfoBlockType::SourceInfoBlock);
    EXPECT_EQ(InfoBlockType::displayName(1), L"BootloaderInfoBlock");
    EXPECT_EQ(InfoBlockType::displayName(2), L"TargetInfoBlock");
    EXPECT_EQ(InfoBlockType::displayName(9), L"UNKNOWN");

    ASSERT_EQ(CrcType::registry().size(), 5U);
    EXPECT_EQ(CrcType::displayName(0x00), L"None");
    EXPECT_EQ(CrcType::displayName(0x01), L"16-bit User Defined CRC");
    EXPECT_EQ(CrcType::displayName(0x40), L"CRC-16-CCITT");
    EXPECT_EQ(CrcType::displayName(0x80), L"32-bit User Defined CRC");
    EXPECT_EQ(CrcType::displayName(0xC0), L"CRC-32-IEEE 802.3");
    EXPECT_EQ(CrcType::displayName(0x41), L"INVALID");

    ASSERT_EQ(BootloaderType::registry().size(), 7U);
    const std::vector<std::pair<int, std::wstring>> transports{
        {0x00, L"Reserved"}, {0x01, L"User Defined"}, {0x80, L"UART"}, {0x81, L"CAN"},
        {0x82, L"LIN"},      {0x83, L"I2C"},          {0x84, L"SPI"}};
    for (const auto& [code, name] : transports) {
        EXPECT_EQ(BootloaderType::displayName(static_cast<std::uint8_t>(code)), name) << code;
    }
    // Unregistered codes: the maker's range below 0x80, reserved above the transports.
    EXPECT_EQ(BootloaderType::displayName(0x02), L"User Defined");
    EXPECT_EQ(BootloaderType::displayName(0x7F), L"User Defined");
    EXPECT_EQ(BootloaderType::displayName(0x85), L"Reserved");
    EXPECT_EQ(BootloaderType::displayName(0xFF), L"Reserved");
}

TEST(BootloaderTables, InfoBlockFieldsCountDownFromTheTop) {
    ASSERT_EQ(InfoBlockField::registry().size(), 8U);
    const std::vector<std::pair<const InfoBlockField*, std::uint32_t>> places{
        {&InfoBlockField::InfoBlockLength, 0x100},      {&InfoBlockField::ProductCode, 0x0FF},
        {&InfoBlockField::BootLoadType, 0x0FE},         {&InfoBlockField::FlashPageSizeCode, 0x0FD},
        {&InfoBlockField::PacketBufferSizeCode, 0x0FC}, {&InfoBlockField::CRCTypeCode, 0x0FB},
        {&InfoBlockField::AppFWVersionLow, 0x0FA},      {&InfoBlockField::SerialNo, 0x0F6}};
    int id = 1;
    for (const auto& [field, address] : places) {
        EXPECT_EQ(field->value(), id++);
        EXPECT_EQ(field->address(0x100), address) << std::string(field->name().begin(), field->name().end());
    }
    EXPECT_EQ(InfoBlockField::fromValue(7)->name(), L"AppFWVersionLow");
    EXPECT_EQ(InfoBlockField::AppFWVersionLow.address(0x100, 3), 0x0F7U); // b3
    EXPECT_EQ(InfoBlockField::SerialNo.address(0x100, 1), 0x0F5U);        // the high byte, H - 11
}

TEST(FirmwareVersion, PacksFourBytesIntoTwoWords) {
    struct Case {
        Bytes bytes;
        std::uint16_t word0;
        std::uint16_t word1;
        std::wstring text;
    };
    const std::vector<Case> cases{
        {{0x05, 0x40, 0x02, 0x10}, 0x0021, 0x0015, L"1.2.1.5"},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0x0FFF, 0x03FF, L"15.255.3.255"},
        // The low six bits of b1 and the low four bits of b3 are not kept.
        {{0x00, 0x3F, 0x00, 0x0F}, 0x0000, 0x0000, L"0.0.0.0"},
        {{0x80, 0xC1, 0x7E, 0xA7}, 0x07EA, 0x0203, L"10.126.3.128"},
    };
    for (const auto& c : cases) {
        FirmwareVersion v;
        ASSERT_TRUE(v.pack(c.bytes));
        EXPECT_EQ(v.word0(), c.word0);
        EXPECT_EQ(v.word1(), c.word1);
        EXPECT_EQ(v.text(), c.text);
    }
    const FirmwareVersion v(0x07EA, 0x0203);
    EXPECT_EQ(v.memoryBytes(), (std::array<std::uint8_t, 4>{0xEA, 0x07, 0x03, 0x02}));
}

TEST(FirmwareVersion, PackingNeedsExactlyFourBytes) {
    FirmwareVersion v(0x0021, 0x0015);
    EXPECT_FALSE(v.pack(Bytes{}));
    EXPECT_FALSE(v.pack(Bytes{1, 2, 3}));
    EXPECT_FALSE(v.pack(Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(v, FirmwareVersion(0x0021, 0x0015));
}

TEST(InfoBlock, SizeCodesArePowersOfTwoWithinThirtyTwoBits) {
    EXPECT_EQ(sizeFromCode(0), 1U);
    EXPECT_EQ(sizeFromCode(6), 64U);
    EXPECT_EQ(sizeFromCode(9), 512U);
    EXPECT_EQ(sizeFromCode(31), 0x80000000U);
    EXPECT_EQ(sizeFromCode(32), 0U);
    EXPECT_EQ(sizeFromCode(255), 0U);
}

TEST(InfoBlock, DumpsABootloaderBlockWithItsApplicationArea) {
    InfoBlock block;
    block.type = InfoBlockType::BootloaderInfoBlock;
    block.length = 16;
    block.productCode = 0x42;
    ASSERT_TRUE(block.version.pack(Bytes{0x05, 0x40, 0x02, 0x10}));
    block.bootloaderType = 0x80;
    block.pageSizeCode = 9;
    block.packetSizeCode = 6;
    block.bufferSizeCode = 5;
    block.crcType = 0x40;
    block.appStart = 0x001000;
    block.appEnd = 0x017FFF;

    test::LogCapture capture;
    dump(block);
    const std::vector<std::wstring> expected{
        kRule,
        L"                         INFO BLOCK",
        kRule,
        L"Type              : [1] - BootloaderInfoBlock",
        L"Block length      : [0x10] 16 bytes",
        L"Version           : [0x21, 0x00, 0x15, 0x00] 1.2.1.5",
        L"Product Code      : [0x42] 66",
        L"Bootloader Type   : [0x80] UART",
        L"Page Size Code    : [0x09] 512 bytes",
        L"Packect Size Code : [0x06] 64 bytes",
        L"Buffer Size Code  : [0x05] 32 bytes",
        L"CRC Type Code     : [0x40] CRC-16-CCITT",
        L"App Start Address : [0x00, 0x10, 0x00] 0x001000",
        L"App End Address   : [0xff, 0x7f, 0x01] 0x017fff",
        kRule,
    };
    EXPECT_EQ(dumpLines(capture), expected);
}

TEST(InfoBlock, DumpsSerialNumbersAndTheImageRangeByType) {
    InfoBlock block;
    block.type = InfoBlockType::TargetInfoBlock;
    block.length = 12;
    block.bootloaderType = 0x33; // unregistered, below 0x80
    block.crcType = 0x41;        // unregistered
    block.pageSizeCode = 40;     // no 32-bit size
    block.serialNo = 0x1234;
    block.appStart = 0x2000;
    block.appEnd = 0x2FFF;

    {
        test::LogCapture capture;
        dump(block);
        const auto lines = dumpLines(capture);
        ASSERT_EQ(lines.size(), 14U);
        EXPECT_EQ(lines[3], L"Type              : [2] - TargetInfoBlock");
        EXPECT_EQ(lines[7], L"Bootloader Type   : [0x33] User Defined");
        EXPECT_EQ(lines[8], L"Page Size Code    : [0x28] 0 bytes");
        EXPECT_EQ(lines[9], L"Packect Size Code : [0x00] 1 bytes");
        EXPECT_EQ(lines[11], L"CRC Type Code     : [0x41] INVALID");
        EXPECT_EQ(lines[12], L"Serial No         : [0x34, 0x12] 4660");
        EXPECT_EQ(lines[13], kRule);
    }
    {
        block.type = InfoBlockType::SourceInfoBlock;
        test::LogCapture capture;
        dump(block);
        const auto lines = dumpLines(capture);
        ASSERT_EQ(lines.size(), 16U);
        EXPECT_EQ(lines[3], L"Type              : [3] - SourceInfoBlock");
        EXPECT_EQ(lines[12], L"Serial No         : [0x34, 0x12] 4660");
        EXPECT_EQ(lines[13], L"App Start Address : 0x002000");
        EXPECT_EQ(lines[14], L"App End Address   : 0x002fff");
    }
    {
        InfoBlock empty;
        test::LogCapture capture;
        dump(empty);
        const auto lines = dumpLines(capture);
        ASSERT_EQ(lines.size(), 14U);
        EXPECT_EQ(lines[3], L"Type              : [0] - UNKNOWN");
        EXPECT_EQ(lines[5], L"Version           : [0x00, 0x00, 0x00, 0x00] 0.0.0.0");
        EXPECT_EQ(lines[7], L"Bootloader Type   : [0x00] Reserved");
        EXPECT_EQ(lines[11], L"CRC Type Code     : [0x00] None");
        EXPECT_EQ(lines[12], L"Serial No         : [0x00, 0x00] 0");
    }
}
