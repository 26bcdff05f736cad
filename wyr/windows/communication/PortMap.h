#pragma once

#include <string>
#include <string_view>

namespace wyr::windows::communication {

// Ports are addressed by COM number; this is where a number meets a device path.
//
// COM n is first looked up as a symbolic link named "COM<n>" in the port directory
// (how the simulator, test harnesses and users publish a port); the link is used
// even when its target is gone, so that a vanished port fails to open instead of
// silently becoming another one. Without a link, kernel serial devices are numbered
// in fixed blocks of 32, so that a device keeps its number whatever else is plugged
// in:
//     COM1   - COM32    /dev/ttyS0   - /dev/ttyS31    (on-board and PCI UARTs)
//     COM33  - COM64    /dev/ttyUSB0 - /dev/ttyUSB31  (USB serial converters)
//     COM65  - COM96    /dev/ttyACM0 - /dev/ttyACM31  (USB CDC-ACM devices)
//     COM97  - COM128   /dev/ttyAMA0 - /dev/ttyAMA31  (ARM PL011 UARTs)
// Other numbers have no kernel device.
//
// The port directory is $ORVANE_PORT_DIR, else $XDG_RUNTIME_DIR/orvane/ports, else
// orvane-<uid>/ports in the temporary directory ($TMPDIR, else /tmp). Links in that
// last, shared place are trusted only while orvane-<uid> belongs to the user and
// nobody else may write to it.
class PortMap {
public:
    static constexpr unsigned kNoPort = 0;

    // The map of the current environment.
    static PortMap fromEnvironment();

    // A map over the given port directory ("" for kernel devices only).
    explicit PortMap(std::string portDirectory) : _portDirectory(std::move(portDirectory)) {}

    const std::string& portDirectory() const noexcept { return _portDirectory; }

    // The device path of COM `port`, or "" when the number has none.
    std::string devicePathForPort(unsigned port) const;

    // The COM number of a device path (a link in the port directory, a path that
    // resolves to a linked target, or a numbered kernel device), or kNoPort.
    unsigned portForDevicePath(const std::string& path) const;

    // The numbering of kernel devices alone.
    static std::string kernelDevicePath(unsigned port);
    static unsigned kernelPortNumber(std::string_view devicePath);

    // The number in a port name: "\\.\COM7" or "COM7" (any letter case) give 7;
    // anything else gives kNoPort.
    static unsigned parsePortName(std::wstring_view name);
    // A port as the user types it on a command line: "COM7" (any letter case),
    // "\\.\COM7" or "7", COM1 to COM<kMaxUserPort>; else kNoPort.
    static constexpr unsigned kMaxUserPort = 256;
    static unsigned parsePortArgument(std::string_view text);

private:
    std::string _portDirectory;
};

} // namespace wyr::windows::communication
