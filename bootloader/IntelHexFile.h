#pragma once

#include "bootloader/InfoBlock.h"
#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/SystemError.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace bootloader {

// The firmware image to be programmed, read from an Intel HEX file one line per
// call so that the caller can report progress between lines. Only data (00) and
// end-of-file (01) records with 16-bit addresses are accepted. At the end of the
// file the bytes are cut into flash pages of the size that the image's own info
// block (its highest twelve bytes) names.
//
// Any rejected line, and a file that cannot be completed, leaves the object empty:
// there is never a half-loaded image.
class IntelHexFile : private wyr::memory::NonCopyable {
public:
    using ErrorCode = wyr::windows::system::ErrorCode;
    using Page = std::vector<std::uint8_t>;
    using PageMap = std::map<std::uint32_t, Page>; // page number -> exactly one page of bytes

    struct FlashMap {
        bool loaded = false;
        PageMap pages;
        std::uint32_t pageCount = 0;
        InfoBlock infoBlock; // the image's SourceInfoBlock
    };

    // ':' + count, address and type + 255 data bytes + checksum, as hex digit pairs.
    static constexpr std::size_t kMaximumRecordLength = 1 + 8 + 2 * 255 + 2;
    // Flash addresses travel as 24 bits, so no page can be larger.
    static constexpr std::uint8_t kMaximumPageSizeCode = 24;

    IntelHexFile();
    ~IntelHexFile();

    // Empties the object, opens `path` (UTF-8) and counts its lines. 0, or 110
    // when the file cannot be opened or read.
    ErrorCode open(const std::string& path, std::uint32_t& lineCount);

    // Reads and takes in one line: 234 when a line was accepted, 38 once the whole
    // file is read and the flash map built; any other code is a rejection, after
    // which the object is empty.
    ErrorCode processNextLine();

    // Writes `serial` into the loaded image's info block and rebuilds the flash map.
    // 487 when there is no loaded image to write it into.
    ErrorCode setSerialNumber(std::uint16_t serial);

    // Logs the image's info block and its pages.
    void dumpProperties() const;
    // The flash-map lines that dumpProperties logs after the info block.
    std::vector<std::wstring> flashMapText() const;

    // Closes the file and forgets everything read.
    void reset();

    bool loaded() const noexcept { return _flashMap.loaded; }
    const FlashMap& flashMap() const noexcept { return _flashMap; }
    const PageMap& pages() const noexcept { return _flashMap.pages; }
    std::uint32_t pageCount() const noexcept { return _flashMap.pageCount; }
    const InfoBlock& infoBlock() const noexcept { return _flashMap.infoBlock; }

    bool isOpen() const noexcept { return _file != nullptr; }
    std::size_t byteCount() const noexcept { return _bytes.size(); }
    std::uint32_t lowestAddress() const noexcept { return _lowest; }
    std::uint32_t highestAddress() const noexcept { return _highest; }
    // The number of lines read since the file was opened.
    std::uint32_t lineNumber() const noexcept { return _lineNumber; }

private:
    enum class LineRead { Line, End, TooLong, Failed };

    struct FileCloser {
        void operator()(std::FILE* file) const noexcept;
    };

    LineRead readLine(std::string& line);
    ErrorCode parseLine(std::string& line);
    ErrorCode buildFlashMap();
    bool readSourceInfoBlock(InfoBlock& block) const;
    ErrorCode endOfFile();

    std::unique_ptr<std::FILE, FileCloser> _file;
    std::map<std::uint32_t, std::uint8_t> _bytes; // address -> byte
    std::uint32_t _lowest = 0xFFFFFFFF;
    std::uint32_t _highest = 0;
    std::uint32_t _lineNumber = 0;
    bool _endRecordLast = false; // the last record read was an end-of-file record
    FlashMap _flashMap;
};

} // namespace bootloader
