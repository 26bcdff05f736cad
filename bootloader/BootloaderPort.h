#pragma once

#include "wyr/windows/communication/FlowControl.h"
#include "wyr/windows/communication/Parity.h"
#include "wyr/windows/communication/SerialDevice.h"
#include "wyr/windows/communication/StopBits.h"
#include "wyr/windows/system/SystemError.h"

#include <cstdint>

namespace bootloader {

// Opens a port by its COM number for an update without the device link (the
// instrument has no application that could hand its port over): the number is
// resolved through the port map, the line set up as given, and the open port
// handed to the caller, who passes it to BootloaderInterface::initialize.
class BootloaderPort {
public:
    struct LineSettings {
        std::uint32_t baudRate = 9600;
        const wyr::windows::communication::Parity* parity = &wyr::windows::communication::Parity::None;
        std::uint8_t dataBits = 8;
        const wyr::windows::communication::StopBits* stopBits = &wyr::windows::communication::StopBits::One;
        const wyr::windows::communication::FlowControl* flowControl =
            &wyr::windows::communication::FlowControl::None;
    };

    // 0 with `port` open, or the error of opening or setting up the port (logged
    // under `logContext`, the caller's name for the step); `port` then stays empty
    // and nothing is left open.
    static wyr::windows::system::ErrorCode open(int comPort, const LineSettings& settings,
                                                wyr::windows::communication::PortHandle& port,
                                                const char* logContext = "bootloader::BootloaderPort::open");
};

} // namespace bootloader
