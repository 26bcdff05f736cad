#include "bootloader/IntelHexFile.h"

#include "bootloader/InfoBlockField.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/TextFormat.h"

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <limits>

namespace bootloader {

using wyr::windows::logging::log;
using wyr::windows::logging::logSystemError;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::system::formatText;
namespace sys = wyr::windows::system;

namespace {

constexpr const char* kOpenContext = "bootloader::IntelHexFile::open";
constexpr const char* kNextLineContext = "bootloader::IntelHexFile::processNextLine";
constexpr const char* kParseContext = "bootloader::IntelHexFile::parseLine";
constexpr const char* kBuildContext = "bootloader::IntelHexFile::buildFlashMap";
constexpr const char* kSerialContext = "bootloader::IntelHexFile::setSerialNumber";
constexpr const char* kDumpContext = "bootloader::IntelHexFile::dumpProperties";
const wchar_t* const kRule = L"============================================================";

constexpr std::uint8_t kDataRecord = 0x00;
constexpr std::uint8_t kEndOfFileRecord = 0x01;
constexpr std::uint8_t kExtendedSegmentAddressRecord = 0x02;
constexpr std::uint8_t kExtendedLinearAddressRecord = 0x04;
// ':' + byte count, address and record type.
constexpr std::size_t kHeaderLength = 9;

// Logs a failure as the usual pair: the message, whose format ends by naming the
// code, then the code's system text.
template <typename... Args>
sys::ErrorCode fail(sys::ErrorCode code, const char* context, const wchar_t* format, Args... args) {
    log(LogVerbosity::Error, context, format, args..., code);
    logSystemError(code, context);
    return code;
}

int hexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The byte of the two hex digits at `pos`; the caller has checked every digit.
std::uint8_t hexByte(const std::string& line, std::size_t pos) noexcept {
    return static_cast<std::uint8_t>((hexDigit(line[pos]) << 4) | hexDigit(line[pos + 1]));
}

} // namespace

void IntelHexFile::FileCloser::operator()(std::FILE* file) const noexcept {
    std::fclose(file);
}

IntelHexFile::IntelHexFile() {
    reset();
}

IntelHexFile::~IntelHexFile() = default;

void IntelHexFile::reset() {
    _file.reset();
    _bytes.clear();
    _lowest = 0xFFFFFFFF;
    _highest = 0;
    _lineNumber = 0;
    _endRecordLast = false;
    _flashMap = FlashMap{};
    _flashMap.infoBlock.type = InfoBlockType::SourceInfoBlock;
}

IntelHexFile::ErrorCode IntelHexFile::open(const std::string& path, std::uint32_t& lineCount) {
    reset();
    lineCount = 0;
    const std::wstring widePath = sys::toWide(path);

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rbe"));
    if (!file) {
        const sys::ErrorCode reason = sys::errorFromErrno(errno);
        return fail(sys::ERROR_OPEN_FAILED, kOpenContext, L"Cannot open firmware file [%ls]: %ls [%u].",
                    widePath.c_str(), sys::systemMessage(reason).c_str());
    }

    // Lines are what "\n" ends, plus a last line without one.
    std::uint64_t lines = 0;
    int last = EOF;
    char buffer[8192];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        lines += static_cast<std::uint64_t>(std::count(buffer, buffer + n, '\n'));
        last = static_cast<unsigned char>(buffer[n - 1]);
    }
    // A directory opens but cannot be read.
    if (std::ferror(file.get()) != 0) {
        const sys::ErrorCode reason = sys::errorFromErrno(errno);
        return fail(sys::ERROR_OPEN_FAILED, kOpenContext, L"Cannot read firmware file [%ls]: %ls [%u].",
                    widePath.c_str(), sys::systemMessage(reason).c_str());
    }
    if (last != EOF && last != '\n') {
        ++lines;
    }
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) {
        const sys::ErrorCode reason = sys::errorFromErrno(errno);
        return fail(sys::ERROR_OPEN_FAILED, kOpenContext, L"Cannot rewind firmware file [%ls]: %ls [%u].",
                    widePath.c_str(), sys::systemMessage(reason).c_str());
    }

    _file = std::move(file);
    lineCount =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(lines, std::numeric_limits<std::uint32_t>::max()));
    log(LogVerbosity::Information, kOpenContext, L"Opened firmware file [%ls], %u lines.", widePath.c_str(),
        lineCount);
    return sys::ERROR_SUCCESS;
}

