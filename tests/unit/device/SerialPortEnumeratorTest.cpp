#include "device/SerialPortEnumerator.h"

#include "tests/unit/support/FakeSerialTree.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/system/SystemError.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using device::SerialPortEntry;
using device::SerialPortEnumerator;
using wyr::windows::communication::PortMap;
namespace fs = std::filesystem;
namespace sys = wyr::windows::system;

namespace {

std::vector<SerialPortEntry> sorted(std::vector<SerialPortEntry> ports) {
    std::sort(ports.begin(), ports.end(),
              [](const auto& a, const auto& b) { return a.portNumber < b.portNumber; });
    return ports;
}

// A machine with one of each kind of tty the kernel shows.
class SerialPortDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string usb = "pci0000:00/0000:00:14.0/usb1";
        tree.usbDevice(usb, "xHCI Host Controller", "Linux");

        // USB serial converter: the tty's device is the converter's port, two
        // levels below the USB device.
        tree.usbDevice(usb + "/1-1", "FT232R USB UART", "FTDI");
        tree.device(usb + "/1-1/1-1:1.0", "ftdi_sio");
        tree.device(usb + "/1-1/1-1:1.0/ttyUSB0", "ftdi_sio", "usb-serial");
        tree.tty("ttyUSB0", usb + "/1-1/1-1:1.0/ttyUSB0");

        // CDC-ACM device: the tty's device is the USB interface. Device strings are
        // the device's own text; a tab in one must not split a listing line.
        tree.usbDevice(usb + "/1-2", "Orvane\tX1 ", "");
        tree.device(usb + "/1-2/1-2:1.0", "cdc_acm");
        tree.tty("ttyACM0", usb + "/1-2/1-2:1.0");

        // Legacy ports: one with a UART (reached through the serial core's port
        // devices), one placeholder, and one whose type must be asked of the node.
        tree.device("pnp0/00:05", "serial", "pnp");
        tree.device("pnp0/00:05/00:05:0", "ctrl", "serial-base");
        tree.device("pnp0/00:05/00:05:0/00:05:0.0", "port", "serial-base");
        tree.tty("ttyS0", "pnp0/00:05/00:05:0/00:05:0.0");
        tree.attribute("pnp0/00:05/00:05:0/00:05:0.0/tty/ttyS0/type", "4\n");
        tree.device("platform/serial8250", "serial8250", "platform");
        tree.tty("ttyS1", "platform/serial8250");
        tree.attribute("platform/serial8250/tty/ttyS1/type", "0\n");
        tree.tty("ttyS2", "platform/serial8250");

        // Not serial ports: virtual terminals and the console.
        tree.tty("tty0", "");
        tree.tty("console", "");
        tree.tty("ptmx", "");

        // Published ports: a live link, a dangling one, and spellings PortMap
        // would never look up.
        std::ofstream(tree.root / "pts-3") << "";
        tree.publish("COM7", tree.root / "pts-3");
        tree.publish("COM8", tree.root / "gone");
        tree.publish("com9", tree.root / "pts-3");
        tree.publish("COM010", tree.root / "pts-3");
        tree.publish("COM", tree.root / "pts-3");
    }

    std::vector<SerialPortEntry> enumerate() {
        std::vector<SerialPortEntry> ports{{99, L"left over"}};
        EXPECT_TRUE(tree.enumerator().enumeratePorts(ports));
        return ports;
    }

    test::FakeSerialTree tree;
};

} // namespace

TEST_F(SerialPortDiscovery, ListsExactlyThePresentPorts) {
    const auto ports = enumerate();
    const std::vector<SerialPortEntry> expected{
        {1, L"serial"},
        {7, L"Linked port (" + (tree.root / "pts-3").wstring() + L")"},
        {33, L"FT232R USB UART (FTDI)"},
        {65, L"Orvane X1"},
    };
    EXPECT_EQ(sorted(ports), expected);
    // Published ports come first; nothing is sorted beyond that.
    ASSERT_FALSE(ports.empty());
    EXPECT_EQ(ports.front().portNumber, 7);
}

TEST_F(SerialPortDiscovery, UnreadableMetadataNeverHidesAPort) {
    const std::string usb = "pci0000:00/0000:00:14.0/usb1";
    // USB strings that cannot be read: the driver names the port.
    tree.usbDevice(usb + "/1-3", "", "");
    fs::create_directories(tree.sys / "devices" / usb / "1-3" / "product");
    fs::create_symlink(tree.root / "nowhere", tree.sys / "devices" / usb / "1-3" / "manufacturer");
    tree.device(usb + "/1-3/1-3:1.0/ttyUSB1", "pl2303", "usb-serial");
    tree.tty("ttyUSB1", usb + "/1-3/1-3:1.0/ttyUSB1");
    // Nothing readable at all: no strings, a driver entry that is no link.
    tree.usbDevice(usb + "/1-4", "", "");
    tree.attribute(usb + "/1-4/1-4:1.0/driver", "cdc_acm");
    tree.tty("ttyACM1", usb + "/1-4/1-4:1.0");
    // A device entry that leads nowhere.
    const fs::path acm2 = tree.tty("ttyACM2", usb + "/1-9/1-9:1.0");
    fs::remove(acm2 / "device");
    fs::create_symlink(tree.root / "nowhere", acm2 / "device");
    // Unreadable UART type with a node that is no tty: no proof of a UART.
    tree.tty("ttyS3", "platform/serial8250");
    fs::create_directories(tree.sys / "devices" / "platform" / "serial8250" / "tty" / "ttyS3" / "type");

    const auto ports = sorted(enumerate());
    const auto find = [&](int port) -> const SerialPortEntry* {
        const auto it =
            std::find_if(ports.begin(), ports.end(), [&](const auto& p) { return p.portNumber == port; });
        return it == ports.end() ? nullptr : &*it;
    };
    ASSERT_NE(find(34), nullptr);
    EXPECT_EQ(find(34)->description, L"pl2303");
    ASSERT_NE(find(66), nullptr);
    EXPECT_EQ(find(66)->description, L"");
    ASSERT_NE(find(67), nullptr);
    EXPECT_EQ(find(67)->description, L"");
    EXPECT_EQ(find(4), nullptr);
}

