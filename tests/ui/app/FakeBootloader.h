#pragma once

#include "bootloader/BootloaderInterface.h"
#include "bootloader/BootloaderNotification.h"
#include "bootloader/BootloaderNotifyState.h"
#include "bootloader/BootloaderNotifyType.h"
#include "bootloader/InfoBlock.h"

#include <boost/signals2/signal.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace test {

// A bootloader that only records what it is asked; the test plays the worker by
// sending the records it would have posted, in the order it would have posted
// them, and sets the step and blocks they announce.
class FakeBootloader : public bootloader::BootloaderInterface {
public:
    using Type = bootloader::BootloaderNotifyType;
    using State = bootloader::BootloaderNotifyState;

    ErrorCode initialize(wyr::windows::communication::PortHandle, bootloader::BootloaderEntry) override {
        return 0;
    }
    void finalize() override {}
    boost::signals2::connection connect(const Callback& callback) override {
        return signal.connect(callback);
    }
    void enterBootloadMode() override { calls.emplace_back("enterBootloadMode"); }
    void cancelBootloadMode() override { calls.emplace_back("cancelBootloadMode"); }
    void getTargetInfo() override { calls.emplace_back("getTargetInfo"); }
    void loadFile(const std::wstring&) override { calls.emplace_back("loadFile"); }
    void eraseTarget() override { calls.emplace_back("eraseTarget"); }
    void writeTarget() override { calls.emplace_back("writeTarget"); }
    void resetTarget() override { calls.emplace_back("resetTarget"); }
    ErrorCode setSerialNumber(std::uint16_t serial) override {
        calls.emplace_back("setSerialNumber");
        if (!source) {
            return 487;
        }
        source->serialNo = serial;
        return 0;
    }
    bool getInfoBlock(const bootloader::InfoBlockType& type, bootloader::InfoBlock& out) const override {
        if (type == bootloader::InfoBlockType::BootloaderInfoBlock) {
            out = device;
            return true;
        }
        if (type == bootloader::InfoBlockType::TargetInfoBlock) {
            out = target;
            return true;
        }
        if (type == bootloader::InfoBlockType::SourceInfoBlock && source) {
            out = *source;
            return true;
        }
        return false;
    }
    Type getState() const override { return step; }

    // A record as the worker posts it: a progress record for the long steps.
    void send(const Type& type, const State& state, std::uint32_t result = 0, std::uint32_t current = 0,
              std::uint32_t total = 0) {
        if (bootloader::BootloaderProgress::carries(type)) {
            const bootloader::BootloaderProgress record(type, state, result, current, total);
            signal(&record);
        } else {
            const bootloader::tagBLNHDR record(type, state, result);
            signal(&record);
        }
    }

    // The last request, "" when none.
    std::string last() const { return calls.empty() ? std::string() : calls.back(); }

    // A device with a 4 KiB application area of 512-byte pages at 0x1000, and an
    // image that fits it.
    static bootloader::InfoBlock deviceBlock() {
        bootloader::InfoBlock block;
        block.type = bootloader::InfoBlockType::BootloaderInfoBlock;
        block.length = 12;
        block.productCode = 0x42;
        block.bootloaderType = 0x80;
        block.pageSizeCode = 9;
        block.packetSizeCode = 6;
        block.bufferSizeCode = 6;
        block.crcType = 0x40;
        block.appStart = 0x1000;
        block.appEnd = 0x1FFF;
        return block;
    }
    static bootloader::InfoBlock imageBlock() {
        bootloader::InfoBlock block = deviceBlock();
        block.type = bootloader::InfoBlockType::SourceInfoBlock;
        block.appEnd = 0x1FFF;
        block.serialNo = 1234;
        return block;
    }

    boost::signals2::signal<void(const bootloader::tagBLNHDR*)> signal;
    std::vector<std::string> calls;
    Type step = Type::None;
    bootloader::InfoBlock device;
    bootloader::InfoBlock target;
    std::optional<bootloader::InfoBlock> source;
};

} // namespace test
