#include "sim/EmulatedFlash.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

using namespace wyr::windows::system;

namespace {

// A flash file is a 32-byte header followed by the area's bytes. The header names
// the area it was made for, so that a file is never read into another geometry.
constexpr char kMagic[8] = {'O', 'R', 'V', 'F', 'L', 'A', 'S', 'H'};
constexpr std::uint32_t kFormat = 1;
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kSignatureOffset = 24;

void putWord(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

ErrorCode writeAll(int fd, std::uint64_t offset, std::span<const std::uint8_t> data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errorFromErrno(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return ERROR_SUCCESS;
}

// Opens and locks a flash file; the lock keeps a second simulator off the same flash.
ErrorCode openLocked(const std::string& path, int flags, Descriptor& file) {
    file.reset(::open(path.c_str(), flags | O_RDWR | O_CLOEXEC, 0644));
    if (!file) {
        return errorFromErrno(errno);
    }
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        const ErrorCode error = errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : errorFromErrno(errno);
        file.reset();
        return error;
    }
    return ERROR_SUCCESS;
}

} // namespace

EmulatedFlash::EmulatedFlash(std::uint32_t start, std::uint32_t end, std::uint32_t pageSize)
    : _start(start), _end(end), _pageSize(pageSize), _memory(std::size_t{end} - start + 1, kErased) {}

bool EmulatedFlash::contains(std::uint32_t address, std::uint32_t length) const noexcept {
    return length > 0 && address >= _start && address <= _end && length - 1 <= _end - address;
}

bool EmulatedFlash::isPageStart(std::uint32_t address) const noexcept {
    return contains(address) && (address - _start) % _pageSize == 0;
}

std::uint8_t EmulatedFlash::read(std::uint32_t address) const noexcept {
    return contains(address) ? _memory[address - _start] : kErased;
}

std::span<const std::uint8_t> EmulatedFlash::bytes(std::uint32_t address,
                                                   std::uint32_t length) const noexcept {
    if (!contains(address, length)) {
        return {};
    }
    return std::span<const std::uint8_t>(_memory).subspan(address - _start, length);
}

ErrorCode EmulatedFlash::erasePage(std::uint32_t pageAddress) {
    if (!isPageStart(pageAddress)) {
        return ERROR_INVALID_ADDRESS;
    }
    // The signature goes first: a page half erased must never look signed.
    if (pageAddress == signaturePage() && _signature) {
        if (const ErrorCode error = setSignature(false); error != ERROR_SUCCESS) {
            return error;
        }
    }
    const std::vector<std::uint8_t> erased(_pageSize, kErased);
    if (const ErrorCode error = writeThrough(kHeaderSize + (pageAddress - _start), erased);
        error != ERROR_SUCCESS) {
        return error;
    }
    std::fill_n(_memory.begin() + (pageAddress - _start), _pageSize, kErased);
    return ERROR_SUCCESS;
}

ErrorCode EmulatedFlash::program(std::uint32_t address, std::span<const std::uint8_t> data) {
    if (!contains(address, static_cast<std::uint32_t>(data.size())) || data.size() > _memory.size()) {
        return ERROR_INVALID_ADDRESS;
    }
    std::vector<std::uint8_t> result(data.begin(), data.end());
    const std::size_t offset = address - _start;
    for (std::size_t i = 0; i < result.size(); ++i) {
        result[i] &= _memory[offset + i];
    }
    if (const ErrorCode error = writeThrough(kHeaderSize + offset, result); error != ERROR_SUCCESS) {
        return error;
    }
    std::copy(result.begin(), result.end(), _memory.begin() + static_cast<std::ptrdiff_t>(offset));
    return ERROR_SUCCESS;
}

ErrorCode EmulatedFlash::setSignature(bool present) {
    const std::uint8_t cell = present ? 1 : 0;
    if (const ErrorCode error = writeThrough(kSignatureOffset, std::span(&cell, 1)); error != ERROR_SUCCESS) {
        return error;
    }
    _signature = present;
    return ERROR_SUCCESS;
}

std::vector<std::uint8_t> EmulatedFlash::header(bool signature) const {
    std::vector<std::uint8_t> bytes(kHeaderSize, 0);
    std::memcpy(bytes.data(), kMagic, sizeof kMagic);
    putWord(bytes, 8, kFormat);
    putWord(bytes, 12, _start);
    putWord(bytes, 16, _end);
    putWord(bytes, 20, _pageSize);
    bytes[kSignatureOffset] = signature ? 1 : 0;
    return bytes;
}

ErrorCode EmulatedFlash::load(const std::string& path) {
    Descriptor file;
    if (const ErrorCode error = openLocked(path, 0, file); error != ERROR_SUCCESS) {
        return error;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        return errorFromErrno(errno);
    }
    if (static_cast<std::uint64_t>(info.st_size) != kHeaderSize + _memory.size()) {
        return ERROR_INVALID_DATA;
    }
    std::vector<std::uint8_t> contents(kHeaderSize + _memory.size());
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n =
            ::pread(file.get(), contents.data() + done, contents.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0 ? ERROR_INVALID_DATA : errorFromErrno(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    const std::uint8_t cell = contents[kSignatureOffset];
    if (cell > 1 ||
        !std::equal(contents.begin(), contents.begin() + kHeaderSize, header(cell == 1).begin())) {
        return ERROR_INVALID_DATA;
    }
    std::copy(contents.begin() + kHeaderSize, contents.end(), _memory.begin());
    _signature = cell == 1;
    _file = std::move(file);
    return ERROR_SUCCESS;
}

ErrorCode EmulatedFlash::create(const std::string& path) {
    Descriptor file;
    if (const ErrorCode error = openLocked(path, O_CREAT, file); error != ERROR_SUCCESS) {
        return error;
    }
    ErrorCode error = ::ftruncate(file.get(), 0) == 0 ? ERROR_SUCCESS : errorFromErrno(errno);
    if (error == ERROR_SUCCESS) {
        error = writeAll(file.get(), 0, header(_signature));
    }
    if (error == ERROR_SUCCESS) {
        error = writeAll(file.get(), kHeaderSize, _memory);
    }
    if (error != ERROR_SUCCESS) {
        // A half-written file would only be refused at the next start.
        ::unlink(path.c_str());
        return error;
    }
    _file = std::move(file);
    return ERROR_SUCCESS;
}

ErrorCode EmulatedFlash::writeThrough(std::uint64_t offset, std::span<const std::uint8_t> data) {
    return _file ? writeAll(_file.get(), offset, data) : ERROR_SUCCESS;
}

} // namespace sim
