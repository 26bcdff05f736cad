// Feeds arbitrary bytes to the HEX reader as a file and checks that it either
// loads a consistent image or ends empty, never half-loaded.
#include "bootloader/IntelHexFile.h"
#include "wyr/windows/logging/LogBeacon.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

constexpr std::uint32_t kMoreData = 234;
constexpr std::uint32_t kEndOfFile = 38;

const std::string& scratchPath() {
    static const std::string path = [] {
        char name[] = "/tmp/intelhex-fuzz-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd < 0) {
            std::abort();
        }
        ::close(fd);
        return std::string(name);
    }();
    return path;
}

// A listener that takes every verbosity, so that every log line is formatted.
void setUpLogging() {
    static const bool done = [] {
        wyr::windows::logging::LogBeacon::instance().connect([](const wyr::windows::logging::LogVerbosity&,
                                                                wyr::windows::system::SYSTEMTIME,
                                                                const wchar_t*, const wchar_t*) {},
                                                             0xFFFF);
        return true;
    }();
    (void)done;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setUpLogging();
    const std::string& path = scratchPath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    check(file != nullptr);
    check(std::fwrite(data, 1, size, file) == size);
    std::fclose(file);

    bootloader::IntelHexFile hex;
    std::uint32_t lines = 0;
    check(hex.open(path, lines) == 0);
    std::uint32_t code = 0;
    std::uint64_t calls = 0;
    do {
        code = hex.processNextLine();
        ++calls;
        check(calls <= std::uint64_t{lines} + 1);
    } while (code == kMoreData);

    if (code == kEndOfFile) {
        check(hex.loaded() && !hex.isOpen());
        check(hex.pageCount() == hex.pages().size() && !hex.pages().empty());
        const std::uint32_t pageSize = hex.infoBlock().pageSize();
        for (const auto& [number, page] : hex.pages()) {
            check(page.size() == pageSize);
        }
        check(hex.setSerialNumber(0xBEEF) == 0 && hex.infoBlock().serialNo == 0xBEEF);
        check(hex.processNextLine() == kEndOfFile);
    } else {
        check(!hex.loaded() && !hex.isOpen() && hex.pages().empty() && hex.byteCount() == 0);
        check(hex.setSerialNumber(1) == 487);
    }
    // libFuzzer ends without running exit handlers, so nothing stays behind.
    ::unlink(path.c_str());
    wyr::windows::logging::LogBeacon::instance().flush();
    return 0;
}
