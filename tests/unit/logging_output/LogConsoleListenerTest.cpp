#include "wyr/windows/logging/output/LogConsoleListener.h"

#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/logging/output/ConsoleBackground.h"
#include "wyr/windows/logging/output/ConsoleForeground.h"
#include "wyr/windows/logging/output/ConsoleIntensity.h"
#include "wyr/windows/system/Descriptor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <termios.h>
#include <unistd.h>

using wyr::windows::logging::ConsoleBackground;
using wyr::windows::logging::ConsoleForeground;
using wyr::windows::logging::ConsoleIntensity;
using wyr::windows::logging::LogBeacon;
using wyr::windows::logging::LogConsoleListener;
using wyr::windows::logging::LogVerbosity;
namespace sys = wyr::windows::system;

namespace {

template <typename E> std::vector<std::pair<int, std::wstring>> entries() {
    std::vector<std::pair<int, std::wstring>> result;
    for (const auto& [value, e] : E::registry()) {
        result.emplace_back(value, e->name());
    }
    return result;
}

// Points standard output at a pseudo-terminal for as long as it lives; the
// listener keeps its own copy of the descriptor.
class TerminalOnStdout {
public:
    TerminalOnStdout() {
        int master = -1;
        int slave = -1;
        termios raw{};
        ::cfmakeraw(&raw);
        if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
            return;
        }
        _master.reset(master);
        _slave.reset(slave);
        std::fflush(stdout);
        _saved.reset(::dup(STDOUT_FILENO));
        ::dup2(slave, STDOUT_FILENO);
    }
    ~TerminalOnStdout() { restore(); }
    void restore() {
        if (_saved) {
            std::fflush(stdout);
            ::dup2(_saved.get(), STDOUT_FILENO);
            _saved.reset();
        }
    }
    bool valid() const { return _master.valid(); }

