#pragma once

#include "bootloader/PageChecksum.h"
#include "tests/unit/communication/PtyPair.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace test {

// A bootloader with 256-byte pages, 64-byte blocks and CRC-16-CCITT, played on the
// master side of a pseudo-terminal: it answers every command frame the way the
// device does and keeps the flash it programs, so that a test can look at what
// was erased and written. Faults are scripted per command and address: the next
// `times` attempts fail, later ones succeed.
class ScriptedBootloader {
public:
    static constexpr std::uint8_t kPageSizeCode = 8;
    static constexpr std::uint32_t kPageSize = 256;
    static constexpr std::uint8_t kBufferSizeCode = 6;
    static constexpr std::uint32_t kAppStart = 0x0400;
    static constexpr std::uint32_t kAppEnd = 0x0BFF; // 8 pages, 4 .. 11
    static constexpr std::uint32_t kFlashSize = 0x1000;
    // What the flash held before the update: neither erased nor the image.
    static constexpr std::uint8_t kOldContent = 0x5A;

    struct Command {
        std::uint8_t code;
        std::uint32_t address; // 0 for commands without one
    };

    // `application` says whether the application info block reports an
    // application (length 12) or none (length 0). `answer` false: the bootloader
    // takes frames but never replies.
    explicit ScriptedBootloader(PtyPair& pty, bool application = true, bool answer = true)
        : _pty(pty), _application(application), _answer(answer), _flash(kFlashSize, kOldContent) {
        _thread = std::thread([this] { serve(); });
    }
    ~ScriptedBootloader() {
        _stop = true;
        _thread.join();
    }
    ScriptedBootloader(const ScriptedBootloader&) = delete;
    ScriptedBootloader& operator=(const ScriptedBootloader&) = delete;

    // The 16-byte bootloader info block it reports (after the 0x00 code).
    static Bytes bootloaderBlock(std::uint8_t bufferSizeCode = kBufferSizeCode) {
        return {0x10,
                0x05,
                0x40,
                0x02,
                0x30,
                0x2A,
                0x80,
                kPageSizeCode,
                static_cast<std::uint8_t>(0x60 | bufferSizeCode),
                0x40,
                kAppStart & 0xFF,
                (kAppStart >> 8) & 0xFF,
                0x00,
                kAppEnd & 0xFF,
                (kAppEnd >> 8) & 0xFF,
                0x00};
    }

    void failErase(std::uint32_t address, int times) { fault(0x30, address, times); }
    // The block's data frame is answered with 0x80.
    void failBlock(std::uint32_t address, int times) { fault(0x70, address, times); }
    // The page's checksum is reported wrong.
    void failChecksum(std::uint32_t address, int times) { fault(0x60, address, times); }
    void failSignature(int times) { fault(0x40, 0, times); }
    // Reports this buffer size code instead of its own.
    void reportBufferSizeCode(std::uint8_t code) {
        std::lock_guard guard(_lock);
        _reportedBufferCode = code;
    }

    std::vector<Command> commands() const {
        std::lock_guard guard(_lock);
        return _commands;
    }
    std::vector<Command> commands(std::uint8_t code) const {
        std::vector<Command> found;
        for (const auto& c : commands()) {
            if (c.code == code) {
                found.push_back(c);
            }
        }
        return found;
    }
    std::size_t count(std::uint8_t code) const { return commands(code).size(); }
    // Whether the application would start at the next reset. Like the device, it
    // talks to the updater only with the signature withdrawn: by the hand-over
    // from the application, or by an update that never completed. Signing sets
    // it, erasing the signature page clears it.
    bool applicationSigned() const {
        std::lock_guard guard(_lock);
        return _signed;
    }
    Bytes flash(std::uint32_t address, std::size_t length) const {
        std::lock_guard guard(_lock);
        return Bytes(_flash.begin() + address, _flash.begin() + static_cast<long>(address + length));
    }

    // Waits until `n` commands have arrived.
    bool waitForCommands(std::size_t n) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (commands().size() >= n) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

private:
    void fault(std::uint8_t code, std::uint32_t address, int times) {
        std::lock_guard guard(_lock);
        _faults[{code, address}] += times;
    }
    // Consumes one scripted failure, if any is left.
    bool failing(std::uint8_t code, std::uint32_t address) {
        std::lock_guard guard(_lock);
        const auto it = _faults.find({code, address});
        if (it == _faults.end() || it->second == 0) {
            return false;
        }
        --it->second;
        return true;
    }