TEST_F(SerialPortDiscovery, SkipsDevicesNoComNumberReaches) {
    const std::string usb = "pci0000:00/0000:00:14.0/usb1";
    // Outside the numbering.
    tree.device(usb + "/1-5/1-5:1.0/ttyUSB32", "ftdi_sio", "usb-serial");
    tree.tty("ttyUSB32", usb + "/1-5/1-5:1.0/ttyUSB32");
    tree.device("bluetooth/rfcomm", "rfcomm", "bluetooth");
    tree.tty("rfcomm0", "bluetooth/rfcomm");
    // Seen in sysfs but without a node (the host's device, seen from a container).
    tree.device(usb + "/1-6/1-6:1.0", "cdc_acm");
    tree.tty("ttyACM5", usb + "/1-6/1-6:1.0", false);
    // A link takes the number: COM33 and COM65 open the links, not the devices.
    tree.publish("COM33", tree.root / "pts-3");
    tree.publish("COM65", tree.root / "gone");

    const auto ports = sorted(enumerate());
    const std::vector<SerialPortEntry> expected{
        {1, L"serial"},
        {7, L"Linked port (" + (tree.root / "pts-3").wstring() + L")"},
        {33, L"Linked port (" + (tree.root / "pts-3").wstring() + L")"},
    };
    EXPECT_EQ(ports, expected);

    const auto enumerator = tree.enumerator();
    EXPECT_EQ(enumerator.devicePathForPort(33), (tree.ports / "COM33").string());
    EXPECT_EQ(enumerator.devicePathForPort(1), (tree.dev / "ttyS0").string());
    EXPECT_EQ(enumerator.devicePathForPort(0), "");
    EXPECT_EQ(enumerator.devicePathForPort(5000), "");
}

TEST(SerialPortDiscoveryOutcome, AnEmptyMachineListsNothingAndSucceeds) {
    test::FakeSerialTree tree;
    fs::remove_all(tree.ports); // nobody published anything
    std::vector<SerialPortEntry> ports{{3, L"stale"}};
    EXPECT_TRUE(tree.enumerator().enumeratePorts(ports));
    EXPECT_TRUE(ports.empty());
}

TEST(SerialPortDiscoveryOutcome, FailsWithNothingListedWhenTheDeviceTreeIsMissing) {
    test::LogCapture logs;
    test::FakeSerialTree tree;
    std::ofstream(tree.root / "pts-0") << "";
    tree.publish("COM7", tree.root / "pts-0");

    struct Case {
        const char* what;
        void (*breakTree)(const test::FakeSerialTree&);
        sys::ErrorCode expected;
    };
    const Case cases[] = {
        {"no sysfs", [](const test::FakeSerialTree& t) { fs::remove_all(t.sys); },
         sys::ERROR_CALL_NOT_IMPLEMENTED},
        {"no tty class",
         [](const test::FakeSerialTree& t) {
             fs::create_directories(t.sys / "class");
             fs::remove_all(t.sys / "class" / "tty");
         },
         sys::ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.breakTree(tree);
        std::vector<SerialPortEntry> ports{{3, L"stale"}};
        sys::setLastError(0);
        EXPECT_FALSE(tree.enumerator().enumeratePorts(ports));
        EXPECT_EQ(sys::getLastError(), c.expected);
        EXPECT_TRUE(ports.empty());
    }
    EXPECT_EQ(logs.matching(L"Device tree <").size(), 1u);
    EXPECT_EQ(logs.matching(L"opendir(").size(), 1u);
    EXPECT_EQ(logs.matching(L"The system cannot find the file specified.").size(), 1u);
}

TEST(SerialPortDiscoveryOutcome, ReadsTheRunningSystemWithoutFailing) {
    // Whatever this machine has: the call runs, and every number it lists opens a
    // path that exists.
    const SerialPortEnumerator enumerator(PortMap(""));
    std::vector<SerialPortEntry> ports;
    if (!fs::is_directory("/sys/class/tty")) {
        GTEST_SKIP() << "no sysfs here";
    }
    ASSERT_TRUE(enumerator.enumeratePorts(ports));
    for (const auto& port : ports) {
        EXPECT_TRUE(fs::exists(enumerator.devicePathForPort(port.portNumber))) << port.portNumber;
    }
}
