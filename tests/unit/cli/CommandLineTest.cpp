#include "cli/CommandLine.h"

#include "cli/OrvaneCtl.h"

#include <gtest/gtest.h>
#include <sstream>

using cli::CommandLine;

TEST(CommandLine, OnePortSyntax) {
    const std::vector<std::pair<std::string, std::optional<std::int32_t>>> cases{
        {"COM7", 7},  {"com7", 7},    {"7", 7},   {"\\\\.\\COM7", 7}, {"COM256", 256},
        {"256", 256}, {"COM257", {}}, {"0", {}},  {"COM0", {}},       {"COM", {}},
        {"", {}},     {"7x", {}},     {"-7", {}}, {"ttyS0", {}},      {"COM07", {}},
    };
    for (const auto& [text, port] : cases) {
        EXPECT_EQ(CommandLine::parsePort(text), port) << text;
    }
}

TEST(CommandLine, LongOptionsTakeTheirValueEitherWayAndOperandsGoAnywhere) {
    CommandLine line({{"port", 0, true}, {"yes", 'y', false}, {"", 'v', false}, {"help", 'h', false}});
    ASSERT_TRUE(line.parse({"a.hex", "--port=COM7", "-yv", "b"}));
    EXPECT_EQ(line.value("port"), "COM7");
    EXPECT_TRUE(line.has("yes"));
    EXPECT_TRUE(line.has("v"));
    EXPECT_FALSE(line.has("help"));
    EXPECT_EQ(line.operands(), (std::vector<std::string>{"a.hex", "b"}));

    ASSERT_TRUE(line.parse({"--port", "COM7", "--port", "8", "--", "--yes"}));
    EXPECT_EQ(line.value("port"), "8") << "the last one counts";
    EXPECT_FALSE(line.has("yes"));
    EXPECT_EQ(line.operands(), (std::vector<std::string>{"--yes"}));

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
        {{"--port"}, "option '--port' needs a value"},
        {{"--colour"}, "unknown option '--colour'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--yes=1"}, "unknown option '--yes=1'"},
    };
    for (const auto& [args, error] : refused) {
        EXPECT_FALSE(line.parse(args));
        EXPECT_EQ(line.error(), error);
    }
}

TEST(CommandLine, NumbersAreDecimalAndWithinTheirRange) {
    EXPECT_EQ(CommandLine::number<std::uint16_t>("65535", 1, 65535), 65535);
    EXPECT_EQ(CommandLine::number<std::uint16_t>("0", 1, 65535), std::nullopt);
    EXPECT_EQ(CommandLine::number<std::uint16_t>("65536", 1, 65535), std::nullopt);
    EXPECT_EQ(CommandLine::number<std::uint32_t>("-1", 0, 10), std::nullopt);
    EXPECT_EQ(CommandLine::number<std::uint32_t>("1e3", 0, 5000), std::nullopt);
    EXPECT_EQ(CommandLine::number<std::uint32_t>(" 5", 0, 10), std::nullopt);
}

namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome orvanectl(std::vector<std::string> args) {
    std::ostringstream out, err;
    cli::OrvaneCtl ctl(out, err);
    const int code = ctl.run(args);
    return {code, out.str(), err.str()};
}

} // namespace

TEST(OrvaneCtlHelp, EveryCommandAnswersHelp) {
    for (const std::string command : {"ports", "scan", "monitor", "flash", "hexinfo", "compose", "error"}) {
        for (const std::string option : {"--help", "-h"}) {
            const Outcome r = orvanectl({command, option});
            EXPECT_EQ(r.code, 0) << command << " " << option << ": " << r.err;
            EXPECT_EQ(r.out.rfind("Usage: orvanectl " + command, 0), 0U) << r.out;
            EXPECT_EQ(r.err, "");
        }
        EXPECT_EQ(orvanectl({"help", command}).out, orvanectl({command, "--help"}).out);
    }
    // The device commands list the options they share.
    EXPECT_NE(orvanectl({"flash", "--help"}).out.find("--log-level LEVEL"), std::string::npos);
    EXPECT_EQ(orvanectl({"hexinfo", "--help"}).out.find("--log-level"), std::string::npos);

    for (const std::string version : {"--version", "-V"}) {
        const Outcome r = orvanectl({version});
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out.rfind("orvanectl ", 0), 0U) << r.out;
    }
}