IntelHexFile::LineRead IntelHexFile::readLine(std::string& line) {
    line.clear();
    bool any = false;
    int c = EOF;
    while ((c = std::getc(_file.get())) != EOF) {
        any = true;
        if (c == '\n') {
            return LineRead::Line;
        }
        // One more than a record, for a "\r" before the "\n".
        if (line.size() > kMaximumRecordLength) {
            return LineRead::TooLong;
        }
        line.push_back(static_cast<char>(c));
    }
    if (std::ferror(_file.get()) != 0) {
        return LineRead::Failed;
    }
    return any ? LineRead::Line : LineRead::End;
}

IntelHexFile::ErrorCode IntelHexFile::processNextLine() {
    if (!_file) {
        if (_flashMap.loaded) {
            return sys::ERROR_HANDLE_EOF;
        }
        return fail(sys::ERROR_READ_FAULT, kNextLineContext, L"No firmware file is open [%u].");
    }

    std::string line;
    ErrorCode result = sys::ERROR_MORE_DATA;
    switch (readLine(line)) {
    case LineRead::Line:
        ++_lineNumber;
        result = parseLine(line);
        if (result == sys::ERROR_SUCCESS) {
            return sys::ERROR_MORE_DATA;
        }
        break;
    case LineRead::TooLong:
        ++_lineNumber;
        result = fail(sys::ERROR_INVALID_DATA, kNextLineContext,
                      L"Line %u is longer than any record (%zu characters at most) [%u].", _lineNumber,
                      kMaximumRecordLength);
        break;
    case LineRead::End:
        result = endOfFile();
        if (result == sys::ERROR_HANDLE_EOF) {
            _file.reset();
            return result;
        }
        break;
    case LineRead::Failed: {
        const sys::ErrorCode reason = sys::errorFromErrno(errno);
        result = fail(sys::ERROR_READ_FAULT, kNextLineContext, L"Reading line %u failed: %ls [%u].",
                      _lineNumber + 1, sys::systemMessage(reason).c_str());
        break;
    }
    }
    reset();
    return result;
}

IntelHexFile::ErrorCode IntelHexFile::endOfFile() {
    // Without a closing end-of-file record the file may have been cut short at a
    // line boundary, and its info block would be read from the wrong bytes.
    if (!_endRecordLast) {
        return fail(sys::ERROR_READ_FAULT, kNextLineContext,
                    L"The file ends after line %u without an end-of-file record; it may be truncated [%u].",
                    _lineNumber);
    }
    if (buildFlashMap() != sys::ERROR_SUCCESS) {
        return fail(sys::ERROR_READ_FAULT, kNextLineContext,
                    L"End of file after line %u: the flash map cannot be built [%u].", _lineNumber);
    }
    return sys::ERROR_HANDLE_EOF;
}

