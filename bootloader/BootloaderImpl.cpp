#include "bootloader/BootloaderImpl.h"

#include "bootloader/BootloaderFrame.h"
#include "bootloader/CrcType.h"
#include "bootloader/PageChecksum.h"
#include "bootloader/TargetInfoReply.h"
#include "wyr/windows/communication/CommDefinitions.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/Wait.h"
#include "wyr/windows/system/threading/ThreadState.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace bootloader {

using wyr::windows::logging::hexBytes;
using wyr::windows::logging::log;
using wyr::windows::logging::logEnabled;
using wyr::windows::logging::logSystemError;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::logging::trace;
namespace communication = wyr::windows::communication;
namespace system = wyr::windows::system;
using system::ErrorCode;
using wyr::windows::system::threading::ThreadState;

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
            hexBytes(bytes).c_str());
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

void BootloaderImpl::resetInfoBlocks() {
    _bootloaderInfo = TargetInfoReply::emptyBlock(InfoBlockType::BootloaderInfoBlock);
    _targetInfo = TargetInfoReply::emptyBlock(InfoBlockType::TargetInfoBlock);
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
        log(LogVerbosity::DebugLevel4, kSendContext, L"Outgoing [%ls] data is %d bytes in size, [%ls]",
            name.c_str(), static_cast<int>(bytes.size()), hexBytes(bytes).c_str());
    }
    // An empty write never drains the transmitter, so its wait would never end.
    if (bytes.empty()) {
        log(LogVerbosity::Error, kSendContext, L"Nothing to send for [%ls].", name.c_str());
        return system::ERROR_INVALID_PARAMETER;
    }
    // Whatever is left of an earlier exchange must not pass for this one's answer.
    _serial.purgeBuffers();
    _serial.setCommMask(kTransmitMask);

    if (const ErrorCode error = _serial.writePort(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                                  system::INFINITE, _abort)) {
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
        log(LogVerbosity::DebugLevel4, kWaitContext, L"Needing %d bytes, received %d bytes",
            static_cast<int>(needed), static_cast<int>(out.size()));
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
        command.name().c_str(), unsigned{response[0]}, code.name().c_str(),
        static_cast<unsigned>(expected.value()), expected.name().c_str());
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
    return exchange(TargetCommand::EraseFlashPage, BootloaderFrame::eraseFlashPage(address),
                    ResponseCode::Ok) == system::ERROR_SUCCESS;
}

ErrorCode BootloaderImpl::writeSignatureExchange() {
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
        log(LogVerbosity::DebugLevel4, kInfoContext, L"Needing %d bytes, received %d bytes",
            static_cast<int>(needed), static_cast<int>(response.size()));
    }
    if (const ErrorCode error =
            checkResponse(TargetCommand::GetInfo, response, ResponseCode::Ok, system::ERROR_GEN_FAILURE)) {
        return error;
    }
    return TargetInfoReply::decode(response, _bootloaderInfo, _targetInfo);
}

