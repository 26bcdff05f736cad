#include "wyr/windows/communication/PortMap.h"

#include <charconv>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace wyr::windows::communication {

namespace {

namespace fs = std::filesystem;

struct DeviceFamily {
    std::string_view prefix;
    unsigned firstPort;
};

constexpr unsigned kFamilySize = 32;
constexpr DeviceFamily kFamilies[] = {
    {"/dev/ttyS", 1},
    {"/dev/ttyUSB", 33},
    {"/dev/ttyACM", 65},
    {"/dev/ttyAMA", 97},
};

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// A directory in a shared place is ours only if nobody else could have made or
// changed it.
bool privatelyOwned(const std::string& directory) {
    struct stat status {};
    return ::lstat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::getuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

unsigned parseNumber(std::string_view digits) {
    unsigned value = 0;
    if (digits.empty() || digits.size() > 6 || (digits.size() > 1 && digits.front() == '0')) {
        return PortMap::kNoPort;
    }
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc() && end == digits.data() + digits.size() ? value : PortMap::kNoPort;
}

// The same file whichever way it is named; false when either side is missing.
// (std::filesystem::equivalent refuses to compare device files.)
bool sameFile(const fs::path& a, const fs::path& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace

PortMap PortMap::fromEnvironment() {
    if (std::string explicitDirectory = environment("ORVANE_PORT_DIR"); !explicitDirectory.empty()) {
        return PortMap(std::move(explicitDirectory));
    }
    if (const std::string runtime = environment("XDG_RUNTIME_DIR"); !runtime.empty()) {
        return PortMap(runtime + "/orvane/ports");
    }
    std::string temporary = environment("TMPDIR");
    if (temporary.empty()) {
        temporary = "/tmp";
    }
    const std::string own = temporary + "/orvane-" + std::to_string(::getuid());
    return PortMap(privatelyOwned(own) ? own + "/ports" : std::string());
}

std::string PortMap::devicePathForPort(unsigned port) const {
    if (port == kNoPort) {
        return {};
    }
    if (!_portDirectory.empty()) {
        const fs::path link = fs::path(_portDirectory) / ("COM" + std::to_string(port));
        std::error_code error;
        if (fs::is_symlink(fs::symlink_status(link, error))) {
            return link.string();
        }
    }
    return kernelDevicePath(port);
}

unsigned PortMap::portForDevicePath(const std::string& path) const {
    if (path.empty()) {
        return kNoPort;
    }
    if (!_portDirectory.empty()) {
        std::error_code error;
        const fs::path given(path);
        if (given.parent_path() == fs::path(_portDirectory) &&
            fs::is_symlink(fs::symlink_status(given, error))) {
            const std::string name = given.filename().string();
            if (name.size() > 3 && name.compare(0, 3, "COM") == 0) {
                if (const unsigned port = parseNumber(std::string_view(name).substr(3)); port != kNoPort) {
                    return port;
                }
            }
        }
        for (fs::directory_iterator it(_portDirectory, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.size() <= 3 || name.compare(0, 3, "COM") != 0 || !it->is_symlink(error)) {
                continue;
            }
            const unsigned port = parseNumber(std::string_view(name).substr(3));
            if (port != kNoPort && sameFile(it->path(), given)) {
                return port;
            }
        }
    }
    if (const unsigned port = kernelPortNumber(path); port != kNoPort) {
        return port;
    }
    // A kernel device reached through another name (/dev/serial/by-id/...).
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    return error ? kNoPort : kernelPortNumber(target.string());
}

std::string PortMap::kernelDevicePath(unsigned port) {
    for (const auto& family : kFamilies) {
        if (port >= family.firstPort && port < family.firstPort + kFamilySize) {
            return std::string(family.prefix) + std::to_string(port - family.firstPort);
        }
    }
    return {};
}

unsigned PortMap::kernelPortNumber(std::string_view devicePath) {
    for (const auto& family : kFamilies) {
        if (devicePath.size() > family.prefix.size() &&
            devicePath.substr(0, family.prefix.size()) == family.prefix) {
            const std::string_view digits = devicePath.substr(family.prefix.size());
            const unsigned index = parseNumber(digits);
            // parseNumber gives 0 for "0" as for garbage; tell them apart.
            if (digits == "0") {
                return family.firstPort;
            }
            if (index != kNoPort && index < kFamilySize) {
                return family.firstPort + index;
            }
        }
    }
    return kNoPort;
}

unsigned PortMap::parsePortArgument(std::string_view text) {
    const bool digitsOnly = !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    const std::string name = digitsOnly ? "COM" + std::string(text) : std::string(text);
    const unsigned port = parsePortName(std::wstring(name.begin(), name.end()));
    return port == 0 || port > kMaxUserPort ? kNoPort : port;
}

unsigned PortMap::parsePortName(std::wstring_view name) {
    constexpr std::wstring_view devicePrefix = L"\\\\.\\";
    if (name.substr(0, devicePrefix.size()) == devicePrefix) {
        name.remove_prefix(devicePrefix.size());
    }
    if (name.size() <= 3 || std::towupper(name[0]) != L'C' || std::towupper(name[1]) != L'O' ||
        std::towupper(name[2]) != L'M') {
        return kNoPort;
    }
    std::string digits;
    for (const wchar_t c : name.substr(3)) {
        if (c < L'0' || c > L'9') {
            return kNoPort;
        }
        digits.push_back(static_cast<char>(c));
    }
    return parseNumber(digits);
}

} // namespace wyr::windows::communication
