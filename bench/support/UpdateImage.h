#pragma once

#include "sim/InstrumentSimulator.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace bench {

// The device and image of the firmware update benchmarks, so that their figures
// compare: a 32 KiB image filling a 32 KiB application area of 512-byte pages,
// written in 64-byte blocks, with the line set to 115200 baud.
struct UpdateImage {
    static constexpr std::uint32_t kAppStart = 0x001000;
    static constexpr std::uint32_t kAppEnd = 0x008FFF; // 32 KiB
    static constexpr std::uint8_t kPageSizeCode = 9;
    static constexpr std::uint8_t kBufferSizeCode = 6;
    static constexpr std::uint32_t kPageSize = 1U << kPageSizeCode;
    static constexpr std::uint32_t kBlockSize = 1U << kBufferSizeCode;
    static constexpr std::uint32_t kBytesPerRecord = 32;
    static constexpr std::uint32_t kBaud = 115200;
    static constexpr std::uint32_t kPages = (kAppEnd + 1 - kAppStart) / kPageSize;

    // A simulator in its bootloader, with no application.
    static sim::InstrumentSettings device() {
        sim::InstrumentSettings settings;
        settings.bootloader.appStart = kAppStart;
        settings.bootloader.appEnd = kAppEnd;
        settings.bootloader.pageSizeCode = kPageSizeCode;
        settings.bootloader.bufferSizeCode = kBufferSizeCode;
        settings.bootloader.startInBootloader = true;
        return settings;
    }

    // The image: code over the whole area, its info block in the top twelve bytes.
    // Returns the number of lines.
    static std::uint32_t write(const std::filesystem::path& path) {
        std::map<std::uint32_t, std::uint8_t> bytes;
        for (std::uint32_t a = kAppStart; a <= kAppEnd; ++a) {
            bytes[a] = static_cast<std::uint8_t>(a * 31 + 7);
        }
        const std::vector<std::uint8_t> block{
            0x12,          0x34, 0x30, 0x04,
            0x00,          0x07, 0x40, static_cast<std::uint8_t>(0x60 | kBufferSizeCode),
            kPageSizeCode, 0x80, 0x42, 0x0C};
        for (std::size_t i = 0; i < block.size(); ++i) {
            bytes[kAppEnd - 11 + static_cast<std::uint32_t>(i)] = block[i];
        }
        std::ofstream out(path, std::ios::binary);
        std::uint32_t lines = 0;
        for (std::uint32_t a = kAppStart; a <= kAppEnd; a += kBytesPerRecord) {
            std::vector<std::uint8_t> data;
            for (std::uint32_t i = 0; i < kBytesPerRecord; ++i) {
                data.push_back(bytes[a + i]);
            }
            out << record(0x00, static_cast<std::uint16_t>(a), data);
            ++lines;
        }
        out << ":00000001FF\n";
        return lines + 1;
    }

    // The settings file that sets the line rate for orvanectl.
    static void writeSettings(const std::filesystem::path& file) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << "Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Device.Serial]\n"
                               "\"BaudRate\"=\"1|"
                            << kBaud << "\"\n";
    }

private:
    static std::string record(std::uint8_t type, std::uint16_t address,
                              const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> fields{static_cast<std::uint8_t>(data.size()),
                                         static_cast<std::uint8_t>(address >> 8),
                                         static_cast<std::uint8_t>(address & 0xFF), type};
        fields.insert(fields.end(), data.begin(), data.end());
        std::string text = ":";
        std::uint8_t sum = 0;
        char digits[3];
        for (const auto b : fields) {
            std::snprintf(digits, sizeof digits, "%02X", b);
            text += digits;
            sum = static_cast<std::uint8_t>(sum + b);
        }
        std::snprintf(digits, sizeof digits, "%02X", static_cast<std::uint8_t>(0x100 - sum));
        return text + digits + "\n";
    }
};

} // namespace bench
