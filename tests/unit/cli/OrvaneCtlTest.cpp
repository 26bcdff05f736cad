#include "cli/OrvaneCtl.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome run(std::vector<std::string> args) {
    std::ostringstream out, err;
    cli::OrvaneCtl ctl(out, err);
    const int code = ctl.run(args);
    return {code, out.str(), err.str()};
}

} // namespace

TEST(OrvaneCtl, ComposesSentencesInHex) {
    EXPECT_EQ(run({"compose", "SET_GAIN", "5"}).out, "02 34 7C 30 30 30 35 03 34 44 04 0D\n");
    EXPECT_EQ(run({"compose", "BOOTLOAD"}).out, "02 5A 03 35 41 04 0D\n");
}

TEST(OrvaneCtl, RefusesBadArgumentsWithAClearMessage) {
    const std::vector<std::vector<std::string>> bad{
        {},
        {"nonsense"},
        {"compose"},
        {"compose", "SET_WHATEVER"},
        {"compose", "SET_GAIN"},
        {"compose", "SET_GAIN", "-1"},
        {"compose", "SET_GAIN", "12x"},
        {"compose", "SET_GAIN", "99999999999"},
        {"compose", "RESET", "1"},
        {"error"},
        {"error", "abc"},
    };
    for (const auto& args : bad) {
        const Outcome r = run(args);
        EXPECT_EQ(r.code, 2) << ::testing::PrintToString(args);
        EXPECT_FALSE(r.err.empty()) << ::testing::PrintToString(args);
        EXPECT_TRUE(r.out.empty()) << ::testing::PrintToString(args);
    }
}

TEST(OrvaneCtl, ExplainsResultCodes) {
    const Outcome known = run({"error", "1460"});
    EXPECT_EQ(known.code, 0);
    EXPECT_EQ(known.out, "1460: This operation returned because the timeout period expired.\n");
    EXPECT_EQ(run({"error", "4242"}).code, 1);
    EXPECT_EQ(run({"help"}).code, 0);
}
