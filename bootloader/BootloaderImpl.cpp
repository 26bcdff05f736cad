#include "bootloader/BootloaderImpl.h"

#include "bootloader/BootloaderFrame.h"
#include "bootloader/CrcType.h"
#include "bootloader/PageChecksum.h"
#include "bootloader/TargetInfoReply.h"
#include "wyr/windows/communication/CommDefinitions.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/Wait.h"

#include <cstdio>

namespace bootloader {

using wyr::windows::logging::log;
using wyr::windows::logging::logEnabled;
using wyr::windows::logging::logSystemError;
using wyr::windows::logging::LogVerbosity;
namespace communication = wyr::windows::communication;
namespace system = wyr::windows::system;
using system::ErrorCode;

namespace {

constexpr const char* kSendContext = "bootloader::BootloaderImpl::sendBytes";
constexpr const char* kReadContext = "bootloader::BootloaderImpl::readBytes";
constexpr const char* kWaitContext = "bootloader::BootloaderImpl::waitForResponse";
constexpr const char* kResponseContext = "bootloader::BootloaderImpl::checkResponse";
constexpr const char* kInfoContext = "bootloader::BootloaderImpl::getTargetInfoExchange";
constexpr const char* kWriteBlockContext = "bootloader::BootloaderImpl::writeBlock";
constexpr const char* kVerifyContext = "bootloader::BootloaderImpl::verifyPageCRC";

constexpr std::uint32_t kTransmitMask = communication::EV_TXEMPTY | communication::EV_ERR;
constexpr std::uint32_t kReceiveMask = communication::EV_RXCHAR | communication::EV_ERR;

void logFailure(const char* context, const wchar_t* format, ErrorCode code) {
    log(LogVerbosity::Error, context, format, static_cast<int>(code));
    logSystemError(code, context);
}

// "Received %d bytes" with the bytes, when there are any, in hex.
void logReceived(const char* context, const BootloaderImpl::Bytes& bytes) {
    if (!logEnabled(LogVerbosity::DebugLevel4)) {
        return;
    }
    if (bytes.empty()) {
        log(LogVerbosity::DebugLevel4, context, L"Received %d bytes", 0);
    } else {
        log(LogVerbosity::DebugLevel4, context, L"Received %d bytes, [%ls]", static_cast<int>(bytes.size()),
            BootloaderImpl::formatHexBytes(bytes).c_str());
    }
}

std::uint32_t littleEndian(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = bytes.size(); i > 0; --i) {
        value = value << 8 | bytes[i - 1];
    }
    return value;
}

} // namespace

BootloaderImpl::BootloaderImpl() { resetInfoBlocks(); }

BootloaderImpl::~BootloaderImpl() = default;

void BootloaderImpl::resetInfoBlocks() {
    _bootloaderInfo = TargetInfoReply::emptyBlock(InfoBlockType::BootloaderInfoBlock);
    _targetInfo = TargetInfoReply::emptyBlock(InfoBlockType::TargetInfoBlock);
}

std::wstring BootloaderImpl::formatHexBytes(std::span<const std::uint8_t> bytes) {
    std::wstring text;
    text.reserve(bytes.size() * 5);
    wchar_t item[8];
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += L' ';
        }
        std::swprintf(item, sizeof item / sizeof item[0], L"0x%.2X", unsigned{byte});
        text += item;
    }
    return text;
}

ErrorCode BootloaderImpl::pause(std::uint32_t ms) {
    if (_abort == nullptr) {
        system::sleepMs(ms);
        return system::ERROR_SUCCESS;
    }
    return system::waitForSingle(*_abort, ms) == system::WAIT_OBJECT_0 ? system::ERROR_CANCELLED
                                                                         : system::ERROR_SUCCESS;
}

