#pragma once

#include "device/SerialPortEntry.h"
#include "wyr/windows/communication/PortMap.h"

#include <string>
#include <vector>

namespace device {

// Lists the serial ports that are present now, each with its COM number and a
// description. Two sources, in this order:
//
//  1. Links "COM<n>" in the port directory whose target exists (the simulator,
//     test harnesses and users publish ports there). Description:
//     "Linked port (<link target>)".
//  2. Kernel serial devices in <sysfs>/class/tty that have hardware behind them
//     (a "device" entry; virtual terminals, pseudo-terminals and the console have
//     none) and a node in <dev>. Legacy ttyS* ports exist whether or not a UART is
//     fitted, so they count only when their UART type is known. Description: the
//     USB product and manufacturer strings of the nearest USB device above the
//     port, else the name of the driver that serves it, else empty.
//
// A port number is the one PortMap resolves to what was found, so every listed
// number opens the port it describes. Within each source the order is the
// directory's own; nothing is sorted and duplicates are not removed (a linked
// kernel device appears under both numbers).
//
// Keeps no state between calls; safe to use from any thread.
class SerialPortEnumerator {
public:
    explicit SerialPortEnumerator(wyr::windows::communication::PortMap portMap =
                                      wyr::windows::communication::PortMap::fromEnvironment(),
                                  std::string sysfsRoot = "/sys", std::string devRoot = "/dev");

    // Clears `ports`, then fills it. True when the enumeration ran (`ports` may
    // still be empty); false, with nothing listed and the thread's last error
    // telling why, when the kernel's device tree cannot be read:
    // ERROR_CALL_NOT_IMPLEMENTED (120) when sysfs is not there at all, else the
    // code of the failure to open its tty class.
    bool enumeratePorts(std::vector<SerialPortEntry>& ports) const;

    // The device path that COM `port` opens, as this enumerator sees the system;
    // "" for a number without one.
    std::string devicePathForPort(std::int32_t port) const;

private:
    void _addLinkedPorts(std::vector<SerialPortEntry>& ports) const;
    void _addKernelPort(const std::string& name, std::vector<SerialPortEntry>& ports) const;
    bool _uartTypeKnown(const std::string& name) const;
    std::wstring _describe(const std::string& name) const;

    wyr::windows::communication::PortMap _portMap;
    std::string _sysfsRoot;
    std::string _devRoot;
};

} // namespace device