IntelHexFile::ErrorCode IntelHexFile::parseLine(std::string& line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    const std::uint32_t n = _lineNumber;
    if (line.empty()) {
        return fail(sys::ERROR_INVALID_DATA, kParseContext, L"Line %u is empty [%u].", n);
    }
    if (line[0] != ':') {
        return fail(sys::ERROR_INVALID_DATA, kParseContext, L"Line %u does not begin with ':' [%u].", n);
    }
    if (line.size() < kHeaderLength + 2) {
        return fail(sys::ERROR_INVALID_DATA, kParseContext,
                    L"Line %u is too short for a record: %zu characters, at least %zu needed [%u].", n,
                    line.size(), kHeaderLength + 2);
    }
    const auto bad = std::find_if(line.begin() + 1, line.end(), [](char c) { return hexDigit(c) < 0; });
    if (bad != line.end()) {
        return fail(sys::ERROR_INVALID_DATA, kParseContext,
                    L"Line %u holds a character that is not a hexadecimal digit at column %zu [%u].", n,
                    static_cast<std::size_t>(bad - line.begin()) + 1);
    }

    const std::uint8_t count = hexByte(line, 1);
    const std::size_t expected = kHeaderLength + 2U * count + 2;
    if (line.size() != expected) {
        return fail(sys::ERROR_INVALID_DATA, kParseContext,
                    L"Line %u has %zu characters; a record of %u data bytes has %zu [%u].", n, line.size(),
                    unsigned{count}, expected);
    }

    const std::uint8_t addressHigh = hexByte(line, 3);
    const std::uint8_t addressLow = hexByte(line, 5);
    const std::uint8_t type = hexByte(line, 7);
    if (type == kExtendedSegmentAddressRecord || type == kExtendedLinearAddressRecord) {
        return fail(
            sys::ERROR_INVALID_DATA, kParseContext,
            L"Line %u is an extended address record (type %02X); the image takes 16-bit addresses only [%u].",
            n, unsigned{type});
    }
    if (type != kDataRecord && type != kEndOfFileRecord) {
        return fail(
            sys::ERROR_INVALID_DATA, kParseContext,
            L"Line %u has record type %02X; only data (00) and end-of-file (01) records are accepted [%u].",
            n, unsigned{type});
    }

    // Every record's checksum counts, the end-of-file record's too: a data record
    // whose type digit was damaged into 01 would otherwise vanish unnoticed.
    std::uint8_t sum = 0;
    for (std::size_t pos = 1; pos < line.size(); pos += 2) {
        sum = static_cast<std::uint8_t>(sum + hexByte(line, pos));
    }
    if (sum != 0) {
        const std::uint8_t stated = hexByte(line, line.size() - 2);
        return fail(sys::ERROR_DATA_CHECKSUM_ERROR, kParseContext,
                    L"Line %u fails its checksum: it states 0x%02X, the record needs 0x%02X [%u].", n,
                    unsigned{stated}, static_cast<unsigned>(static_cast<std::uint8_t>(stated - sum)));
    }

    if (type == kEndOfFileRecord) {
        _endRecordLast = true;
        return sys::ERROR_SUCCESS;
    }

    const std::uint32_t address = (std::uint32_t{addressHigh} << 8) | addressLow;
    // Two records may state the same byte twice, but never two different bytes
    // for one address: that image is ambiguous.
    const std::uint32_t noRepeat = 0xFFFFFFFF;
    std::uint32_t firstRepeat = noRepeat;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto it = _bytes.find(address + i);
        if (it == _bytes.end()) {
            continue;
        }
        const std::uint8_t value = hexByte(line, kHeaderLength + 2 * i);
        if (it->second != value) {
            return fail(sys::ERROR_INVALID_DATA, kParseContext,
                        L"Line %u sets address 0x%06x to 0x%02X, an earlier line set it to 0x%02X [%u].", n,
                        address + i, unsigned{value}, unsigned{it->second});
        }
        firstRepeat = std::min(firstRepeat, address + i);
    }
    if (firstRepeat != noRepeat) {
        log(LogVerbosity::Warning, kParseContext, L"Line %u repeats bytes from address 0x%06x unchanged.", n,
            firstRepeat);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t at = address + i;
        _bytes.emplace(at, hexByte(line, kHeaderLength + 2 * i));
        _lowest = std::min(_lowest, at);
        _highest = std::max(_highest, at);
    }
    _endRecordLast = false;
    return sys::ERROR_SUCCESS;
}

bool IntelHexFile::readSourceInfoBlock(InfoBlock& block) const {
    if (_bytes.empty()) {
        log(LogVerbosity::Error, kBuildContext, L"The image holds no data, so it has no info block.");
        return false;
    }
    const std::uint32_t top = _highest;
    if (top < InfoBlockField::kBlockSize - 1) {
        log(LogVerbosity::Error, kBuildContext,
            L"The image ends at 0x%06x, below the %u bytes of an info block.", top,
            InfoBlockField::kBlockSize);
        return false;
    }
    for (std::uint32_t offset = 0; offset < InfoBlockField::kBlockSize; ++offset) {
        if (!_bytes.contains(top - offset)) {
            log(LogVerbosity::Error, kBuildContext,
                L"The image lacks byte 0x%06x of its info block (%u bytes ending at 0x%06x).", top - offset,
                InfoBlockField::kBlockSize, top);
            return false;
        }
    }
    const auto at = [&](const InfoBlockField& field, std::uint32_t index = 0) {
        return _bytes.at(field.address(top, index));
    };

    InfoBlock read;
    read.type = InfoBlockType::SourceInfoBlock;
    read.length = at(InfoBlockField::InfoBlockLength);
    read.productCode = at(InfoBlockField::ProductCode);
    read.bootloaderType = at(InfoBlockField::BootLoadType);
    read.pageSizeCode = at(InfoBlockField::FlashPageSizeCode);
    read.packetSizeCode = static_cast<std::uint8_t>(at(InfoBlockField::PacketBufferSizeCode) >> 4);
    read.bufferSizeCode = static_cast<std::uint8_t>(at(InfoBlockField::PacketBufferSizeCode) & 0x0F);
    read.crcType = at(InfoBlockField::CRCTypeCode);
    const std::uint8_t version[4] = {
        at(InfoBlockField::AppFWVersionLow, 0), at(InfoBlockField::AppFWVersionLow, 1),
        at(InfoBlockField::AppFWVersionLow, 2), at(InfoBlockField::AppFWVersionLow, 3)};
    if (!read.version.pack(version)) {
        log(LogVerbosity::Error, kBuildContext, L"The image's version cannot be packed.");
        return false;
    }
    read.serialNo =
        static_cast<std::uint16_t>(at(InfoBlockField::SerialNo, 0) | (at(InfoBlockField::SerialNo, 1) << 8));
    read.appStart = _lowest;
    read.appEnd = _highest;
    block = read;
    return true;
}

