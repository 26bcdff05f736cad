#include "cli/HexInfoCommand.h"

#include "cli/FlashCommand.h"
#include "cli/OrvaneCtl.h"
#include "tests/unit/bootloader/TestImage.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome orvanectl(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    cli::OrvaneCtl ctl(out, err);
    const int code = ctl.run(args);
    return {code, out.str(), err.str()};
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(HexInfo, PrintsTheInfoBlockAndTheFlashMap) {
    test::TestImage image;
    image.add(0x1000, test::TestImage::pattern(40, 3));
    image.add(0x1600, test::TestImage::pattern(8, 4));
    image.addInfoBlock(0x7FFF, 9, 6, 0x1234);

    const Outcome r = orvanectl({"hexinfo", image.write()});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    const std::string rule(60, '=');
    EXPECT_EQ(r.out, rule +
                         "\n"
                         "                         INFO BLOCK\n" +
                         rule +
                         "\n"
                         "Type              : [3] - SourceInfoBlock\n"
                         "Block length      : [0x0c] 12 bytes\n"
                         "Version           : [0x21, 0x00, 0x15, 0x00] 1.2.1.5\n"
                         "Product Code      : [0x2a] 42\n"
                         "Bootloader Type   : [0x80] UART\n"
                         "Page Size Code    : [0x09] 512 bytes\n"
                         "Packect Size Code : [0x06] 64 bytes\n"
                         "Buffer Size Code  : [0x06] 64 bytes\n"
                         "CRC Type Code     : [0x40] CRC-16-CCITT\n"
                         "Serial No         : [0x34, 0x12] 4660\n"
                         "App Start Address : 0x001000\n"
                         "App End Address   : 0x007fff\n" +
                         rule + "\n" + rule +
                         "\n"
                         "                         FLASH MAP\n" +
                         rule +
                         "\n"
                         "Page Count        : 3\n" +
                         rule +
                         "\n"
                         "Page Specified    : 8 [0x001000]\n"
                         "Page Specified    : 11 [0x001600]\n"
                         "Page Specified    : 63 [0x007e00]\n" +
                         rule + "\n");
}

TEST(HexInfo, ImagesThatCannotBeUsedExitWithFourAndTheReason) {
    test::TestImage image;
    image.add(0x1000, test::TestImage::pattern(8, 1));
    const std::string noBlock = image.write(32, "noblock.hex");
    const std::string dir = noBlock.substr(0, noBlock.rfind('/') + 1);
    const auto file = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir + name) << text;
        return dir + name;
    };
    struct Case {
        std::string path;
        std::vector<std::string> expected; // the first line's ending, then reason lines
    };
    const std::vector<Case> cases{
        {dir + "missing.hex",
         {"missing.hex cannot be used: The system cannot open the device or file specified. [110]\n",
          "  Cannot open firmware file [" + dir +
              "missing.hex]: The system cannot find the file specified. "
              "[110].\n"}},
        {file("checksum.hex", ":00000001FF\n:0410000001020304F1\n"),
         {"cannot be used: A data integrity checksum error occurred. Data in the file stream is corrupt. "
          "[323]\n",
          "  Line 2 fails its checksum: it states 0xF1, the record needs 0xE2 [323].\n"}},
        {file("linear.hex", ":020000040001F9\n:00000001FF\n"),
         {"cannot be used: The data is invalid. [13]\n", "  Line 1 is an extended address record (type 04)"}},
        {file("text.hex", "hello\n"), {"[13]\n", "  Line 1 does not begin with ':' [13].\n"}},
        {noBlock,
         {"noblock.hex cannot be used: The system cannot read from the specified device. [30]\n",
          "  The image lacks byte 0x000fff of its info block",
          "  End of file after line 2: the flash map cannot "
          "be built [30].\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Outcome r = orvanectl({"hexinfo", c.path});
        EXPECT_EQ(r.code, 4);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("orvanectl hexinfo: " + c.path.substr(0, c.path.rfind('/') + 1), 0), 0U)
            << r.err;
        for (const auto& part : c.expected) {
            EXPECT_TRUE(contains(r.err, part)) << r.err;
        }
    }
}

