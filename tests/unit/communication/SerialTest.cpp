#include "wyr/windows/communication/Serial.h"

#include "tests/unit/communication/PtyPair.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/communication/PortMap.h"
#include "wyr/windows/system/Wait.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace wyr::windows::communication;
using wyr::windows::system::Event;
using wyr::windows::system::INFINITE;

namespace {

struct Operation {
    const char* name;
    std::function<std::uint32_t(Serial&)> call;
};

std::vector<Operation> everyOperation() {
    return {
        {"initialize", [](Serial& s) { return s.initialize(); }},
        {"configure", [](Serial& s) { return s.configure(9600, Parity::None, 8, ONESTOPBIT); }},
        {"setFlowControl", [](Serial& s) { return s.setFlowControl(FlowControl::None); }},
        {"setCommMask", [](Serial& s) { return s.setCommMask(EV_RXCHAR); }},
        {"setEventChar", [](Serial& s) { return s.setEventChar('\x04'); }},
        {"setBlockingMode", [](Serial& s) { return s.setBlockingMode(BlockingMode::Blocking); }},
        {"purgeBuffers", [](Serial& s) { return s.purgeBuffers(); }},
        {"waitCommEvent",
         [](Serial& s) {
             std::uint32_t mask = 0;
             return s.waitCommEvent(mask, nullptr, 0);
         }},
        {"readPort",
         [](Serial& s) {
             test::Bytes bytes;
             return s.readPort(bytes, nullptr, 0);
         }},
        {"writePort",
         [](Serial& s) {
             const std::uint8_t byte = 1;
             return s.writePort(&byte, 1, 0, nullptr);
         }},
    };
}

std::filesystem::path makeTemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "serial-test-XXXXXX").string();
    return ::mkdtemp(pattern.data()) != nullptr ? std::filesystem::path(pattern) : std::filesystem::path();
}

} // namespace

TEST(Serial, EveryOperationOnAClosedObjectReportsInvalidHandle) {
    Serial fresh;
    EXPECT_FALSE(fresh.isOpen());
    EXPECT_EQ(fresh.writeIdleEvent(), nullptr);

    test::PtyPair pty;
    Serial closed;
    ASSERT_EQ(closed.open(pty.widePath()), 0U);
    EXPECT_EQ(closed.close(), 0U);
    EXPECT_EQ(closed.close(), 0U) << "close twice is harmless";

    for (Serial* serial : {&fresh, &closed}) {
        for (const auto& operation : everyOperation()) {
            SCOPED_TRACE(operation.name);
            EXPECT_EQ(operation.call(*serial), 6U);
        }
    }
}

TEST(Serial, OpenTwiceIsRefusedAndCloseLetsThePortBeOpenedAgain) {
    test::PtyPair pty;
    Serial serial;
    ASSERT_EQ(serial.open(pty.widePath()), 0U);
    EXPECT_TRUE(serial.overlapped());
    ASSERT_NE(serial.writeIdleEvent(), nullptr);
    EXPECT_FALSE(serial.writeIdleEvent()->isSignalled());

    EXPECT_EQ(serial.open(pty.widePath()), 1247U);
    EXPECT_TRUE(serial.isOpen()) << "the second open changes nothing";

    serial.close();
    EXPECT_EQ(serial.writeIdleEvent(), nullptr);
    // The exclusive claim went with the close.
    ASSERT_EQ(serial.open(pty.widePath()), 0U);
    Serial other;
    serial.close();
    EXPECT_EQ(other.open(pty.widePath()), 0U);
}

TEST(Serial, APortHeldByAnotherSerialIsASharingViolation) {
    test::PtyPair pty;
    Serial first;
    Serial second;
    ASSERT_EQ(first.open(pty.widePath()), 0U);
    EXPECT_EQ(second.open(pty.widePath()), 32U);
    EXPECT_FALSE(second.isOpen());
    EXPECT_TRUE(first.isOpen());
}

