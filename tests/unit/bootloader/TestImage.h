#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace test {

// A firmware image written as an Intel HEX file into a private temporary folder.
// It carries its own info block in its top twelve bytes, with the sizes of the
// scripted bootloader unless told otherwise.
class TestImage {
public:
    using Bytes = std::vector<std::uint8_t>;

    TestImage() {
        std::string pattern = (std::filesystem::temp_directory_path() / "flash-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("no temporary folder");
        }
        _dir = pattern;
    }
    ~TestImage() {
        std::error_code ec;
        std::filesystem::remove_all(_dir, ec);
    }
    TestImage(const TestImage&) = delete;
    TestImage& operator=(const TestImage&) = delete;

    // A data run at `address`.
    void add(std::uint32_t address, const Bytes& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            _bytes.emplace(static_cast<std::uint32_t>(address + i), bytes[i]);
        }
    }

    // The info block whose last byte is at `top`.
    void addInfoBlock(std::uint32_t top, std::uint8_t pageSizeCode, std::uint8_t bufferSizeCode,
                      std::uint16_t serial = 0x1234) {
        add(top - 11, {static_cast<std::uint8_t>(serial >> 8), static_cast<std::uint8_t>(serial & 0xFF), 0x10,
                       0x02, 0x40, 0x05, 0x40, static_cast<std::uint8_t>(0x60 | bufferSizeCode), pageSizeCode,
                       0x80, 0x2A, 0x0C});
    }

    // The bytes of a page as they are programmed: what the image holds, 0xFF elsewhere.
    Bytes page(std::uint32_t address, std::uint32_t size) const {
        Bytes out(size, 0xFF);
        for (std::uint32_t i = 0; i < size; ++i) {
            const auto it = _bytes.find(address + i);
            if (it != _bytes.end()) {
                out[i] = it->second;
            }
        }
        return out;
    }

    // Writes the file, `perRecord` data bytes per line, and returns its path.
    std::string write(std::size_t perRecord = 32, const std::string& name = "image.hex") const {
        std::string text;
        std::vector<std::pair<std::uint32_t, Bytes>> runs;
        for (const auto& [address, byte] : _bytes) {
            if (runs.empty() || runs.back().first + runs.back().second.size() != address ||
                runs.back().second.size() == perRecord) {
                runs.push_back({address, {}});
            }
            runs.back().second.push_back(byte);
        }
        for (const auto& [address, data] : runs) {
            text += record(0x00, static_cast<std::uint16_t>(address), data) + "\n";
        }
        text += ":00000001FF\n";
        const auto path = _dir / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    // The number of lines write() produces.
    std::size_t lineCount(std::size_t perRecord = 32) const {
        std::size_t lines = 1;
        std::size_t run = 0;
        std::uint32_t next = 0xFFFFFFFF;
        for (const auto& entry : _bytes) {
            if (entry.first != next || run == perRecord) {
                ++lines;
                run = 0;
            }
            ++run;
            next = entry.first + 1;
        }
        return lines;
    }

    static Bytes pattern(std::size_t count, std::uint8_t seed) {
        Bytes bytes(count);
        for (std::size_t i = 0; i < count; ++i) {
            bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
        }
        return bytes;
    }

    // One Intel HEX record with its checksum, upper-case digits.
    static std::string record(std::uint8_t type, std::uint16_t address, const Bytes& data) {
        Bytes fields{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                     static_cast<std::uint8_t>(address & 0xFF), type};
        fields.insert(fields.end(), data.begin(), data.end());
        std::uint8_t sum = 0;
        std::string text = ":";
        char digits[3];
        for (const auto b : fields) {
            std::snprintf(digits, sizeof digits, "%02X", b);
            text += digits;
            sum = static_cast<std::uint8_t>(sum + b);
        }
        std::snprintf(digits, sizeof digits, "%02X", static_cast<std::uint8_t>(0x100 - sum));
        return text + digits;
    }

private:
    std::filesystem::path _dir;
    std::map<std::uint32_t, std::uint8_t> _bytes;
};

} // namespace test
