#include "bootloader/BootloaderPort.h"

#include "bootloader/BootloaderImpl.h"
#include "tests/unit/communication/PtyPair.h"
#include "tests/unit/support/LogCapture.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

using bootloader::BootloaderImpl;
using bootloader::BootloaderPort;
using wyr::windows::communication::PortHandle;

namespace {

constexpr int kInformation = 0x10;
constexpr int kError = 0x40;

bool logged(test::LogCapture& capture, int verbosity, const std::wstring& message) {
    for (const auto& r : capture.collect()) {
        if (r.verbosity == verbosity && r.message == message) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(BootloaderPort, OpensAPortByItsNumberAndHandsItOver) {
    test::LogCapture capture;
    capture.collect();
    capture.records.clear();
    test::PtyPair pty;
    std::string dir = (std::filesystem::temp_directory_path() / "ports-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    std::filesystem::create_symlink(pty.slavePath(), std::filesystem::path(dir) / "COM7");
    test::ScopedEnvironment portDir("ORVANE_PORT_DIR", dir.c_str());

    PortHandle port;
    ASSERT_EQ(BootloaderPort::open(7, {}, port), 0U);
    ASSERT_TRUE(port && port->isOpen());
    EXPECT_TRUE(logged(capture, kInformation, L"Opening port [COM7]"));
    EXPECT_TRUE(logged(capture, kInformation, L"Configuring port [COM7]"));

    {
        BootloaderImpl impl;
        ASSERT_EQ(impl.initialize(port, bootloader::BootloaderEntry::FoundInBootloader), 0U);
        EXPECT_TRUE(impl.serial().isOpen());
        impl.finalize();
        EXPECT_FALSE(port->isOpen());
    }

    PortHandle missing;
    EXPECT_EQ(BootloaderPort::open(8, {}, missing), 2U);
    EXPECT_FALSE(missing);
    EXPECT_TRUE(logged(capture, kError, L"Failed to open port [COM8]."));

    std::filesystem::remove_all(dir);
    capture.collect();
}
