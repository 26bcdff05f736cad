#include "bootloader/BootloaderPort.h"

#include "wyr/windows/communication/CommDefinitions.h"
#include "wyr/windows/communication/Serial.h"
#include "wyr/windows/logging/Log.h"

#include <string>

namespace bootloader {

using wyr::windows::logging::log;
using wyr::windows::logging::logSystemError;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::logging::trace;
namespace communication = wyr::windows::communication;
namespace system = wyr::windows::system;

system::ErrorCode BootloaderPort::open(int comPort, const LineSettings& settings,
                                       communication::PortHandle& port, const char* logContext) {
    const char* const context = logContext != nullptr ? logContext : "bootloader::BootloaderPort::open";
    trace("bootloader::BootloaderPort::open");
    port.reset();

    communication::Serial serial;
    log(LogVerbosity::Information, context, L"Opening port [COM%d]", comPort);
    if (const system::ErrorCode error = serial.open(L"\\\\.\\COM" + std::to_wstring(comPort))) {
        log(LogVerbosity::Error, context, L"Failed to open port [COM%d].", comPort);
        logSystemError(error, context);
        return error;
    }
    serial.purgeBuffers();

    // Any failure from here on closes the port with `serial`.
    const auto failed = [&](const wchar_t* format, system::ErrorCode error) {
        log(LogVerbosity::Error, context, format, comPort);
        logSystemError(error, context);
        return error;
    };
    log(LogVerbosity::Information, context, L"Configuring port [COM%d]", comPort);
    if (settings.parity == nullptr || settings.stopBits == nullptr || settings.flowControl == nullptr) {
        return failed(L"Failed to set baud rate on port [COM%d].", system::ERROR_INVALID_PARAMETER);
    }
    if (const system::ErrorCode error =
            serial.configure(settings.baudRate, *settings.parity, settings.dataBits,
                             static_cast<std::uint8_t>(settings.stopBits->value()))) {
        return failed(L"Failed to set baud rate on port [COM%d].", error);
    }
    if (const system::ErrorCode error = serial.setFlowControl(*settings.flowControl)) {
        return failed(L"Failed to set handshake on port [COM%d].", error);
    }
    if (const system::ErrorCode error = serial.setCommMask(communication::EV_ERR | communication::EV_TXEMPTY |
                                                           communication::EV_RXCHAR)) {
        return failed(L"Failed to set event mask (EV_ERR | EV_TXEMPTY | EV_RXCHAR) on port [COM%d].", error);
    }
    port = serial.detachHandle();
    return system::ERROR_SUCCESS;
}

} // namespace bootloader