    // Reads exactly `count` bytes unless the test ends first.
    bool read(Bytes& out, std::size_t count) {
        out.clear();
        std::uint8_t chunk[512];
        while (out.size() < count) {
            if (_stop) {
                return false;
            }
            const ssize_t n = ::read(_pty.master(), chunk, std::min(sizeof chunk, count - out.size()));
            if (n > 0) {
                out.insert(out.end(), chunk, chunk + n);
            } else {
                pollfd entry{_pty.master(), POLLIN, 0};
                ::poll(&entry, 1, 20);
            }
        }
        return true;
    }

    void reply(const Bytes& bytes) {
        if (_answer) {
            _pty.send(bytes);
        }
    }

    static std::uint32_t address(const Bytes& frame, std::size_t at) {
        return frame[at] | frame[at + 1] << 8 | frame[at + 2] << 16;
    }

    void record(std::uint8_t code, std::uint32_t at) {
        std::lock_guard guard(_lock);
        _commands.push_back({code, at});
    }

    void serve() {
        Bytes head;
        Bytes rest;
        while (read(head, 1)) {
            const std::uint8_t code = head[0];
            switch (code) {
            case 0x10: // enter bootload mode
                if (!read(rest, 1)) {
                    return;
                }
                record(code, 0);
                reply({0x02});
                break;
            case 0x20: { // info
                record(code, 0);
                Bytes answer{0x00};
                std::uint8_t bufferCode = kBufferSizeCode;
                {
                    std::lock_guard guard(_lock);
                    bufferCode = _reportedBufferCode;
                }
                const Bytes block = bootloaderBlock(bufferCode);
                answer.insert(answer.end(), block.begin(), block.end());
                if (_application) {
                    const Bytes target{0x0C, 0x2A, 0x80, kPageSizeCode, 0x66, 0x40,
                                       0x07, 0x80, 0x04, 0x10,          0x34, 0x12};
                    answer.insert(answer.end(), target.begin(), target.end());
                } else {
                    answer.push_back(0x00);
                }
                reply(answer);
                break;
            }
            case 0x50: // reset
                record(code, 0);
                reply({0x00});
                break;
            case 0x30: { // erase page
                if (!read(rest, 7)) {
                    return;
                }
                const std::uint32_t at = address(rest, 2);
                record(code, at);
                if (failing(code, at) || at + kPageSize > kFlashSize) {
                    reply({0x80});
                    break;
                }
                {
                    std::lock_guard guard(_lock);
                    std::fill_n(_flash.begin() + at, kPageSize, 0xFF);
                    if (at == kAppEnd + 1 - kPageSize) {
                        _signed = false;
                    }
                }
                reply({0x00});
                break;
            }
            case 0x40: // signature
                if (!read(rest, 7)) {
                    return;
                }
                record(code, 0);
                if (failing(code, 0)) {
                    reply({0x03});
                    break;
                }
                {
                    std::lock_guard guard(_lock);
                    _signed = true;
                }
                reply({0x00});
                break;
            case 0x60: { // page checksum
                if (!read(rest, 7)) {
                    return;
                }
                const std::uint32_t at = address(rest, 0);
                record(code, at);
                std::uint16_t crc = 0;
                {
                    std::lock_guard guard(_lock);
                    const Bytes page(_flash.begin() + at, _flash.begin() + at + kPageSize);
                    crc = bootloader::PageChecksum::ccitt16(page);
                }
                if (failing(code, at)) {
                    crc = static_cast<std::uint16_t>(crc ^ 0x0101);
                }
                reply({0x00, static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)});
                break;
            }
            case 0x70: { // write block: header, then the data
                if (!read(rest, 7)) {
                    return;
                }
                const std::uint32_t at = address(rest, 2);
                const std::size_t length = rest[5] | rest[6] << 8;
                record(code, at);
                reply({0x00});
                Bytes data;
                if (!read(data, length)) {
                    return;
                }
                if (failing(code, at)) {
                    reply({0x80});
                    break;
                }
                {
                    // Flash bits only go from 1 to 0 until the page is erased.
                    std::lock_guard guard(_lock);
                    for (std::size_t i = 0; i < length && at + i < kFlashSize; ++i) {
                        _flash[at + i] &= data[i];
                    }
                }
                reply({0x00});
                break;
            }
            default:
                record(code, 0);
                break;
            }
        }
    }

    PtyPair& _pty;
    const bool _application;
    const bool _answer;
    std::atomic<bool> _stop{false};
    mutable std::mutex _lock;
    Bytes _flash;
    std::vector<Command> _commands;
    std::map<std::pair<std::uint8_t, std::uint32_t>, int> _faults;
    std::uint8_t _reportedBufferCode = kBufferSizeCode;
    bool _signed = false;
    std::thread _thread;
};

} // namespace test