TEST(HexInfo, UsageErrors) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"hexinfo"}, {"hexinfo", "a.hex", "b.hex"}}) {
        const Outcome r = orvanectl(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(contains(r.err, "orvanectl hexinfo: give one firmware image")) << r.err;
    }
    const Outcome help = orvanectl({"help"});
    EXPECT_TRUE(contains(help.out, "\nhexinfo FILE.hex\n")) << help.out;
    EXPECT_TRUE(
        contains(help.out, "\nflash FILE.hex [--port COM<n>] [--bootloader] [--serial N] [-y|--yes]\n"))
        << help.out;
}

TEST(FlashOptions, ParsesTheCommandLine) {
    std::ostringstream out, err;
    cli::FlashCommand::Options options;
    ASSERT_EQ(cli::FlashCommand::parse({"fw.hex"}, options, out, err), std::nullopt);
    EXPECT_EQ(options.image, "fw.hex");
    EXPECT_EQ(options.port, 0);
    EXPECT_FALSE(options.bootloader);
    EXPECT_FALSE(options.serial.has_value());
    EXPECT_FALSE(options.yes);

    ASSERT_EQ(cli::FlashCommand::parse(
                  {"--port", "com7", "--bootloader", "fw.hex", "--serial", "65535", "-y"}, options, out, err),
              std::nullopt);
    EXPECT_EQ(options.port, 7);
    EXPECT_TRUE(options.bootloader);
    EXPECT_EQ(options.serial, 65535);
    EXPECT_TRUE(options.yes);
    ASSERT_EQ(cli::FlashCommand::parse({"fw.hex", "--port", "12", "--yes"}, options, out, err), std::nullopt);
    EXPECT_EQ(options.port, 12);
    // The options every device command takes, and the ports the others take.
    ASSERT_EQ(cli::FlashCommand::parse({"fw.hex", "--port=COM256", "-v", "--log-level", "debug2"}, options,
                                       out, err),
              std::nullopt);
    EXPECT_EQ(options.port, 256);
    EXPECT_NE(options.common.consoleMask, 0);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(out.str(), "");

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
        {{}, "give the firmware image"},
        {{"a.hex", "b.hex"}, "give one firmware image"},
        {{"fw.hex", "--bootloader"}, "--bootloader needs the port"},
        {{"fw.hex", "--port"}, "option '--port' needs a value"},
        {{"fw.hex", "--port", "COM0"}, "--port takes a port"},
        {{"fw.hex", "--port", "COM257"}, "--port takes a port"},
        {{"fw.hex", "--port", "ttyS0"}, "--port takes a port"},
        {{"fw.hex", "--serial", "65536"}, "--serial takes the device's serial number"},
        {{"fw.hex", "--serial", "-1"}, "--serial takes the device's serial number"},
        // 0 is the mark of an image without a serial number, never a device's.
        {{"fw.hex", "--serial", "0"}, "--serial takes the device's serial number, 1 to 65535"},
        {{"fw.hex", "--force"}, "unknown option '--force'"},
        {{"fw.hex", "--log-level", "loud"}, "--log-level takes one of"},
    };
    for (const auto& [args, complaint] : refused) {
        std::ostringstream why;
        EXPECT_EQ(cli::FlashCommand::parse(args, options, out, why), cli::FlashCommand::kUsage) << complaint;
        EXPECT_TRUE(contains(why.str(), complaint)) << why.str();
        EXPECT_FALSE(contains(why.str(), "carries serial number 0")) << why.str();
    }
    // Through the front end, a usage error exits with 2 before anything is read.
    const Outcome r = orvanectl({"flash", "--bootloader", "missing.hex"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
}
