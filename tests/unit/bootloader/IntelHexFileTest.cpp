#include "bootloader/IntelHexFile.h"

#include "tests/unit/bootloader/TestImage.h"
#include "tests/unit/support/LogCapture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using bootloader::InfoBlockType;
using bootloader::IntelHexFile;

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

constexpr std::uint32_t kMoreData = 234;
constexpr std::uint32_t kEndOfFile = 38;
constexpr std::uint32_t kInvalidData = 13;
constexpr std::uint32_t kReadFault = 30;
constexpr std::uint32_t kChecksum = 323;
constexpr std::uint32_t kOpenFailed = 110;
constexpr std::uint32_t kInvalidAddress = 487;
constexpr int kError = 0x40;

std::string record(std::uint8_t type, std::uint16_t address, const Bytes& data) {
    return test::TestImage::record(type, address, data);
}

// An embedded info block in ascending address order, H - 11 first: serial high,
// serial low, b3, b2, b1, b0, CRC type, packet/buffer codes, page code,
// bootloader type, product code, length.
Bytes infoBlock(std::uint8_t pageSizeCode = 9, std::uint16_t serial = 0) {
    return {static_cast<std::uint8_t>(serial >> 8),
            static_cast<std::uint8_t>(serial & 0xFF),
            0x10,
            0x02,
            0x40,
            0x05,
            0x40,
            0x66,
            pageSizeCode,
            0x80,
            0x42,
            0x0C};
}

// Bytes at 0x0000-0x0003, the info block at 0x0400-0x040B, 512-byte pages.
const std::string kData = ":0400000001020304F2";
const std::string kInfo = ":0C04000000001002400540660980420C1C";
const std::string kEnd = ":00000001FF";
const std::string kImage = kData + "\n" + kInfo + "\n" + kEnd + "\n";

class IntelHexFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "intelhex-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        _dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(_dir, ec);
    }

    std::string write(const std::string& content, const std::string& name = "image.hex") {
        const fs::path path = _dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    // Opens and reads the whole file; the codes of every processNextLine call.
    std::vector<std::uint32_t> load(const std::string& content, std::uint32_t* lines = nullptr) {
        std::uint32_t count = 0;
        EXPECT_EQ(hex.open(write(content), count), 0U);
        if (lines != nullptr) {
            *lines = count;
        }
        std::vector<std::uint32_t> codes;
        do {
            codes.push_back(hex.processNextLine());
        } while (codes.back() == kMoreData && codes.size() <= count + 1);
        return codes;
    }

    std::uint32_t finalCode(const std::string& content) { return load(content).back(); }

    void expectEmpty() {
        EXPECT_FALSE(hex.loaded());
        EXPECT_FALSE(hex.isOpen());
        EXPECT_TRUE(hex.pages().empty());
        EXPECT_EQ(hex.pageCount(), 0U);
        EXPECT_EQ(hex.byteCount(), 0U);
        EXPECT_EQ(hex.lowestAddress(), 0xFFFFFFFFU);
        EXPECT_EQ(hex.highestAddress(), 0U);
    }

    fs::path _dir;
    IntelHexFile hex;
};

std::vector<std::wstring> messages(test::LogCapture& capture, const std::wstring& context) {
    std::vector<std::wstring> found;
    for (const auto& r : capture.collect()) {
        if (r.context == context) {
            found.push_back(r.message);
        }
    }
    return found;
}

} // namespace

TEST_F(IntelHexFileTest, LoadsAnImageIntoWholeErasedPages) {
    std::uint32_t lines = 0;
    const auto codes = load(kImage, &lines);
    EXPECT_EQ(lines, 3U);
    EXPECT_EQ(codes, (std::vector<std::uint32_t>{kMoreData, kMoreData, kMoreData, kEndOfFile}));
    ASSERT_TRUE(hex.loaded());
    EXPECT_FALSE(hex.isOpen());

    // Pages 0 and 2 of 512 bytes; page 1 holds nothing and is absent.
    ASSERT_EQ(hex.pageCount(), 2U);
    ASSERT_EQ(hex.pages().size(), 2U);
    Bytes page0(512, 0xFF);
    page0[0] = 1, page0[1] = 2, page0[2] = 3, page0[3] = 4;
    Bytes page2(512, 0xFF);
    const Bytes block = infoBlock();
    std::copy(block.begin(), block.end(), page2.begin());
    EXPECT_EQ(hex.pages().at(0), page0);
    EXPECT_EQ(hex.pages().at(2), page2);
    EXPECT_FALSE(hex.pages().contains(1));

    const auto& info = hex.infoBlock();
    EXPECT_EQ(info.type, InfoBlockType::SourceInfoBlock);
    EXPECT_EQ(info.length, 0x0C);
    EXPECT_EQ(info.productCode, 0x42);
    EXPECT_EQ(info.bootloaderType, 0x80);
    EXPECT_EQ(info.pageSizeCode, 9);
    EXPECT_EQ(info.packetSizeCode, 6);
    EXPECT_EQ(info.bufferSizeCode, 6);
    EXPECT_EQ(info.crcType, 0x40);
    EXPECT_EQ(info.version.text(), L"1.2.1.5");
    EXPECT_EQ(info.serialNo, 0);
    EXPECT_EQ(info.appStart, 0x0000U);
    EXPECT_EQ(info.appEnd, 0x040BU);

    // Asking again after the end changes nothing.
    EXPECT_EQ(hex.processNextLine(), kEndOfFile);
    EXPECT_TRUE(hex.loaded());
}

