#include "bootloader/InfoBlock.h"
#include "bootloader/IntelHexFile.h"
#include "tests/unit/bootloader/TestImage.h"
#include "tests/unit/support/LogCapture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace bootloader;

namespace {

std::vector<std::wstring> messagesOf(test::LogCapture& capture, const std::wstring& context) {
    std::vector<std::wstring> lines;
    for (const auto& r : capture.collect()) {
        if (r.context == context) {
            lines.push_back(r.message);
        }
    }
    return lines;
}

} // namespace

// The text forms are what the log shows, line for line, for every kind of block.
TEST(DumpText, IsWhatTheDumpsLog) {
    test::TestImage image;
    image.add(0x0000, test::TestImage::pattern(4, 1));
    image.add(0x0400, test::TestImage::pattern(64, 2));
    image.addInfoBlock(0x05FF, 9, 6, 0xBEEF);

    test::LogCapture capture;
    IntelHexFile hex;
    std::uint32_t lines = 0;
    ASSERT_EQ(hex.open(image.write(), lines), 0U);
    while (hex.processNextLine() == 234U) {
    }
    ASSERT_TRUE(hex.loaded());
    EXPECT_EQ(messagesOf(capture, L"bootloader::dump"), dumpText(hex.infoBlock()));
    EXPECT_EQ(messagesOf(capture, L"bootloader::IntelHexFile::dumpProperties"), hex.flashMapText());
    EXPECT_EQ(hex.flashMapText()[3], L"Page Count        : 2");
    EXPECT_EQ(hex.flashMapText()[6], L"Page Specified    : 2 [0x000400]");

    InfoBlock device;
    device.type = InfoBlockType::BootloaderInfoBlock;
    device.appStart = 0x012345;
    device.appEnd = 0x07FFFF;
    capture.records.clear();
    dump(device);
    const auto text = dumpText(device);
    EXPECT_EQ(messagesOf(capture, L"bootloader::dump"), text);
    ASSERT_EQ(text.size(), 15U);
    EXPECT_EQ(text[12], L"App Start Address : [0x45, 0x23, 0x01] 0x012345");
}
