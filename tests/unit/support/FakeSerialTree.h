#pragma once

#include "device/SerialPortEnumerator.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unistd.h>

namespace test {

// A kernel device tree, a /dev and a port directory in a temporary directory, laid
// out as the kernel lays out serial devices, for port discovery to run against.
class FakeSerialTree {
public:
    FakeSerialTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "serial-tree-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("no temporary directory");
        }
        root = pattern;
        sys = root / "sys";
        dev = root / "dev";
        ports = root / "ports";
        for (const auto& dir : {sys / "class" / "tty", sys / "devices", dev, ports}) {
            std::filesystem::create_directories(dir);
        }
    }
    ~FakeSerialTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    FakeSerialTree(const FakeSerialTree&) = delete;
    FakeSerialTree& operator=(const FakeSerialTree&) = delete;

    // A file below sys/devices (the parents are created).
    void attribute(const std::string& path, const std::string& text) const {
        const auto file = sys / "devices" / path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }

    // A device directory below sys/devices, optionally bound to a driver of a bus.
    void device(const std::string& path, const std::string& driver = {},
                const std::string& bus = "usb") const {
        const auto dir = sys / "devices" / path;
        std::filesystem::create_directories(dir);
        if (!driver.empty()) {
            const auto driverDir = sys / "bus" / bus / "drivers" / driver;
            std::filesystem::create_directories(driverDir);
            std::filesystem::create_symlink(driverDir, dir / "driver");
        }
        const auto subsystem = sys / "bus" / bus;
        std::filesystem::create_directories(subsystem);
        std::filesystem::create_symlink(subsystem, dir / "subsystem");
    }

    // A USB device with its strings ("" leaves one out).
    void usbDevice(const std::string& path, const std::string& product,
                   const std::string& manufacturer) const {
        device(path, "usb");
        attribute(path + "/idVendor", "0403\n");
        if (!product.empty()) {
            attribute(path + "/product", product + "\n");
        }
        if (!manufacturer.empty()) {
            attribute(path + "/manufacturer", manufacturer + "\n");
        }
    }

    // A tty class entry. With a device path its node sits below that device and
    // links back to it; without, it is a virtual terminal. `node` puts it in /dev.
    std::filesystem::path tty(const std::string& name, const std::string& devicePath,
                              bool node = true) const {
        const auto dir = devicePath.empty() ? sys / "devices" / "virtual" / "tty" / name
                                            : sys / "devices" / devicePath / "tty" / name;
        std::filesystem::create_directories(dir);
        if (!devicePath.empty()) {
            std::filesystem::create_symlink(sys / "devices" / devicePath, dir / "device");
        }
        std::filesystem::create_symlink(dir, sys / "class" / "tty" / name);
        if (node) {
            std::ofstream(dev / name) << "";
        }
        return dir;
    }

    // A link in the port directory.
    void publish(const std::string& name, const std::filesystem::path& target) const {
        std::filesystem::create_symlink(target, ports / name);
    }

    device::SerialPortEnumerator enumerator() const {
        return device::SerialPortEnumerator(wyr::windows::communication::PortMap(ports.string()),
                                            sys.string(), dev.string());
    }

    std::filesystem::path root, sys, dev, ports;
};

} // namespace test
