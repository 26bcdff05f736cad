#include "sim/SimulatedBootloader.h"

#include "bootloader/BootloaderFrame.h"
#include "bootloader/CrcType.h"
#include "bootloader/InfoBlock.h"
#include "bootloader/PageChecksum.h"
#include "bootloader/TargetInfoReply.h"

#include <algorithm>

namespace sim {

using bootloader::BootloaderFrame;
using bootloader::ResponseCode;
using bootloader::TargetCommand;
using bootloader::TargetInfoReply;

namespace {

// Where the fields sit in the frames that carry them.
constexpr std::size_t kKeyOffset = 1;
constexpr std::size_t kCrcAddressOffset = 1;
constexpr std::size_t kAddressOffset = 3;    // after the command byte and the key
constexpr std::size_t kLengthOffset = 6;     // a block header's data length
constexpr std::size_t kSignatureCodeEnd = 5; // command, key and the two signature bytes

constexpr std::uint32_t kMaximumAddress = BootloaderFrame::kAddressMask;

// Each command's frame is as long as the frame the host builds for it.
std::size_t frameLengthOf(const TargetCommand& command) {
    if (command == TargetCommand::EraseFlashPage) {
        return BootloaderFrame::eraseFlashPage(0).size();
    }
    if (command == TargetCommand::WriteSignature) {
        return BootloaderFrame::writeSignature().size();
    }
    if (command == TargetCommand::GetPageCrc16 || command == TargetCommand::GetPageCrc32) {
        return BootloaderFrame::getPageCrc(0).size();
    }
    if (command == TargetCommand::WriteFlashBytes) {
        return BootloaderFrame::writeFlashBytes(0, 0).size();
    }
    return command.codeBytes().size();
}

std::uint8_t codeByte(const ResponseCode& code) {
    return static_cast<std::uint8_t>(code.value());
}

} // namespace

std::string SimulatedBootloader::settingsProblem(const BootloaderSettings& settings) {
    if (settings.pageSizeCode < 4 || settings.pageSizeCode > 16) {
        return "the page size code must lie between 4 (16 bytes) and 16 (64 KiB)";
    }
    if (settings.bufferSizeCode > settings.pageSizeCode || settings.bufferSizeCode > 15) {
        return "the buffer size code must not exceed the page size code (nor 15)";
    }
    if (settings.packetSizeCode > 15) {
        return "the packet size code must not exceed 15";
    }
    const std::uint32_t page = std::uint32_t{1} << settings.pageSizeCode;
    if (settings.appEnd > kMaximumAddress) {
        return "the application area must lie within 24-bit addresses";
    }
    if (settings.appStart > settings.appEnd) {
        return "the application area ends before it starts";
    }
    if (settings.appStart % page != 0 || (settings.appEnd + 1) % page != 0) {
        return "the application area must start and end on page boundaries";
    }
    return {};
}

SimulatedBootloader::SimulatedBootloader(const BootloaderSettings& settings, const FaultSettings& faults,
                                         EmulatedFlash& flash, Hooks hooks,
                                         std::function<Clock::time_point()> now)
    : _settings(settings), _faults(faults), _flash(flash), _hooks(std::move(hooks)), _now(std::move(now)),
      _lastActivity(_now()) {}

void SimulatedBootloader::restart() {
    _frame.clear();
    _frameLength = 0;
    _command = nullptr;
    _pending.reset();
}

void SimulatedBootloader::onBytes(std::span<const std::uint8_t> bytes) {
    if (_faults.silentBootloader) {
        return;
    }
    // The line drops as the host goes on after the last block it was allowed: the
    // answer to that block has reached it, the next frame never arrives.
    if (_faults.unplugAfterBlocks > 0 && _blocksWritten >= static_cast<unsigned>(_faults.unplugAfterBlocks)) {
        if (_hooks.unplug) {
            _hooks.unplug();
        }
        return;
    }
    if ((!_frame.empty() || _pending) && _now() - _lastActivity > kFrameGap) {
        restart();
    }
    for (const std::uint8_t byte : bytes) {
        takeByte(byte);
    }
    // Measured after the replies, so that a slow reply does not count as the host's silence.
    _lastActivity = _now();
}

const TargetCommand* SimulatedBootloader::commandFor(std::uint8_t code) const {
    for (const auto& [id, command] : TargetCommand::registry()) {
        if (!command->codeBytes().empty() && command->codeBytes()[0] == code) {
            return command;
        }
    }
    return nullptr;
}

void SimulatedBootloader::takeByte(std::uint8_t byte) {
    if (_pending) {
        _frame.push_back(byte);
        if (_frame.size() == _pending->length) {
            onBlockData();
        }
        return;
    }
    if (_frame.empty()) {
        _command = commandFor(byte);
        if (_command == nullptr) {
            answer(ResponseCode::UnsupportedCommand);
            return;
        }
        _frameLength = frameLengthOf(*_command);
    }
    _frame.push_back(byte);
    if (_frame.size() == _frameLength) {
        onFrame(*_command);
        if (!_pending) {
            _frame.clear();
        }
    }
}

void SimulatedBootloader::onFrame(const TargetCommand& command) {
    if (command == TargetCommand::EnterBootloadMode) {
        const auto expected = BootloaderFrame::command(TargetCommand::EnterBootloadMode);
        answer(std::equal(_frame.begin(), _frame.end(), expected.begin(), expected.end())
                   ? ResponseCode::BootloadMode
                   : ResponseCode::InvalidParameter);
    } else if (command == TargetCommand::GetInfo) {
        getInfo();
    } else if (command == TargetCommand::ResetMcu) {
        answer(ResponseCode::Ok);
        restart();
        if (_hooks.reset) {
            _hooks.reset();
        }
    } else if (command == TargetCommand::EraseFlashPage) {
        erasePage();
    } else if (command == TargetCommand::WriteSignature) {
        writeSignature();
    } else if (command == TargetCommand::GetPageCrc16 || command == TargetCommand::GetPageCrc32) {
        getPageCrc();
    } else if (command == TargetCommand::WriteFlashBytes) {
        writeHeader();
    } else {
        answer(ResponseCode::UnsupportedCommand);
    }
}

bool SimulatedBootloader::keyValid() const {
    return _frame.size() > kKeyOffset + 1 && _frame[kKeyOffset] == BootloaderFrame::kGuard0 &&
           _frame[kKeyOffset + 1] == BootloaderFrame::kGuard1;
}

std::uint32_t SimulatedBootloader::frameAddress(std::size_t offset) const {
    return std::uint32_t{_frame[offset]} | std::uint32_t{_frame[offset + 1]} << 8 |
           std::uint32_t{_frame[offset + 2]} << 16;
}

void SimulatedBootloader::getInfo() {
    Bytes reply{codeByte(ResponseCode::Ok)};
    const Bytes own = bootloaderBlock();
    reply.insert(reply.end(), own.begin(), own.end());
    const Bytes application = applicationBlock();
    if (application.empty()) {
        reply.push_back(0); // no application
    } else {
        reply.insert(reply.end(), application.begin(), application.end());
    }
    send(reply);
}

void SimulatedBootloader::erasePage() {
    if (!keyValid()) {
        answer(ResponseCode::InvalidParameter);
        return;
    }
    const std::uint32_t address = frameAddress(kAddressOffset);
    if (!_flash.isPageStart(address)) {
        answer(ResponseCode::AddressInvalid);
    } else if (_flash.signature() && address != _flash.signaturePage()) {
        answer(ResponseCode::SignatureNotErased);
    } else {
        answer(_flash.erasePage(address) == wyr::windows::system::ERROR_SUCCESS ? ResponseCode::Ok
                                                                                : ResponseCode::Error);
    }
}

void SimulatedBootloader::writeSignature() {
    const auto expected = BootloaderFrame::writeSignature();
    if (!std::equal(_frame.begin(), _frame.begin() + kSignatureCodeEnd, expected.begin())) {
        answer(ResponseCode::InvalidParameter);
        return;
    }
    answer(_flash.setSignature(true) == wyr::windows::system::ERROR_SUCCESS ? ResponseCode::Ok
                                                                            : ResponseCode::Error);
}

void SimulatedBootloader::getPageCrc() {
    const std::uint32_t address = frameAddress(kCrcAddressOffset);
    if (!_flash.isPageStart(address)) {
        answer(ResponseCode::AddressInvalid);
        return;
    }
    const auto page = _flash.bytes(address, _flash.pageSize());
    std::uint32_t crc = 0;
    std::size_t width = 0;
    if (_settings.crcType == bootloader::CrcType::Ccitt16.value()) {
        crc = bootloader::PageChecksum::ccitt16(page);
        width = 2;
    } else if (_settings.crcType == bootloader::CrcType::Ieee8023.value()) {
        crc = bootloader::PageChecksum::ieee32(page);
        width = 4;
    } else {
        answer(ResponseCode::UnsupportedCommand);
        return;
    }
    if (++_crcReplies == _faults.badPageCrcAt) {
        crc = ~crc;
    }
    Bytes reply{codeByte(ResponseCode::Ok)};
    for (std::size_t i = 0; i < width; ++i) {
        reply.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    }
    send(reply);
}

void SimulatedBootloader::writeHeader() {
    if (!keyValid()) {
        answer(ResponseCode::InvalidParameter);
        return;
    }
    const std::uint32_t address = frameAddress(kAddressOffset);
    const std::size_t length = std::size_t{_frame[kLengthOffset]} | std::size_t{_frame[kLengthOffset + 1]}
                                                                        << 8;
    if (length == 0 || length > bootloader::sizeFromCode(_settings.bufferSizeCode)) {
        answer(ResponseCode::InvalidParameter);
    } else if (!_flash.contains(address, static_cast<std::uint32_t>(length))) {
        answer(ResponseCode::AddressInvalid);
    } else if (_flash.signature()) {
        answer(ResponseCode::SignatureNotErased);
    } else {
        _frame.clear();
        _pending = PendingBlock{address, length};
        answer(ResponseCode::Ok);
    }
}

void SimulatedBootloader::onBlockData() {
    const PendingBlock block = *_pending;
    const Bytes data = std::move(_frame);
    _frame.clear();
    _pending.reset();
    ++_blocksReceived;
    if (_faults.failEveryBlock || _blocksReceived == _faults.failBlockAt) {
        answer(ResponseCode::Error);
        return;
    }
    if (_flash.program(block.address, data) != wyr::windows::system::ERROR_SUCCESS) {
        answer(ResponseCode::Error);
        return;
    }
    ++_blocksWritten;
    answer(ResponseCode::Ok);
}

void SimulatedBootloader::answer(const ResponseCode& code) {
    send(Bytes{codeByte(code)});
}

void SimulatedBootloader::send(const Bytes& bytes) {
    if (_hooks.reply) {
        _hooks.reply(bytes);
    }
}

SimulatedBootloader::Bytes SimulatedBootloader::bootloaderBlock() const {
    Bytes block(TargetInfoReply::kBootloaderBlockSize, 0);
    block[0] = static_cast<std::uint8_t>(block.size());
    std::copy(_settings.versionBytes.begin(), _settings.versionBytes.end(), block.begin() + 1);
    block[5] = _settings.productCode;
    block[6] = _settings.bootloaderType;
    block[7] = _settings.pageSizeCode;
    block[8] = static_cast<std::uint8_t>((_settings.packetSizeCode << 4) | (_settings.bufferSizeCode & 0x0F));
    block[9] = _settings.crcType;
    for (std::size_t i = 0; i < 3; ++i) {
        block[10 + i] = static_cast<std::uint8_t>(_settings.appStart >> (8 * i));
        block[13 + i] = static_cast<std::uint8_t>(_settings.appEnd >> (8 * i));
    }
    return block;
}

SimulatedBootloader::Bytes SimulatedBootloader::applicationBlock() const {
    const std::uint32_t top = _flash.end();
    const std::uint8_t length = _flash.read(top);
    const std::uint32_t available = top - _flash.start() + 1;
    if (length == EmulatedFlash::kErased || length < TargetInfoReply::kTargetBlockSize ||
        length > available) {
        return {};
    }
    Bytes block(length);
    for (std::uint32_t i = 0; i < length; ++i) {
        block[i] = _flash.read(top - i);
    }
    return block;
}

bool SimulatedBootloader::applicationValid() const {
    if (!_flash.signature()) {
        return false;
    }
    const Bytes block = applicationBlock();
    bootloader::InfoBlock decoded = TargetInfoReply::emptyBlock(bootloader::InfoBlockType::TargetInfoBlock);
    return !block.empty() && TargetInfoReply::parseInfoBlock(block, decoded);
}

} // namespace sim