TEST_F(IntelHexFileTest, AcceptsTheFormsARecordMayTake) {
    struct Case {
        const char* what;
        std::string content;
        std::uint32_t lines;
    };
    std::string lower = kImage;
    for (auto& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::vector<Case> cases{
        {"last line without newline", kData + "\n" + kInfo + "\n" + kEnd, 3},
        {"CRLF line ends", kData + "\r\n" + kInfo + "\r\n" + kEnd + "\r\n", 3},
        {"lower-case digits", lower, 3},
        {"empty data record", kData + "\n:0000000000\n" + kInfo + "\n" + kEnd + "\n", 4},
        {"records after an end-of-file record", kData + "\n" + kEnd + "\n" + kInfo + "\n" + kEnd + "\n", 4},
        {"the same bytes twice", kData + "\n" + kInfo + "\n" + kData + "\n" + kEnd + "\n", 4},
        {"end-of-file record with an address", kData + "\n" + kInfo + "\n:00123401B9\n", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::uint32_t lines = 0;
        const auto codes = load(c.content, &lines);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(codes.size(), c.lines + 1);
        EXPECT_EQ(codes.back(), kEndOfFile);
        ASSERT_TRUE(hex.loaded());
        EXPECT_EQ(hex.pageCount(), 2U);
        EXPECT_EQ(hex.pages().at(0)[3], 4);
        EXPECT_EQ(hex.infoBlock().productCode, 0x42);
    }
}

TEST_F(IntelHexFileTest, CountsLinesByTheirEnds) {
    const std::vector<std::pair<std::string, std::uint32_t>> cases{
        {"", 0}, {"x", 1}, {"x\n", 1}, {"x\ny", 2}, {"\n\n", 2}, {"x\r\ny\r\n", 2}};
    for (const auto& [content, expected] : cases) {
        std::uint32_t lines = 99;
        ASSERT_EQ(hex.open(write(content), lines), 0U);
        EXPECT_EQ(lines, expected) << content;
        EXPECT_TRUE(hex.isOpen());
    }
}

TEST_F(IntelHexFileTest, RejectsBadInputNamingTheLineAndEmptiesTheImage) {
    struct Case {
        const char* what;
        std::string content;
        std::uint32_t code;
        std::wstring names; // text the error log must contain
    };
    const std::string head = kData + "\n" + kInfo + "\n";
    std::string binary("\x7F"
                       "ELF\x02\x01\x01\x00\x00\x00\xFF\xFE",
                       12);
    const Bytes conflicting{1, 2, 9, 4};
    Bytes gap = infoBlock();
    const std::vector<Case> cases{
        {"empty file", "", kReadFault, L"after line 0"},
        {"binary file", binary, kInvalidData, L"Line 1 "},
        {"no colon", "0400000001020304F2\n", kInvalidData, L"Line 1 "},
        {"empty line", kData + "\n\n" + kInfo + "\n" + kEnd + "\n", kInvalidData, L"Line 2 "},
        {"too short", ":0000000\n", kInvalidData, L"Line 1 "},
        {"cut inside a record", kData + "\n:0C0400000000100240\n", kInvalidData, L"Line 2 "},
        {"cut at a line end", head, kReadFault, L"after line 2"},
        {"odd digit count", ":0400000001020304F\n", kInvalidData, L"Line 1 "},
        {"characters after the checksum", kData + "00\n" + kInfo + "\n" + kEnd + "\n", kInvalidData,
         L"Line 1 "},
        {"not a hex digit", ":04000000010G0304F2\n", kInvalidData,
         L"Line 1 holds a character that is not a hexadecimal digit at column 13"},
        {"space inside", ":04000000 1020304F2\n", kInvalidData, L"Line 1 "},
        {"data checksum", ":0400000001020304F3\n", kChecksum, L"Line 1 "},
        {"end-of-file checksum", head + ":00000001FE\n", kChecksum, L"Line 3 "},
        {"empty data record checksum", ":0000000001\n", kChecksum, L"Line 1 "},
        {"extended segment address", ":020000021000EC\n" + head + kEnd + "\n", kInvalidData, L"Line 1 "},
        {"extended linear address", head + ":020000040001F9\n" + kEnd + "\n", kInvalidData, L"Line 3 "},
        {"start segment address", record(3, 0, {0, 0, 0x10, 0}) + "\n", kInvalidData, L"record type 03"},
        {"start linear address", record(5, 0, {0, 0, 0x10, 0}) + "\n", kInvalidData, L"record type 05"},
        {"conflicting overlap", head + record(0, 0, conflicting) + "\n" + kEnd + "\n", kInvalidData,
         L"Line 3 "},
        {"only an end record", kEnd + "\n", kReadFault, L"after line 1"},
        {"no info block", kData + "\n" + kEnd + "\n", kReadFault, L"after line 2"},
        {"data after the last end record", kData + "\n" + kEnd + "\n" + kInfo + "\n", kReadFault,
         L"after line 3"},
        {"page size code beyond 24 bits", kData + "\n" + record(0, 0x400, infoBlock(25)) + "\n" + kEnd,
         kReadFault, L"after line 3"},
        {"line longer than any record", ":" + std::string(100000, '0') + "\n", kInvalidData, L"Line 1 "},
        {"long line without end", std::string(5000, ':'), kInvalidData, L"Line 1 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::LogCapture capture;
        EXPECT_EQ(finalCode(c.content), c.code);
        expectEmpty();
        bool named = false;
        for (const auto& r : capture.collect()) {
            named = named || (r.verbosity == kError && r.message.find(c.names) != std::wstring::npos);
        }
        EXPECT_TRUE(named) << "no error names " << std::string(c.names.begin(), c.names.end());
        // Nothing is left to read, and nothing counts as loaded.
        EXPECT_EQ(hex.processNextLine(), kReadFault);
    }
}

TEST_F(IntelHexFileTest, APartialInfoBlockFailsAtTheEndOfTheFile) {
    // Each of the twelve top bytes in turn is missing: the block below H is split
    // into two records around the gap. The last byte stays, so H does not move.
    const Bytes block = infoBlock();
    for (std::size_t missing = 0; missing + 1 < block.size(); ++missing) {
        SCOPED_TRACE(missing);
        std::string content = kData + "\n";
        if (missing > 0) {
            content +=
                record(0, 0x400, Bytes(block.begin(), block.begin() + static_cast<long>(missing))) + "\n";
        }
        content += record(0, static_cast<std::uint16_t>(0x401 + missing),
                          Bytes(block.begin() + static_cast<long>(missing) + 1, block.end())) +
                   "\n" + kEnd + "\n";
        test::LogCapture capture;
        EXPECT_EQ(finalCode(content), kReadFault);
        expectEmpty();
        char address[16];
        std::snprintf(address, sizeof address, "0x%06zx", 0x400 + missing);
        EXPECT_FALSE(capture.matching(L"lacks byte " + std::wstring(address, address + 8)).empty());
    }
}

TEST_F(IntelHexFileTest, SameBytesTwiceAreKeptWithAWarning) {
    test::LogCapture capture;
    EXPECT_EQ(finalCode(kData + "\n" + record(0, 2, {3, 4, 5}) + "\n" + kInfo + "\n" + kEnd + "\n"),
              kEndOfFile);
    EXPECT_EQ(hex.pages().at(0)[4], 5);
    const auto warnings = capture.matching(L"Line 2 repeats bytes from address 0x000002");
    ASSERT_EQ(warnings.size(), 1U);
    EXPECT_EQ(warnings[0].verbosity, 0x20);
}

TEST_F(IntelHexFileTest, RecordAddressesRunOnPastSixteenBits) {
    // 0xFFF8 + 12 bytes: the block's top byte is 0x10003, in page 0x80 of 512 bytes.
    EXPECT_EQ(finalCode(record(0, 0xFFF8, infoBlock()) + "\n" + kEnd + "\n"), kEndOfFile);
    EXPECT_EQ(hex.highestAddress(), 0x10003U);
    EXPECT_EQ(hex.infoBlock().appEnd, 0x10003U);
    ASSERT_EQ(hex.pageCount(), 2U);
    EXPECT_EQ(hex.pages().at(0x7F)[0x1F8], 0x00);
    EXPECT_EQ(hex.pages().at(0x80)[3], 0x0C);
}

TEST_F(IntelHexFileTest, OpeningAgainStartsFromEmpty) {
    ASSERT_EQ(finalCode(kImage), kEndOfFile);
    std::uint32_t lines = 0;
    ASSERT_EQ(hex.open(write(kData + "\n", "other.hex"), lines), 0U);
    EXPECT_FALSE(hex.loaded());
    EXPECT_TRUE(hex.pages().empty());
    EXPECT_EQ(hex.byteCount(), 0U);
    EXPECT_EQ(hex.processNextLine(), kMoreData);
    EXPECT_EQ(hex.byteCount(), 4U);
}

TEST_F(IntelHexFileTest, FilesThatCannotBeOpenedGive110) {
    ASSERT_EQ(finalCode(kImage), kEndOfFile);
    for (const std::string& path : {(_dir / "missing.hex").string(), _dir.string()}) {
        SCOPED_TRACE(path);
        test::LogCapture capture;
        std::uint32_t lines = 7;
        EXPECT_EQ(hex.open(path, lines), kOpenFailed);
        EXPECT_EQ(lines, 0U);
        expectEmpty();
        const std::wstring widePath(path.begin(), path.end());
        bool logged = false;
        for (const auto& r : capture.collect()) {
            logged = logged ||
                     (r.verbosity == kError && r.message.find(L"[" + widePath + L"]") != std::wstring::npos);
        }
        EXPECT_TRUE(logged);
        EXPECT_EQ(hex.processNextLine(), kReadFault);
    }
}

TEST_F(IntelHexFileTest, SerialNumberGoesBelowTheVersionAndRebuildsThePages) {
    EXPECT_EQ(hex.setSerialNumber(0x1234), kInvalidAddress); // nothing loaded
    ASSERT_EQ(finalCode(kImage), kEndOfFile);

    test::LogCapture capture;
    ASSERT_EQ(hex.setSerialNumber(0x1234), 0U);
    EXPECT_TRUE(hex.loaded());
    EXPECT_EQ(hex.infoBlock().serialNo, 0x1234);
    // H = 0x040B: H - 10 = 0x0401 holds the low byte, H - 11 = 0x0400 the high byte.
    EXPECT_EQ(hex.pages().at(2)[1], 0x34);
    EXPECT_EQ(hex.pages().at(2)[0], 0x12);
    EXPECT_EQ(hex.pages().at(2)[2], 0x10); // the version is untouched
    EXPECT_EQ(capture.matching(L"Serial No         : [0x34, 0x12] 4660").size(), 1U);

    // A failed load leaves nowhere to write it.
    EXPECT_EQ(finalCode(kData + "\n"), kReadFault);
    EXPECT_EQ(hex.setSerialNumber(1), kInvalidAddress);
    expectEmpty();
}

TEST_F(IntelHexFileTest, DumpsTheInfoBlockThenTheFlashMap) {
    test::LogCapture capture;
    ASSERT_EQ(finalCode(kImage), kEndOfFile);
    const std::wstring rule(60, L'=');
    const std::vector<std::wstring> expected{rule,
                                             L"                         FLASH MAP",
                                             rule,
                                             L"Page Count        : 2",
                                             rule,
                                             L"Page Specified    : 0 [0x000000]",
                                             L"Page Specified    : 2 [0x000400]",
                                             rule};
    EXPECT_EQ(messages(capture, L"bootloader::IntelHexFile::dumpProperties"), expected);

    const auto block = messages(capture, L"bootloader::dump");
    ASSERT_EQ(block.size(), 16U);
    EXPECT_EQ(block[3], L"Type              : [3] - SourceInfoBlock");
    EXPECT_EQ(block[4], L"Block length      : [0x0c] 12 bytes");
    EXPECT_EQ(block[5], L"Version           : [0x21, 0x00, 0x15, 0x00] 1.2.1.5");
    EXPECT_EQ(block[12], L"Serial No         : [0x00, 0x00] 0");
    EXPECT_EQ(block[13], L"App Start Address : 0x000000");
    EXPECT_EQ(block[14], L"App End Address   : 0x00040b");

    // The block comes first.
    const auto records = capture.collect();
    std::size_t firstDump = records.size();
    std::size_t firstMap = records.size();
    for (std::size_t i = records.size(); i-- > 0;) {
        if (records[i].context == L"bootloader::dump") {
            firstDump = i;
        } else if (records[i].context == L"bootloader::IntelHexFile::dumpProperties") {
            firstMap = i;
        }
    }
    EXPECT_LT(firstDump, firstMap);
}