ErrorCode BootloaderImpl::sendBytes(const std::wstring& name, std::span<const std::uint8_t> bytes) {
    if (logEnabled(LogVerbosity::DebugLevel4)) {
        log(LogVerbosity::DebugLevel4, kSendContext, L"Outgoing [%ls] data is %d bytes in size, [%ls]", name.c_str(),
            static_cast<int>(bytes.size()), formatHexBytes(bytes).c_str());
    }
    // An empty write never drains the transmitter, so its wait would never end.
    if (bytes.empty()) {
        log(LogVerbosity::Error, kSendContext, L"Nothing to send for [%ls].", name.c_str());
        return system::ERROR_INVALID_PARAMETER;
    }
    // Whatever is left of an earlier exchange must not pass for this one's answer.
    _serial.purgeBuffers();
    _serial.setCommMask(kTransmitMask);

    if (const ErrorCode error =
            _serial.writePort(bytes.data(), static_cast<std::uint32_t>(bytes.size()), system::INFINITE, _abort)) {
        // The caller learns that the frame did not go out; the log keeps why.
        logFailure(kSendContext, L"Serial::writePort() failed [%d].", error);
        return error == system::ERROR_CANCELLED ? error : system::ERROR_WRITE_FAULT;
    }
    std::uint32_t events = 0;
    if (const ErrorCode error = _serial.waitCommEvent(events, _abort, system::INFINITE)) {
        logFailure(kSendContext, L"Serial::waitCommEvent() failed [%d].", error);
        return error;
    }
    if ((events & communication::EV_TXEMPTY) == 0) {
        log(LogVerbosity::Error, kSendContext, L"Serial::waitCommEvent() invalid event [%d].",
            static_cast<int>(events));
        logSystemError(system::ERROR_WRITE_FAULT, kSendContext);
        return system::ERROR_WRITE_FAULT;
    }
    _serial.setCommMask(kReceiveMask);
    return system::ERROR_SUCCESS;
}

ErrorCode BootloaderImpl::sendCommand(const TargetCommand& command) {
    return sendBytes(command.name(), command.codeBytes());
}

ErrorCode BootloaderImpl::readBytes(Bytes& out) {
    out.clear();
    log(LogVerbosity::DebugLevel4, kReadContext, L"- TIMEOUT [%d mSec]", static_cast<int>(kReceiveTimeoutMs));
    std::uint32_t events = 0;
    if (const ErrorCode error = _serial.waitCommEvent(events, _abort, kReceiveTimeoutMs)) {
        logFailure(kReadContext, L"Serial::waitCommEvent() failed [%d].", error);
        return error;
    }
    if ((events & communication::EV_RXCHAR) == 0) {
        log(LogVerbosity::Error, kReadContext, L"Serial::waitCommEvent() invalid event [%d].",
            static_cast<int>(events));
        logSystemError(system::ERROR_READ_FAULT, kReadContext);
        return system::ERROR_READ_FAULT;
    }
    if (const ErrorCode error = _serial.readPort(out, _abort, kReceiveTimeoutMs)) {
        logFailure(kReadContext, L"::ReadFile failed! [%d]", error);
        return error;
    }
    logReceived(kReadContext, out);
    return system::ERROR_SUCCESS;
}

ErrorCode BootloaderImpl::waitForResponse(Bytes& out, std::size_t needed) {
    out.clear();
    log(LogVerbosity::DebugLevel4, kWaitContext, L"Waiting for %d bytes - TIMEOUT [%d mSec]",
        static_cast<int>(needed), static_cast<int>(kReceiveTimeoutMs));
    ErrorCode result = system::ERROR_SUCCESS;
    Bytes chunk;
    for (;;) {
        result = readBytes(chunk);
        if (result != system::ERROR_SUCCESS) {
            break;
        }
        out.insert(out.end(), chunk.begin(), chunk.end());
        if (out.size() >= needed) {
            break;
        }
        log(LogVerbosity::DebugLevel4, kWaitContext, L"Needing %d bytes, received %d bytes", static_cast<int>(needed),
            static_cast<int>(out.size()));
    }
    logReceived(kWaitContext, out);
    return result;
}

