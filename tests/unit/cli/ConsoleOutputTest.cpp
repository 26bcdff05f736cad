// What orvanectl writes besides plain text: colours, progress, time stamps.
#include "cli/ConsoleLog.h"
#include "cli/MonitorCommand.h"
#include "cli/ProgressDisplay.h"
#include "cli/Terminal.h"
#include "cli/Timestamp.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/LogBeacon.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <pty.h>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace {

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : _name(name) {
        if (const char* old = std::getenv(name)) {
            _saved = old;
        }
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
        ::tzset();
    }
    ~ScopedEnv() {
        _saved ? ::setenv(_name, _saved->c_str(), 1) : ::unsetenv(_name);
        ::tzset();
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* _name;
    std::optional<std::string> _saved;
};

// What an error record looks like once it went through a console log on `fd`.
std::string loggedThrough(int writeFd, int readFd) {
    {
        cli::ConsoleLog console(writeFd, 0x0040);
        wyr::windows::logging::log(wyr::windows::logging::LogVerbosity::Error, "Test::colours", L"a failure");
        wyr::windows::logging::LogBeacon::instance().flush();
    }
    char buffer[512];
    const ssize_t n = ::read(readFd, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

TEST(ConsoleOutput, ColoursOnlyOnATerminalThatTakesThem) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    ScopedEnv term("TERM", "xterm");
    {
        ScopedEnv noColour("NO_COLOR", nullptr);
        EXPECT_TRUE(cli::Terminal::colours(slave));
        const std::string coloured = loggedThrough(slave, master);
        EXPECT_NE(coloured.find("\x1b["), std::string::npos) << coloured;
        EXPECT_NE(coloured.find("Test::colours a failure"), std::string::npos) << coloured;
    }
    {
        ScopedEnv noColour("NO_COLOR", ""); // empty: as if not set
        EXPECT_TRUE(cli::Terminal::colours(slave));
    }
    {
        ScopedEnv noColour("NO_COLOR", "1");
        EXPECT_TRUE(cli::Terminal::isTerminal(slave));
        EXPECT_FALSE(cli::Terminal::colours(slave));
        const std::string plain = loggedThrough(slave, master);
        EXPECT_EQ(plain.find('\x1b'), std::string::npos) << plain;
        EXPECT_NE(plain.find("Test::colours a failure"), std::string::npos) << plain;
    }
    {
        ScopedEnv dumb("TERM", "dumb");
        EXPECT_FALSE(cli::Terminal::isTerminal(slave));
        EXPECT_FALSE(cli::Terminal::colours(slave));
        EXPECT_EQ(loggedThrough(slave, master).find('\x1b'), std::string::npos);
    }
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    EXPECT_FALSE(cli::Terminal::colours(pipeFds[1]));
    EXPECT_EQ(loggedThrough(pipeFds[1], pipeFds[0]).find('\x1b'), std::string::npos);
    for (const int fd : {master, slave, pipeFds[0], pipeFds[1]}) {
        ::close(fd);
    }
}

TEST(ConsoleOutput, PlainProgressTakesAboutTenLinesAStep) {
    std::ostringstream out;
    {
        cli::ProgressDisplay progress(out, false);
        progress.begin("Writing Target", 2300);
        for (std::uint32_t i = 1; i <= 2300; ++i) {
            progress.update("Writing flash block " + std::to_string(i) + " of 2300", i);
        }
        // A block written again shows, as the start of a new tenth.
        progress.update("Writing flash block 1 of 2300", 1);
        progress.finish();
    }
    std::istringstream lines(out.str());
    std::vector<std::string> shown;
    for (std::string line; std::getline(lines, line);) {
        shown.push_back(line);
    }
    ASSERT_EQ(shown.size(), 13U) << out.str();
    EXPECT_EQ(shown[0], "Writing Target");
    EXPECT_EQ(shown[1], "Writing flash block 1 of 2300");
    EXPECT_EQ(shown[2], "Writing flash block 230 of 2300");
    EXPECT_EQ(shown[11], "Writing flash block 2300 of 2300");
    EXPECT_EQ(shown[12], "Writing flash block 1 of 2300");
}

TEST(ConsoleOutput, TimeStampsCarryTheirUtcOffset) {
    // 2026-12-10 13:05:09.123 UTC
    const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796907909123LL));
    const std::vector<std::pair<const char*, std::string>> zones{
        {"UTC0", "2026-12-10T13:05:09.123+00:00"},
        {"CET-1", "2026-12-10T14:05:09.123+01:00"},
        {"EST5", "2026-12-10T08:05:09.123-05:00"},
        {"IST-5:30", "2026-12-10T18:35:09.123+05:30"},
    };
    for (const auto& [zone, text] : zones) {
        ScopedEnv tz("TZ", zone);
        EXPECT_EQ(cli::Timestamp::local(when), text) << zone;
    }
    ScopedEnv tz("TZ", "CET-1");
    EXPECT_EQ(cli::MonitorCommand::csvLine(when, 1.5F, -2.25F, 3.0F),
              "2026-12-10T14:05:09.123+01:00,1.500,-2.250,3.000");
}