TEST(Serial, OpenFailuresLeaveTheObjectClosed) {
    test::LogCapture capture;
    Serial serial;
    EXPECT_EQ(serial.open(L"/dev/no-such-serial-port"), 2U);
    EXPECT_FALSE(serial.isOpen());
    EXPECT_EQ(serial.writeIdleEvent(), nullptr);
    // Not a terminal.
    EXPECT_EQ(serial.open(L"/dev/null"), 1U);
    EXPECT_FALSE(serial.isOpen());
    EXPECT_EQ(serial.open(L""), 2U);
    EXPECT_TRUE(capture.matching(L"dialout").empty());
}

TEST(Serial, PermissionDeniedTellsTheUserAboutTheDialoutGroup) {
    // Write access to a read-only sysfs attribute is refused even to root.
    const std::wstring path = L"/sys/devices/system/cpu/online";
    if (::access("/sys/devices/system/cpu/online", R_OK) != 0) {
        GTEST_SKIP() << "no sysfs";
    }
    test::LogCapture capture;
    Serial serial;
    EXPECT_EQ(serial.open(path), 5U);
    EXPECT_FALSE(serial.isOpen());
    const auto hints = capture.matching(L"'dialout' group");
    ASSERT_EQ(hints.size(), 1U);
    EXPECT_EQ(hints[0].verbosity, 0x40);
    EXPECT_EQ(hints[0].context, L"wyr::windows::communication::Serial::open");
    EXPECT_NE(hints[0].message.find(path), std::wstring::npos);
}

TEST(Serial, OpensAPortNameThroughThePortDirectory) {
    const auto directory = makeTemporaryDirectory();
    ASSERT_FALSE(directory.empty());
    test::ScopedEnvironment portDirectory("ORVANE_PORT_DIR", directory.c_str());
    test::PtyPair pty;
    std::filesystem::create_symlink(pty.slavePath(), directory / "COM7");
    std::filesystem::create_symlink("/dev/no-such-serial-port", directory / "COM8");

    Serial serial;
    ASSERT_EQ(serial.open(L"\\\\.\\COM7"), 0U);
    pty.send("x");
    ASSERT_TRUE(test::waitForQueued(serial, 1));
    // A link whose port has gone does not fall back to another device.
    Serial gone;
    EXPECT_EQ(gone.open(L"\\\\.\\COM8"), 2U);
    // A number without any device.
    EXPECT_EQ(gone.open(L"\\\\.\\COM500"), 2U);
    std::filesystem::remove_all(directory);
}

TEST(Serial, AnOpenPortChangesOwnerWithWhatItHasReceived) {
    test::PtyPair pty;
    Serial giver;
    ASSERT_EQ(giver.open(pty.widePath()), 0U);
    ASSERT_EQ(giver.setEventChar('\x04'), 0U);
    pty.send("hello\x04tail");
    std::uint32_t mask = 0;
    // The wait takes the bytes into the port's receive buffer to look for the flag.
    ASSERT_EQ(giver.waitCommEvent(mask, nullptr, 10000), 0U);
    ASSERT_TRUE(mask & EV_RXFLAG);

    Serial taker;
    taker.setHandle(giver.detachHandle());
    taker.setOverlapped(true);
    ASSERT_EQ(taker.initialize(), 0U);
    giver.close();
    ASSERT_TRUE(taker.isOpen()) << "the giver no longer closes the port";

    ASSERT_TRUE(test::waitForQueued(taker, 10));
    test::Bytes bytes;
    ASSERT_EQ(taker.readPort(bytes, nullptr, INFINITE), 0U);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "hello\x04tail");
    DCB dcb;
    ASSERT_EQ(taker.handle()->getCommState(dcb), 0U);
    EXPECT_EQ(dcb.EvtChar, '\x04');

    taker.close();
    EXPECT_FALSE(taker.isOpen());
}