IntelHexFile::ErrorCode IntelHexFile::buildFlashMap() {
    InfoBlock block;
    if (!readSourceInfoBlock(block)) {
        return sys::ERROR_INVALID_DATA;
    }
    const std::uint8_t code = block.pageSizeCode;
    if (code > kMaximumPageSizeCode) {
        log(LogVerbosity::Error, kBuildContext,
            L"The image's page size code %u is beyond the largest page (code %u).", unsigned{code},
            unsigned{kMaximumPageSizeCode});
        return sys::ERROR_INVALID_DATA;
    }

    // Bytes no record filled read as erased flash.
    const std::uint32_t pageSize = block.pageSize();
    PageMap pages;
    auto it = _bytes.begin();
    while (it != _bytes.end()) {
        const std::uint32_t page = it->first >> code;
        const std::uint32_t base = page << code;
        Page bytes(pageSize, 0xFF);
        for (; it != _bytes.end() && (it->first >> code) == page; ++it) {
            bytes[it->first - base] = it->second;
        }
        pages.emplace(page, std::move(bytes));
    }

    _flashMap.pages = std::move(pages);
    _flashMap.pageCount = static_cast<std::uint32_t>(_flashMap.pages.size());
    _flashMap.infoBlock = block;
    _flashMap.loaded = true;
    dumpProperties();
    return sys::ERROR_SUCCESS;
}

IntelHexFile::ErrorCode IntelHexFile::setSerialNumber(std::uint16_t serial) {
    // The bytes could exist half-way through a file; writing then would leave a
    // flash map built from part of the image.
    if (!_flashMap.loaded) {
        return fail(sys::ERROR_INVALID_ADDRESS, kSerialContext,
                    L"No image is loaded, so serial number %u has nowhere to go [%u].", unsigned{serial});
    }
    const std::uint32_t top = _highest;
    const auto low = top >= InfoBlockField::SerialNo.offset()
                         ? _bytes.find(InfoBlockField::SerialNo.address(top, 0))
                         : _bytes.end();
    const auto high = top >= InfoBlockField::SerialNo.offset() + 1
                          ? _bytes.find(InfoBlockField::SerialNo.address(top, 1))
                          : _bytes.end();
    if (low == _bytes.end() || high == _bytes.end()) {
        return fail(sys::ERROR_INVALID_ADDRESS, kSerialContext,
                    L"The image has no serial number bytes below 0x%06x [%u].", top);
    }
    const std::uint8_t previous[2] = {low->second, high->second};
    low->second = static_cast<std::uint8_t>(serial & 0xFF);
    high->second = static_cast<std::uint8_t>(serial >> 8);
    const ErrorCode result = buildFlashMap();
    if (result != sys::ERROR_SUCCESS) {
        // Keep the bytes in step with the pages that are still in place.
        low->second = previous[0];
        high->second = previous[1];
        return fail(result, kSerialContext, L"The flash map cannot be rebuilt with serial number %u [%u].",
                    unsigned{serial});
    }
    log(LogVerbosity::Information, kSerialContext, L"Serial number set to %u.", unsigned{serial});
    return result;
}

void IntelHexFile::dumpProperties() const {
    if (!wyr::windows::logging::logEnabled(LogVerbosity::Information)) {
        return;
    }
    dump(_flashMap.infoBlock);
    for (const std::wstring& line : flashMapText()) {
        log(LogVerbosity::Information, kDumpContext, L"%ls", line.c_str());
    }
}

std::vector<std::wstring> IntelHexFile::flashMapText() const {
    std::vector<std::wstring> lines;
    lines.emplace_back(kRule);
    lines.emplace_back(L"                         FLASH MAP");
    lines.emplace_back(kRule);
    lines.push_back(formatText(L"Page Count        : %d", static_cast<int>(_flashMap.pageCount)));
    lines.emplace_back(kRule);
    const std::uint8_t code = _flashMap.infoBlock.pageSizeCode;
    for (const auto& [page, bytes] : _flashMap.pages) {
        lines.push_back(formatText(L"Page Specified    : %d [0x%06x]", static_cast<int>(page),
                                   code < 32 ? page << code : 0U));
    }
    lines.emplace_back(kRule);
    return lines;
}

} // namespace bootloader