ErrorCode BootloaderImpl::checkResponse(const TargetCommand& command, const Bytes& response,
                                        const ResponseCode& expected, ErrorCode failure) {
    if (response.empty()) {
        log(LogVerbosity::Error, kResponseContext, L"No response to [%ls].", command.name().c_str());
        return failure;
    }
    const ResponseCode& code = ResponseCode::fromByte(response[0]);
    log(LogVerbosity::DebugLevel4, kResponseContext, L"Response Code: [0x%02X]-[%ls]", unsigned{response[0]},
        code.name().c_str());
    if (code == expected) {
        return system::ERROR_SUCCESS;
    }
    log(LogVerbosity::Error, kResponseContext, L"[%ls] answered [0x%02X]-[%ls] instead of [0x%02X]-[%ls].",
        command.name().c_str(), unsigned{response[0]}, code.name().c_str(), static_cast<unsigned>(expected.value()),
        expected.name().c_str());
    return failure;
}

ErrorCode BootloaderImpl::exchange(const TargetCommand& command, std::span<const std::uint8_t> frame,
                                   const ResponseCode& expected) {
    if (const ErrorCode error = sendBytes(command.name(), frame)) {
        return error;
    }
    Bytes response;
    if (const ErrorCode error = waitForResponse(response, command.responseLength())) {
        return error;
    }
    return checkResponse(command, response, expected, system::ERROR_GEN_FAILURE);
}

ErrorCode BootloaderImpl::enterBootloadModeExchange() {
    return exchange(TargetCommand::EnterBootloadMode, TargetCommand::EnterBootloadMode.codeBytes(),
                    ResponseCode::BootloadMode);
}

ErrorCode BootloaderImpl::resetTargetExchange() {
    return exchange(TargetCommand::ResetMcu, TargetCommand::ResetMcu.codeBytes(), ResponseCode::Ok);
}

bool BootloaderImpl::erasePage(std::uint32_t address) {
    return exchange(TargetCommand::EraseFlashPage, BootloaderFrame::eraseFlashPage(address), ResponseCode::Ok) ==
           system::ERROR_SUCCESS;
}

ErrorCode BootloaderImpl::writeSignature() {
    return exchange(TargetCommand::WriteSignature, BootloaderFrame::writeSignature(), ResponseCode::Ok);
}

ErrorCode BootloaderImpl::getTargetInfoExchange() {
    // The blocks describe the bootloader as it answered last; a failed query
    // leaves nothing stale behind.
    resetInfoBlocks();

    if (const ErrorCode error = sendCommand(TargetCommand::GetInfo)) {
        return error;
    }
    Bytes response;
    Bytes chunk;
    for (;;) {
        if (const ErrorCode error = pause(kInfoPollMs)) {
            return error;
        }
        if (const ErrorCode error = readBytes(chunk)) {
            return error;
        }
        response.insert(response.end(), chunk.begin(), chunk.end());
        const std::size_t needed = TargetInfoReply::requiredInfoLength(response);
        if (response.size() >= needed) {
            break;
        }
        log(LogVerbosity::DebugLevel4, kInfoContext, L"Needing %d bytes, received %d bytes", static_cast<int>(needed),
            static_cast<int>(response.size()));
    }
    if (const ErrorCode error = checkResponse(TargetCommand::GetInfo, response, ResponseCode::Ok,
                                              system::ERROR_GEN_FAILURE)) {
        return error;
    }
    return TargetInfoReply::decode(response, _bootloaderInfo, _targetInfo);
}

