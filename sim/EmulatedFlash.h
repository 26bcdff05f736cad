#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/Descriptor.h"
#include "wyr/windows/system/SystemError.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

// The application area of the instrument's flash, behaving as NOR flash does:
// erased bytes read 0xFF, erasing works on whole pages, and programming can only
// clear bits, so a second write without an erase leaves the AND of both. Beside
// the bytes the area keeps the application signature, a cell of its last page
// that the bootloader checks before it starts the application; erasing that page
// clears it.
//
// The area can be backed by a file that every change is written through to, so
// the contents survive a restart of the simulator. A change that cannot be
// written to the file is not made in memory either.
class EmulatedFlash : private wyr::memory::NonCopyable {
public:
    using ErrorCode = wyr::windows::system::ErrorCode;

    static constexpr std::uint8_t kErased = 0xFF;

    // The area [start, end] in pages of pageSize bytes; the caller has checked that
    // both ends lie on page boundaries. Starts erased, without a signature.
    EmulatedFlash(std::uint32_t start, std::uint32_t end, std::uint32_t pageSize);

    std::uint32_t start() const noexcept { return _start; }
    std::uint32_t end() const noexcept { return _end; }
    std::uint32_t pageSize() const noexcept { return _pageSize; }
    // The last page, which holds the signature and the application's info block.
    std::uint32_t signaturePage() const noexcept { return _end + 1 - _pageSize; }

    // Whether all of [address, address + length) lies in the area (length > 0).
    bool contains(std::uint32_t address, std::uint32_t length = 1) const noexcept;
    // Whether the address is the first byte of a page of the area.
    bool isPageStart(std::uint32_t address) const noexcept;

    // Reads; addresses outside the area read as erased.
    std::uint8_t read(std::uint32_t address) const noexcept;
    // The bytes of [address, address + length), which must lie in the area.
    std::span<const std::uint8_t> bytes(std::uint32_t address, std::uint32_t length) const noexcept;

    // 0, ERROR_INVALID_ADDRESS when the request leaves the area or the page address is
    // not a page start, or the error of writing the backing file.
    ErrorCode erasePage(std::uint32_t pageAddress);
    ErrorCode program(std::uint32_t address, std::span<const std::uint8_t> data);

    bool signature() const noexcept { return _signature; }
    // Writing the signature sets it; clearing it is what an application does that
    // hands over to the bootloader, so that an interrupted update never starts.
    ErrorCode setSignature(bool present);

    // Binds the area to an existing flash file and takes its contents. 0;
    // ERROR_FILE_NOT_FOUND when there is none; ERROR_INVALID_DATA when it is not a
    // flash file of this area and page size; ERROR_SHARING_VIOLATION when another
    // simulator holds it; or the error of reading it.
    ErrorCode load(const std::string& path);
    // Writes the current contents to a new flash file (replacing any) and binds to it.
    ErrorCode create(const std::string& path);
    bool backed() const noexcept { return _file.valid(); }

private:
    ErrorCode writeThrough(std::uint64_t offset, std::span<const std::uint8_t> data);
    std::vector<std::uint8_t> header(bool signature) const;

    const std::uint32_t _start;
    const std::uint32_t _end;
    const std::uint32_t _pageSize;
    std::vector<std::uint8_t> _memory;
    bool _signature = false;
    wyr::windows::system::Descriptor _file;
};

} // namespace sim
