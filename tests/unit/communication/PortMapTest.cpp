#include "wyr/windows/communication/PortMap.h"

#include "tests/unit/communication/PtyPair.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using wyr::windows::communication::PortMap;
namespace fs = std::filesystem;

namespace {

class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::string pattern = (fs::temp_directory_path() / "portmap-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("no temporary directory");
        }
        path = pattern;
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

} // namespace

TEST(PortMap, NumbersKernelDevicesInFixedBlocks) {
    const std::pair<unsigned, const char*> numbering[] = {
        {1, "/dev/ttyS0"},    {32, "/dev/ttyS31"},   {33, "/dev/ttyUSB0"}, {64, "/dev/ttyUSB31"},
        {65, "/dev/ttyACM0"}, {96, "/dev/ttyACM31"}, {97, "/dev/ttyAMA0"}, {128, "/dev/ttyAMA31"},
    };
    for (const auto& [port, path] : numbering) {
        SCOPED_TRACE(path);
        EXPECT_EQ(PortMap::kernelDevicePath(port), path);
        EXPECT_EQ(PortMap::kernelPortNumber(path), port);
    }
    EXPECT_EQ(PortMap::kernelDevicePath(0), "");
    EXPECT_EQ(PortMap::kernelDevicePath(129), "");
    for (const char* notNumbered : {"/dev/ttyS", "/dev/ttyS32", "/dev/ttyS01", "/dev/ttyUSBx", "/dev/tty0",
                                    "/dev/ttyS-1", "ttyS0", "/dev/ttyACM99999999999"}) {
        SCOPED_TRACE(notNumbered);
        EXPECT_EQ(PortMap::kernelPortNumber(notNumbered), PortMap::kNoPort);
    }
}

TEST(PortMap, ParsesPortNames) {
    const std::pair<const wchar_t*, unsigned> names[] = {
        {L"\\\\.\\COM7", 7}, {L"COM12", 12},      {L"com3", 3},        {L"\\\\.\\COM0", 0},
        {L"COM", 0},         {L"COM7a", 0},       {L"\\\\.\\LPT1", 0}, {L"/dev/ttyS0", 0},
        {L"COM 5", 0},       {L"\\\\?\\COM5", 0},
    };
    for (const auto& [name, port] : names) {
        EXPECT_EQ(PortMap::parsePortName(name), port) << std::string(name, name + std::wcslen(name));
    }
}

TEST(PortMap, ParsesPortsAsUsersTypeThem) {
    const std::pair<const char*, unsigned> arguments[] = {
        {"COM7", 7},   {"7", 7}, {"com256", 256}, {"256", 256}, {"\\\\.\\COM9", 9}, {"257", 0},
        {"COM257", 0}, {"0", 0}, {"COM0", 0},     {"", 0},      {"x7", 0},          {"-7", 0},
    };
    for (const auto& [text, port] : arguments) {
        EXPECT_EQ(PortMap::parsePortArgument(text), port) << text;
    }
}

TEST(PortMap, LinksInThePortDirectoryComeFirst) {
    TemporaryDirectory directory;
    test::PtyPair pty;
    fs::create_symlink(pty.slavePath(), directory.path / "COM1");
    fs::create_symlink("/dev/no-such-port", directory.path / "COM40");
    const PortMap map(directory.path.string());

    EXPECT_EQ(map.devicePathForPort(1), (directory.path / "COM1").string());
    // A link whose target is gone still owns its number.
    EXPECT_EQ(map.devicePathForPort(40), (directory.path / "COM40").string());
    EXPECT_EQ(map.devicePathForPort(2), "/dev/ttyS1");
    EXPECT_EQ(map.devicePathForPort(0), "");

    EXPECT_EQ(map.portForDevicePath((directory.path / "COM1").string()), 1U);
    EXPECT_EQ(map.portForDevicePath(pty.slavePath()), 1U);
    EXPECT_EQ(map.portForDevicePath("/dev/ttyUSB3"), 36U);
    EXPECT_EQ(map.portForDevicePath("/dev/null"), PortMap::kNoPort);
    EXPECT_EQ(PortMap("").devicePathForPort(1), "/dev/ttyS0");
}

TEST(PortMap, TakesItsDirectoryFromTheEnvironment) {
    TemporaryDirectory temporary;
    const std::string own = (temporary.path / ("orvane-" + std::to_string(::getuid()))).string();
    {
        test::ScopedEnvironment explicitDirectory("ORVANE_PORT_DIR", "/somewhere/ports");
        test::ScopedEnvironment runtime("XDG_RUNTIME_DIR", "/run/user/1000");
        EXPECT_EQ(PortMap::fromEnvironment().portDirectory(), "/somewhere/ports");
    }
    {
        test::ScopedEnvironment explicitDirectory("ORVANE_PORT_DIR", nullptr);
        test::ScopedEnvironment runtime("XDG_RUNTIME_DIR", "/run/user/1000");
        EXPECT_EQ(PortMap::fromEnvironment().portDirectory(), "/run/user/1000/orvane/ports");
    }
    {
        test::ScopedEnvironment explicitDirectory("ORVANE_PORT_DIR", nullptr);
        test::ScopedEnvironment runtime("XDG_RUNTIME_DIR", nullptr);
        test::ScopedEnvironment tmp("TMPDIR", temporary.path.c_str());
        // Not there yet, then private, then writable by others.
        EXPECT_EQ(PortMap::fromEnvironment().portDirectory(), "");
        ASSERT_EQ(::mkdir(own.c_str(), 0700), 0);
        EXPECT_EQ(PortMap::fromEnvironment().portDirectory(), own + "/ports");
        ASSERT_EQ(::chmod(own.c_str(), 0777), 0);
        EXPECT_EQ(PortMap::fromEnvironment().portDirectory(), "");
    }
}