ErrorCode BootloaderImpl::writeBlock(std::uint32_t address, std::span<const std::uint8_t> data) {
    const TargetCommand& command = TargetCommand::WriteFlashBytes;
    const std::wstring codeText = formatHexBytes(command.codeBytes());
    const auto result = [&](ErrorCode code) {
        if (code != system::ERROR_SUCCESS) {
            logFailure(kWriteBlockContext, L"Failed to write flash block! Reason [%d].", code);
        }
        return code;
    };

    const std::size_t length = data.size();
    if (length > _bootloaderInfo.bufferSize()) {
        log(LogVerbosity::Error, kWriteBlockContext, L"A block of %d bytes exceeds the bootloader's buffer of %u bytes.",
            static_cast<int>(length), _bootloaderInfo.bufferSize());
        return result(system::ERROR_BUFFER_OVERFLOW);
    }
    if (length == 0) {
        log(LogVerbosity::Error, kWriteBlockContext, L"An empty block cannot be written.");
        return result(system::ERROR_INVALID_PARAMETER);
    }
    log(LogVerbosity::DebugLevel4, kWriteBlockContext, L"Writing to flash block [0x%06x] %d bytes", address,
        static_cast<int>(length));

    // The buffer size code is a nibble, so the length always fits the header's 16 bits.
    const Bytes header = BootloaderFrame::writeFlashBytes(address, static_cast<std::uint16_t>(length));
    if (const ErrorCode error = sendBytes(command.name(), header)) {
        log(LogVerbosity::Error, kWriteBlockContext, L"Failed to send [%ls] command!", codeText.c_str());
        return result(error);
    }
    Bytes response;
    if (const ErrorCode error = waitForResponse(response, command.responseLength())) {
        log(LogVerbosity::Error, kWriteBlockContext, L"Failed to receive [%ls] command response!", codeText.c_str());
        return result(error);
    }
    if (response.empty()) {
        log(LogVerbosity::Error, kWriteBlockContext, L"Failed to receive [%ls] command response!", codeText.c_str());
        return result(system::ERROR_IPSEC_IKE_TIMED_OUT);
    }
    if (checkResponse(command, response, ResponseCode::Ok, system::ERROR_INVALID_FLAGS) != system::ERROR_SUCCESS) {
        return result(system::ERROR_INVALID_FLAGS);
    }

    if (const ErrorCode error = sendBytes(command.name(), data)) {
        log(LogVerbosity::Error, kWriteBlockContext, L"Failed to write flash block!");
        return result(error);
    }
    if (const ErrorCode error = waitForResponse(response, command.responseLength())) {
        log(LogVerbosity::Error, kWriteBlockContext, L"Failed to receive write response!");
        return result(error);
    }
    if (response.empty()) {
        log(LogVerbosity::Error, kWriteBlockContext, L"Failed to receive write response!");
        return result(system::ERROR_IPSEC_IKE_TIMED_OUT);
    }
    return result(checkResponse(command, response, ResponseCode::Ok, system::ERROR_INVALID_FLAGS));
}

bool BootloaderImpl::verifyPageCRC(std::uint32_t address, std::span<const std::uint8_t> page) {
    const std::uint8_t crcType = _bootloaderInfo.crcType;
    const TargetCommand* command = nullptr;
    if (crcType == CrcType::Ccitt16.value()) {
        command = &TargetCommand::GetPageCrc16;
    } else if (crcType == CrcType::Ieee8023.value()) {
        command = &TargetCommand::GetPageCrc32;
    } else {
        log(LogVerbosity::Error, kVerifyContext, L"CRC Type [%ls] is unsupported.",
            CrcType::displayName(crcType).c_str());
        return false;
    }

    if (sendBytes(command->name(), BootloaderFrame::getPageCrc(address)) != system::ERROR_SUCCESS) {
        return false;
    }
    if (pause(kChecksumPauseMs) != system::ERROR_SUCCESS) {
        return false;
    }
    const std::size_t needed = command->responseLength();
    Bytes response;
    if (waitForResponse(response, needed) != system::ERROR_SUCCESS || response.size() < needed) {
        return false;
    }
    if (checkResponse(*command, response, ResponseCode::Ok, system::ERROR_GEN_FAILURE) != system::ERROR_SUCCESS) {
        return false;
    }
    const std::uint32_t device = littleEndian(std::span<const std::uint8_t>(response).subspan(1, needed - 1));
    const std::uint32_t computed =
        command == &TargetCommand::GetPageCrc16 ? PageChecksum::ccitt16(page) : PageChecksum::ieee32(page);
    log(LogVerbosity::DebugLevel4, kVerifyContext, L"%ls - Calculated CRC [%u], device CRC [%u]",
        CrcType::displayName(crcType).c_str(), computed, device);
    if (computed != device) {
        log(LogVerbosity::Error, kVerifyContext, L"CRC Mismatch!");
        return false;
    }
    return true;
}

} // namespace bootloader