    // Everything written so far.
    std::string read() {
        std::string out;
        char buffer[4096];
        pollfd p{_master.get(), POLLIN, 0};
        while (::poll(&p, 1, 200) > 0) {
            const ssize_t n = ::read(_master.get(), buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

private:
    sys::Descriptor _master;
    sys::Descriptor _slave;
    sys::Descriptor _saved;
};

} // namespace

TEST(ConsoleColours, EnumerationsHoldTheAttributeBits) {
    EXPECT_EQ(entries<ConsoleForeground>(), (std::vector<std::pair<int, std::wstring>>{{0, L"FG Black"},
                                                                                       {1, L"FG Blue"},
                                                                                       {2, L"FG Green"},
                                                                                       {3, L"FG Cyan"},
                                                                                       {4, L"FG Red"},
                                                                                       {5, L"FG Purple"},
                                                                                       {6, L"FG Yellow"},
                                                                                       {7, L"FG White"}}));
    EXPECT_EQ(entries<ConsoleBackground>(), (std::vector<std::pair<int, std::wstring>>{{0, L"BG Black"},
                                                                                       {16, L"BG Blue"},
                                                                                       {32, L"BG Green"},
                                                                                       {48, L"BG Cyan"},
                                                                                       {64, L"BG Red"},
                                                                                       {80, L"BG Purple"},
                                                                                       {96, L"BG Yellow"},
                                                                                       {112, L"BG White"}}));
    EXPECT_EQ(entries<ConsoleIntensity>(), (std::vector<std::pair<int, std::wstring>>{
                                               {0, L"None"}, {8, L"Foreground"}, {128, L"Background"}}));
}

TEST(ConsoleColours, VerbositiesMapToAttributesAndAnsiSequences) {
    struct Case {
        const LogVerbosity* verbosity;
        std::uint16_t attribute;
        std::string escape;
    };
    const std::vector<Case> cases{
        {&LogVerbosity::DebugLevel1, 0x01, "\x1b[0;34;40m"},
        {&LogVerbosity::DebugLevel2, 0x09, "\x1b[0;94;40m"},
        {&LogVerbosity::DebugLevel3, 0x0B, "\x1b[0;96;40m"},
        {&LogVerbosity::DebugLevel4, 0x0A, "\x1b[0;92;40m"},
        {&LogVerbosity::Information, 0x07, "\x1b[0;37;40m"},
        {&LogVerbosity::Warning, 0x0E, "\x1b[0;93;40m"},
        {&LogVerbosity::Error, 0x0C, "\x1b[0;91;40m"},
        {&LogVerbosity::UIInfo, 0x08, "\x1b[0;90;40m"},
        {&LogVerbosity::AppSpecific1, 0x08, "\x1b[0;90;40m"},
        {&LogVerbosity::AppSpecific4, 0x08, "\x1b[0;90;40m"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.verbosity->name().begin(), c.verbosity->name().end()));
        EXPECT_EQ(LogConsoleListener::attributeFor(*c.verbosity), c.attribute);
        EXPECT_EQ(LogConsoleListener::escapeFor(c.attribute), c.escape);
    }
    // Backgrounds and their intensity.
    EXPECT_EQ(
        LogConsoleListener::escapeFor(ConsoleBackground::Blue.bits() | ConsoleForeground::Yellow.bits()),
        "\x1b[0;33;44m");
    EXPECT_EQ(
        LogConsoleListener::escapeFor(ConsoleBackground::White.bits() | ConsoleIntensity::Background.bits()),
        "\x1b[0;30;107m");
}

TEST(LogConsoleListener, WritesColouredLinesToTheTerminal) {
    LogBeacon::instance().flush();
    TerminalOnStdout terminal;
    ASSERT_TRUE(terminal.valid());
    LogConsoleListener listener;
    listener.setFilter(LogVerbosity::DebugLevel3.mask() | LogVerbosity::Error.mask() |
                       LogVerbosity::Information.mask());
    ASSERT_TRUE(listener.open());
    terminal.restore();
    EXPECT_TRUE(listener.isConnected());
    EXPECT_TRUE(listener.open()); // already connected counts as success

    wyr::windows::logging::log(LogVerbosity::DebugLevel3, "Console::test", L"received %d", 3);
    wyr::windows::logging::log(LogVerbosity::Error, "Console::test", L"failed");
    wyr::windows::logging::log(LogVerbosity::Information, "Console::test", L"info");
    wyr::windows::logging::log(LogVerbosity::Warning, "Console::test", L"filtered out");
    LogBeacon::instance().flush();
    const std::string out = terminal.read();

    EXPECT_NE(out.find("\x1b[22;0t\x1b]0;Orvane Console\x07"), std::string::npos);
    EXPECT_NE(out.find("\x1b[0;96;40m"), std::string::npos);
    const std::regex line(
        R"(\x1b\[0;96;40m\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} Console::test received 3\x1b\[0m\n)");
    EXPECT_TRUE(std::regex_search(out, line)) << out;
    EXPECT_NE(out.find("\x1b[0;91;40m"), std::string::npos);
    EXPECT_NE(out.find(" Console::test failed\x1b[0m\n"), std::string::npos);
    EXPECT_NE(out.find("\x1b[0;37;40m"), std::string::npos);
    EXPECT_NE(out.find(" Console::test info\x1b[0m\n"), std::string::npos);
    EXPECT_EQ(out.find("filtered out"), std::string::npos);

    listener.close();
    EXPECT_FALSE(listener.isConnected());
    wyr::windows::logging::log(LogVerbosity::Error, "Console::test", L"after close");
    LogBeacon::instance().flush();
    const std::string closing = terminal.read();
    EXPECT_EQ(closing.find("after close"), std::string::npos);
    EXPECT_NE(closing.find("\x1b[23;0t"), std::string::npos);
}

TEST(LogConsoleListener, FormatsTheConsoleLine) {
    LogConsoleListener listener;
    EXPECT_EQ(listener.formatLine(LogVerbosity::Error, sys::SYSTEMTIME{2024, 1, 3, 31, 14, 25, 3, 7}, L"A::b",
                                  L"m"),
              L"01/31/2024 14:25:03.007 A::b m\n");
}

TEST(LogConsoleListener, OpenFailsWithoutAnyTerminal) {
    const int tty = ::open("/dev/tty", O_WRONLY | O_NOCTTY);
    if (tty >= 0) {
        ::close(tty);
        GTEST_SKIP() << "this process has a controlling terminal";
    }
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    sys::Descriptor readEnd(pipeFds[0]);
    sys::Descriptor writeEnd(pipeFds[1]);
    std::fflush(stdout);
    std::fflush(stderr);
    sys::Descriptor savedOut(::dup(STDOUT_FILENO));
    sys::Descriptor savedErr(::dup(STDERR_FILENO));
    ::dup2(writeEnd.get(), STDOUT_FILENO);
    ::dup2(writeEnd.get(), STDERR_FILENO);

    LogConsoleListener listener;
    const bool opened = listener.open();
    ::dup2(savedOut.get(), STDOUT_FILENO);
    ::dup2(savedErr.get(), STDERR_FILENO);

    EXPECT_FALSE(opened);
    EXPECT_FALSE(listener.isConnected());
}

TEST(LogConsoleListener, WritesPlainLinesToADescriptorThatIsNoTerminal) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    sys::Descriptor readEnd(pipeFds[0]);
    sys::Descriptor writeEnd(pipeFds[1]);
    LogBeacon::instance();
    {
        LogConsoleListener listener;
        listener.setFilter(0x0040);
        ASSERT_TRUE(listener.open(writeEnd.get()));
        wyr::windows::logging::log(LogVerbosity::Error, "Cli::run", L"port [%d] lost", 7);
        wyr::windows::logging::log(LogVerbosity::Information, "Cli::run", L"filtered");
        LogBeacon::instance().flush();
    }
    writeEnd.reset();
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_TRUE(std::regex_match(
        text, std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} Cli::run port \[7\] lost\n)")))
        << text;
}