ErrorCode BootloaderImpl::writeBlock(std::uint32_t address, std::span<const std::uint8_t> data) {
    const TargetCommand& command = TargetCommand::WriteFlashBytes;
    const std::wstring codeText = hexBytes(command.codeBytes());
    const auto result = [&](ErrorCode code) {
        if (code != system::ERROR_SUCCESS) {
            logFailure(kWriteBlockContext, L"Failed to write flash block! Reason [%d].", code);
        }
        return code;
    };

    const std::size_t length = data.size();
    if (length > _bootloaderInfo.bufferSize()) {
        log(LogVerbosity::Error, kWriteBlockContext,
            L"A block of %d bytes exceeds the bootloader's buffer of %u bytes.", static_cast<int>(length),
            _bootloaderInfo.bufferSize());
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
        log(LogVerbosity::Error, kWriteBlockContext, L"Failed to receive [%ls] command response!",
            codeText.c_str());
        return result(error);
    }
    if (response.empty()) {
        log(LogVerbosity::Error, kWriteBlockContext, L"Failed to receive [%ls] command response!",
            codeText.c_str());
        return result(system::ERROR_IPSEC_IKE_TIMED_OUT);
    }
    if (checkResponse(command, response, ResponseCode::Ok, system::ERROR_INVALID_FLAGS) !=
        system::ERROR_SUCCESS) {
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
    if (checkResponse(*command, response, ResponseCode::Ok, system::ERROR_GEN_FAILURE) !=
        system::ERROR_SUCCESS) {
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

// ---------------------------------------------------------------------------
// Life cycle and the interface (user-interface thread)

namespace {

constexpr const char* kThreadName = "BootloaderThread";

const BootloaderNotifyType& kNone = BootloaderNotifyType::None;
const BootloaderNotifyType& kEntered = BootloaderNotifyType::EnteredBootloadMode;
const BootloaderNotifyType& kTargetInfo = BootloaderNotifyType::ReceivedTargetInfo;
const BootloaderNotifyType& kLoadSource = BootloaderNotifyType::LoadSource;
const BootloaderNotifyType& kEraseTarget = BootloaderNotifyType::EraseTarget;
const BootloaderNotifyType& kWriteTarget = BootloaderNotifyType::WriteTarget;
const BootloaderNotifyType& kResetTarget = BootloaderNotifyType::ResetTarget;

} // namespace

BootloaderImpl* BootloaderImpl::init() {
    static BootloaderImpl instance;
    return &instance;
}

BootloaderImpl::BootloaderImpl() : _step(BootloaderNotifyType::None.value()), _thread(*this) {
    resetInfoBlocks();
}

BootloaderImpl::~BootloaderImpl() {
    finalize();
}

ErrorCode BootloaderImpl::initialize(communication::PortHandle port, BootloaderEntry entry) {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::initialize";
    trace(kContext);
    // The worker of an earlier update may still use the port, the blocks and the image.
    if (_thread.state() != ThreadState::Stopped) {
        log(LogVerbosity::Error, kContext, L"The %s of an earlier update is still running.", kThreadName);
        logSystemError(system::ERROR_ALREADY_INITIALIZED, kContext);
        return system::ERROR_ALREADY_INITIALIZED;
    }

    setStep(kNone);
    resetInfoBlocks();
    _image.reset();
    _broadcast.disconnectAll();
    _flashModified = false;
    _entry = entry;
    _stopRequested.store(false);

    if (!port || !port->isOpen()) {
        return system::ERROR_INVALID_HANDLE;
    }

    // From here on the port is ours to close.
    _serial.setHandle(std::move(port));
    _serial.setOverlapped(true);
    if (const ErrorCode error = _serial.initialize()) {
        logFailure(kContext, L"Serial::initialize() failed [%d].", error);
        _serial.close();
        return error;
    }
    const std::string& device = _serial.handle()->path();
    if (!device.empty()) {
        log(LogVerbosity::Information, kContext, L"Attached handle: %s", device.c_str());
    } else {
        log(LogVerbosity::Warning, kContext, L"Failed to determine device name");
    }

    if (const ErrorCode error = _thread.create(kThreadName, this)) {
        log(LogVerbosity::Error, kContext, L"Failed to create %s.", kThreadName);
        logSystemError(error, kContext);
        return error;
    }
    int priority = 0;
    _thread.getPriority(priority);
    log(LogVerbosity::Information, kContext, L"Successfully created %s [0x%X], pritority : [%d].",
        kThreadName, _thread.threadId(), priority);
    return system::ERROR_SUCCESS;
}

void BootloaderImpl::finalize() {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::finalize";
    trace(kContext);
    if (_thread.state() != ThreadState::Stopped) {
        _thread.shutdown(kThreadShutdownMs);
    }
    if (_thread.state() != ThreadState::Stopped) {
        // Closing the port under a running exchange would pull it from under the
        // worker; the port goes when the thread has ended and finalize runs again.
        log(LogVerbosity::Error, kContext, L"The %s did not stop; the port stays open.", kThreadName);
        return;
    }
    _serial.close();
}

boost::signals2::connection BootloaderImpl::connect(const Callback& callback) {
    trace("bootloader::BootloaderImpl::connect");
    return _broadcast.connect(callback);
}

void BootloaderImpl::enterBootloadMode() {
    trace("bootloader::BootloaderImpl::enterBootloadMode");
    _thread.object().enterBootloadMode();
}

void BootloaderImpl::cancelBootloadMode() {
    trace("bootloader::BootloaderImpl::cancelBootloadMode");
    _thread.object().cancelBootloadMode();
}

void BootloaderImpl::getTargetInfo() {
    trace("bootloader::BootloaderImpl::getTargetInfo");
    _thread.object().getTargetInfo();
}

void BootloaderImpl::loadFile(const std::wstring& path) {
    trace("bootloader::BootloaderImpl::loadFile");
    _thread.object().loadFile(path);
}

void BootloaderImpl::eraseTarget() {
    trace("bootloader::BootloaderImpl::eraseTarget");
    _thread.object().eraseTarget();
}

void BootloaderImpl::writeTarget() {
    trace("bootloader::BootloaderImpl::writeTarget");
    _thread.object().writeTarget();
}

void BootloaderImpl::resetTarget() {
    trace("bootloader::BootloaderImpl::resetTarget");
    _thread.object().resetTarget();
}

ErrorCode BootloaderImpl::setSerialNumber(std::uint16_t serial) {
    trace("bootloader::BootloaderImpl::setSerialNumber");
    return _image.setSerialNumber(serial);
}

bool BootloaderImpl::getInfoBlock(const InfoBlockType& type, InfoBlock& out) const {
    if (type == InfoBlockType::BootloaderInfoBlock) {
        out = _bootloaderInfo;
        return true;
    }
    if (type == InfoBlockType::TargetInfoBlock) {
        out = _targetInfo;
        return true;
    }
    if (type == InfoBlockType::SourceInfoBlock && _image.loaded()) {
        out = _image.infoBlock();
        return true;
    }
    return false;
}

BootloaderNotifyType BootloaderImpl::getState() const {
    return BootloaderNotifyType::fromValueOrNone(_step.load());
}

void BootloaderImpl::notify(tagBLNHDR* record) {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::notify";
    if (record == nullptr) {
        return;
    }
    if (!_broadcast.post(record)) {
        const ErrorCode error = system::getLastError();
        log(LogVerbosity::Error, kContext, L"::PostMessage() failed! Reason [%d].", static_cast<int>(error));
        logSystemError(error, kContext);
        delete record;
    }
}

void BootloaderImpl::complete(tagBLNHDR* record, const char* context, const wchar_t* failureFormat,
                              const BootloaderNotifyType& step) {
    if (record->result != system::ERROR_SUCCESS) {
        if (failureFormat != nullptr) {
            log(LogVerbosity::Error, context, failureFormat, static_cast<int>(record->result));
        }
        logSystemError(record->result, context);
    } else {
        // Before the record goes out, so that its receiver reads the new step.
        setStep(step);
    }
    notify(record);
}

// ---------------------------------------------------------------------------
// Requests (bootloader thread)

void BootloaderImpl::_enterBootloadMode() {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::_enterBootloadMode";
    trace(kContext);
    auto record = std::make_unique<tagBLNHDR>(kEntered, BootloaderNotifyState::None);
    record->result = enterBootloadModeExchange();
    complete(record.release(), kContext, L"Failed to enter boot load mode! Reason [%d].", kEntered);
}

void BootloaderImpl::_getTargetInfo() {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::_getTargetInfo";
    trace(kContext);
    auto record = std::make_unique<tagBLNHDR>(kTargetInfo, BootloaderNotifyState::None);
    record->result = getTargetInfoExchange();
    complete(record.release(), kContext, L"Failed to enter boot load mode! Reason [%d].", kTargetInfo);
}

void BootloaderImpl::_resetTarget() {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::_resetTarget";
    trace(kContext);
    auto record = std::make_unique<tagBLNHDR>(kResetTarget, BootloaderNotifyState::None);
    record->result = resetTargetExchange();
    complete(record.release(), kContext, L"Failed to reset target! Reason [%d].", kResetTarget);
}

void BootloaderImpl::_loadFile(const std::wstring& path) {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::_loadFile";
    trace(kContext);
    auto record = std::make_unique<BootloaderProgress>(kLoadSource, BootloaderNotifyState::Initiated);
    std::uint32_t lineCount = 0;
    record->result = _image.open(system::toNarrow(path), lineCount);
    if (record->result != system::ERROR_SUCCESS) {
        complete(record.release(), kContext, nullptr, kLoadSource);
        return;
    }
    record->total = lineCount;
    notify(record.release());

    auto last =
        std::make_unique<BootloaderProgress>(kLoadSource, BootloaderNotifyState::Completed, 0, 0, lineCount);
    for (std::uint32_t line = 1;; ++line) {
        const ErrorCode result = _image.processNextLine();
        if (result != system::ERROR_MORE_DATA) {
            if (result != system::ERROR_HANDLE_EOF) {
                last->result = result;
            }
            break;
        }
        notify(new BootloaderProgress(kLoadSource, BootloaderNotifyState::Running, 0, line, lineCount));
        last->current = line;
        if (const ErrorCode stopped = pause(kLinePauseMs)) {
            // Stopped half-way: no image rather than part of one.
            _image.reset();
            last->result = stopped;
            break;
        }
    }
    complete(last.release(), kContext, nullptr, kLoadSource);
}

void BootloaderImpl::_cancelBootloadMode() {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::_cancelBootloadMode";
    trace(kContext);
    const BootloaderNotifyType step = getState();
    if (step < kEntered) {
        // The bootloader never answered: there is nobody to tell.
        setStep(kResetTarget);
        notify(new tagBLNHDR(kResetTarget, BootloaderNotifyState::None, system::ERROR_SUCCESS));
        return;
    }
    if (_targetInfo.length != 0 && step < kEraseTarget) {
        if (_entry == BootloaderEntry::FoundInBootloader) {
            // Its image may never have been verified: signed, the device would start it.
            log(LogVerbosity::Information, kContext,
                L"The device was found in its bootloader; it stays there until an update completes.");
        } else if (_flashModified) {
            // A failed erase or write left part of the application behind; with its
            // signature restored the device would start it.
            log(LogVerbosity::Warning, kContext,
                L"The application was partly erased; its signature is not restored.");
        } else if (writeSignature() != system::ERROR_SUCCESS) {
            log(LogVerbosity::Error, kContext, L"Failed to write signature");
            return;
        }
    }
    _resetTarget();
}

void BootloaderImpl::_eraseTarget() {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::_eraseTarget";
    trace(kContext);
    if (eraseSignature() != system::ERROR_SUCCESS) {
        log(LogVerbosity::Error, kContext, L"Failed to erase signature");
        return;
    }
    if (eraseFlash(&kEraseTarget) != system::ERROR_SUCCESS) {
        log(LogVerbosity::Error, kContext, L"Failed to erase target");
    }
}

void BootloaderImpl::_writeTarget() {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::_writeTarget";
    trace(kContext);
    if (writeFlash() != system::ERROR_SUCCESS) {
        log(LogVerbosity::Error, kContext, L"Failed to write flash");
        return;
    }
    // The step advances whatever becomes of the signature; its record is the
    // request's last.
    setStep(kWriteTarget);
    if (writeSignature() != system::ERROR_SUCCESS) {
        log(LogVerbosity::Error, kContext, L"Failed to write signature");
    }
}

// ---------------------------------------------------------------------------
// Flash programming (bootloader thread)

ErrorCode BootloaderImpl::checkApplicationArea(const char* context) const {
    const InfoBlock& device = _bootloaderInfo;
    if (device.length == 0) {
        log(LogVerbosity::Error, context, L"The bootloader has not reported its info block.");
        return system::ERROR_NOT_READY;
    }
    if (device.pageSizeCode > IntelHexFile::kMaximumPageSizeCode ||
        device.bufferSizeCode > device.pageSizeCode) {
        log(LogVerbosity::Error, context,
            L"Page size code [%u] and buffer size code [%u] cannot be programmed.",
            unsigned{device.pageSizeCode}, unsigned{device.bufferSizeCode});
        return system::ERROR_INVALID_DATA;
    }
    // Anything else would erase or write beyond the area, into the bootloader.
    const std::uint32_t pageSize = device.pageSize();
    if (device.appEnd < device.appStart || device.appStart % pageSize != 0 ||
        (device.appEnd + 1) % pageSize != 0) {
        log(LogVerbosity::Error, context,
            L"The application area 0x%06x - 0x%06x is not made of whole %u-byte pages.", device.appStart,
            device.appEnd, pageSize);
        return system::ERROR_INVALID_DATA;
    }
    return system::ERROR_SUCCESS;
}

ErrorCode BootloaderImpl::checkImage(const char* context) const {
    if (!_image.loaded() || _image.pages().empty()) {
        log(LogVerbosity::Error, context, L"No image is loaded.");
        return system::ERROR_NOT_READY;
    }
    const InfoBlock& source = _image.infoBlock();
    const InfoBlock& device = _bootloaderInfo;
    if (source.pageSizeCode != device.pageSizeCode || source.bufferSizeCode != device.bufferSizeCode) {
        log(LogVerbosity::Error, context,
            L"The image's page size code [%u] and buffer size code [%u] differ from the bootloader's [%u] "
            L"and [%u].",
            unsigned{source.pageSizeCode}, unsigned{source.bufferSizeCode}, unsigned{device.pageSizeCode},
            unsigned{device.bufferSizeCode});
        return system::ERROR_INVALID_DATA;
    }
    const std::uint64_t low = std::uint64_t{_image.pages().begin()->first} << source.pageSizeCode;
    const std::uint64_t high =
        ((std::uint64_t{_image.pages().rbegin()->first} + 1) << source.pageSizeCode) - 1;
    if (low < device.appStart || high > device.appEnd) {
        log(LogVerbosity::Error, context,
            L"The image's pages 0x%06llx - 0x%06llx reach beyond the application area 0x%06x - 0x%06x.",
            static_cast<unsigned long long>(low), static_cast<unsigned long long>(high), device.appStart,
            device.appEnd);
        return system::ERROR_INVALID_DATA;
    }
    return system::ERROR_SUCCESS;
}

std::uint32_t BootloaderImpl::areaPageCount() const {
    const std::uint64_t pageSize = _bootloaderInfo.pageSize();
    const std::uint64_t span = _bootloaderInfo.appEnd - _bootloaderInfo.appStart;
    return static_cast<std::uint32_t>((span + pageSize - 1) / pageSize);
}

namespace {

// An erase that fails is tried once more.
bool eraseWithRetry(BootloaderImpl& impl, std::uint32_t address, const char* context) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (impl.erasePage(address)) {
            return true;
        }
        log(LogVerbosity::Error, context, L"Failed to erase page 0x%06x", address);
    }
    log(LogVerbosity::Error, context, L"Aborting operation.");
    return false;
}

} // namespace

ErrorCode BootloaderImpl::eraseSignature() {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::eraseSignature";
    trace(kContext);
    ErrorCode result = checkApplicationArea(kContext);
    std::uint32_t total = 0;
    if (result == system::ERROR_SUCCESS) {
        total = areaPageCount();
        const std::uint32_t address = _bootloaderInfo.appEnd - _bootloaderInfo.pageSize() + 1;
        _flashModified = true;
        if (!eraseWithRetry(*this, address, kContext)) {
            result = system::ERROR_GEN_FAILURE;
        }
    }
    if (result != system::ERROR_SUCCESS) {
        logFailure(kContext, L"Failed to erase application signature! Reason [%d].", result);
    }
    notify(new BootloaderProgress(kEraseTarget, BootloaderNotifyState::Initiated, result, 0, total));
    return result;
}

ErrorCode BootloaderImpl::eraseFlash(const BootloaderNotifyType* advanceTo) {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::eraseFlash";
    trace(kContext);
    ErrorCode result = checkApplicationArea(kContext);
    std::uint32_t total = 0;
    std::uint32_t erased = 0;
    if (result == system::ERROR_SUCCESS) {
        const std::uint8_t code = _bootloaderInfo.pageSizeCode;
        const std::uint32_t first = _bootloaderInfo.appStart >> code;
        total = areaPageCount();
        notify(new BootloaderProgress(kEraseTarget, BootloaderNotifyState::Running, 0, 0, total));
        _flashModified = true;
        // appEnd has 24 bits and the code at most 24, so the shift cannot overflow.
        for (std::uint32_t page = first; (page << code) <= _bootloaderInfo.appEnd; ++page) {
            const std::uint32_t address = page << code;
            log(LogVerbosity::DebugLevel4, kContext, L"Erasing page [%d] 0x%06x", static_cast<int>(page),
                address);
            notify(new BootloaderProgress(kEraseTarget, BootloaderNotifyState::Running, 0, page - first + 1,
                                          total));
            // A stop request shows in the erase that follows.
            static_cast<void>(pause(kErasePauseMs));
            if (stopRequested()) {
                result = system::ERROR_CANCELLED;
                break;
            }
            if (!eraseWithRetry(*this, address, kContext)) {
                result = system::ERROR_GEN_FAILURE;
                break;
            }
            erased = page - first + 1;
        }
    }
    if (result != system::ERROR_SUCCESS) {
        logFailure(kContext, L"Failed to erase flash! Reason [%d].", result);
    } else if (advanceTo != nullptr) {
        setStep(*advanceTo);
    }
    notify(new BootloaderProgress(kEraseTarget, BootloaderNotifyState::Completed, result, erased, total));
    return result;
}

ErrorCode BootloaderImpl::writeFlash() {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::writeFlash";
    trace(kContext);
    ErrorCode result = checkApplicationArea(kContext);
    if (result == system::ERROR_SUCCESS) {
        result = checkImage(kContext);
    }
    const InfoBlock& source = _image.infoBlock();
    const std::uint32_t pageSize = source.pageSize();
    const std::uint32_t perPage = result == system::ERROR_SUCCESS ? pageSize / source.bufferSize() : 0;
    const std::uint32_t total = _image.pageCount() * perPage;
    std::uint32_t written = 0;

    if (result == system::ERROR_SUCCESS) {
        notify(new BootloaderProgress(kWriteTarget, BootloaderNotifyState::Initiated, 0, 0, total));
        _flashModified = true;
        std::uint32_t index = 0;
        for (const auto& [number, bytes] : _image.pages()) {
            const std::uint32_t address = number << source.pageSizeCode;
            log(LogVerbosity::DebugLevel4, kContext, L"Working on page [%d] 0x%06x",
                static_cast<int>(index + 1), address);
            if (logEnabled(LogVerbosity::DebugLevel4)) {
                log(LogVerbosity::DebugLevel4, kContext, L"Page 0x%06x contains %d bytes, [%ls]", address,
                    static_cast<int>(bytes.size()), hexBytes(bytes).c_str());
            }
            bool retried = false;
            bool verified = false;
            while (!verified) {
                if (!writePage(index, address, bytes)) {
                    if (stopRequested()) {
                        break;
                    }
                    log(LogVerbosity::Error, kContext, L"Failed to write page 0x%06x", address);
                    // A second chance on a freshly erased page.
                    if (retried || !erasePage(address)) {
                        log(LogVerbosity::Error, kContext, L"Aborting operation.");
                        break;
                    }
                    retried = true;
                    continue;
                }
                Bytes padded(bytes.begin(), bytes.end());
                padded.resize(std::max<std::size_t>(padded.size(), pageSize), 0xFF);
                if (!verifyPageCRC(address, padded)) {
                    log(LogVerbosity::Error, kContext, L"Failed to verify page 0x%06x", address);
                    if (retried) {
                        log(LogVerbosity::Error, kContext, L"Aborting operation.");
                        break;
                    }
                    retried = true;
                    continue;
                }
                verified = true;
            }
            if (!verified) {
                result = stopRequested() ? system::ERROR_CANCELLED : system::ERROR_GEN_FAILURE;
                break;
            }
            ++index;
            written = index * perPage;
        }
    }
    if (result != system::ERROR_SUCCESS) {
        logFailure(kContext, L"Failed to write flash! Reason [%d].", result);
    }
    notify(new BootloaderProgress(kWriteTarget, BootloaderNotifyState::Completed, result, written, total));
    return result;
}

bool BootloaderImpl::writePage(std::uint32_t index, std::uint32_t address,
                               std::span<const std::uint8_t> page) {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::writePage";
    trace(kContext);
    const std::uint32_t blockSize = _bootloaderInfo.bufferSize();
    const std::uint32_t pageSize = _bootloaderInfo.pageSize();
    if (blockSize == 0 || pageSize < blockSize) {
        log(LogVerbosity::Error, kContext, L"Blocks of %u bytes do not fit pages of %u bytes.", blockSize,
            pageSize);
        return false;
    }
    const std::uint32_t perPage = pageSize / blockSize;
    const std::uint32_t total = _image.pageCount() * perPage;
    std::uint32_t counter = index * perPage;
    std::uint32_t blockAddress = address;
    for (std::size_t offset = 0; offset < page.size();) {
        if (stopRequested()) {
            return false;
        }
        ++counter;
        notify(new BootloaderProgress(kWriteTarget, BootloaderNotifyState::Running, 0, counter, total));
        const std::size_t length = std::min<std::size_t>(blockSize, page.size() - offset);
        const auto block = page.subspan(offset, length);
        if (writeBlock(blockAddress, block) != system::ERROR_SUCCESS) {
            log(LogVerbosity::Warning, kContext, L"Retrying block [0x%06x]", blockAddress);
            if (writeBlock(blockAddress, block) != system::ERROR_SUCCESS) {
                return false;
            }
        }
        blockAddress += static_cast<std::uint32_t>(length);
        offset += length;
    }
    return true;
}

ErrorCode BootloaderImpl::writeSignature() {
    static constexpr const char* kContext = "bootloader::BootloaderImpl::writeSignature";
    trace(kContext);
    const ErrorCode result = writeSignatureExchange();
    if (result != system::ERROR_SUCCESS) {
        logFailure(kContext, L"Failed to write signature! Reason [%d].", result);
    }
    notify(new BootloaderProgress(kWriteTarget, BootloaderNotifyState::Completed, result));
    return result;
}

} // namespace bootloader
