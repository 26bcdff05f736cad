#include "device/SerialPortEnumerator.h"

#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/Descriptor.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/TextConversion.h"

#include <cerrno>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <linux/serial.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace device {

using namespace wyr::windows::system;
using wyr::windows::communication::PortMap;
using wyr::windows::logging::log;
using wyr::windows::logging::logSystemError;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::logging::trace;

namespace {

namespace fs = std::filesystem;

// Sysfs attributes are at most a page.
constexpr std::size_t kAttributeLimit = 4096;
// Device trees are shallow; the bound only guards against a looping fake tree.
constexpr int kMaxClimb = 32;

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The entry names of a directory in the order the file system gives them.
std::vector<std::string> entryNames(DIR* dir) {
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    return names;
}

bool targetExists(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

bool entryExists(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

std::string trimmed(std::string text) {
    const auto isBlank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && isBlank(text.back())) {
        text.pop_back();
    }
    std::size_t start = 0;
    while (start < text.size() && isBlank(text[start])) {
        ++start;
    }
    return text.substr(start);
}

// A sysfs attribute's text without surrounding white space. False when it is
// missing, not a regular file or unreadable; a fake tree may hold anything here,
// so nothing is opened that could block.
bool readAttribute(const fs::path& path, std::string& text) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    std::string content(kAttributeLimit, '\0');
    std::size_t length = 0;
    while (length < content.size()) {
        const ssize_t n = ::read(file.get(), content.data() + length, content.size() - length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        length += static_cast<std::size_t>(n);
    }
    content.resize(length);
    text = trimmed(std::move(content));
    return true;
}

std::string linkTarget(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.string();
}

// Device strings come from the device itself and link targets from anyone: no
// control characters get through to a caller that prints one port per line.
std::wstring displayText(const std::string& text) {
    std::wstring wide = toWide(text);
    for (wchar_t& c : wide) {
        if (c < L' ' || c == 0x7F) {
            c = L' ';
        }
    }
    return toWide(trimmed(toNarrow(wide)));
}

bool isUnder(const fs::path& path, const fs::path& root) {
    const std::string base = root.string() + "/";
    return path.string().compare(0, base.size(), base) == 0;
}

} // namespace

SerialPortEnumerator::SerialPortEnumerator(PortMap portMap, std::string sysfsRoot, std::string devRoot)
    : _portMap(std::move(portMap)), _sysfsRoot(std::move(sysfsRoot)), _devRoot(std::move(devRoot)) {}

bool SerialPortEnumerator::enumeratePorts(std::vector<SerialPortEntry>& ports) const {
    static constexpr const char* kContext = "SerialPortEnumerator::enumeratePorts";
    trace(kContext);

    ports.clear();

    const fs::path classes = fs::path(_sysfsRoot) / "class";
    struct stat status {};
    if (::stat(classes.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        log(LogVerbosity::Error, kContext, L"Device tree <%s> not available [%d].", _sysfsRoot.c_str(),
            ERROR_CALL_NOT_IMPLEMENTED);
        logSystemError(ERROR_CALL_NOT_IMPLEMENTED, kContext);
        setLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }
    const fs::path ttyClass = classes / "tty";
    const DirHandle ttys(::opendir(ttyClass.c_str()));
    if (!ttys) {
        const ErrorCode error = setLastErrorFromErrno();
        log(LogVerbosity::Error, kContext, L"opendir(%s) failed [%d].", ttyClass.c_str(), error);
        logSystemError(error, kContext);
        setLastError(error);
        return false;
    }

    _addLinkedPorts(ports);
    for (const std::string& name : entryNames(ttys.get())) {
        _addKernelPort(name, ports);
    }
    for (const SerialPortEntry& entry : ports) {
        log(LogVerbosity::DebugLevel3, kContext, L"COM%d <%ls>", entry.portNumber, entry.description.c_str());
    }
    return true;
}

std::string SerialPortEnumerator::devicePathForPort(std::int32_t port) const {
    trace("SerialPortEnumerator::devicePathForPort");
    if (port <= 0) {
        return {};
    }
    const std::string path = _portMap.devicePathForPort(static_cast<unsigned>(port));
    constexpr std::string_view kDev = "/dev";
    if (!path.empty() && path == PortMap::kernelDevicePath(static_cast<unsigned>(port))) {
        return _devRoot + path.substr(kDev.size());
    }
    return path;
}

void SerialPortEnumerator::_addLinkedPorts(std::vector<SerialPortEntry>& ports) const {
    if (_portMap.portDirectory().empty()) {
        return;
    }
    // A missing or unreadable port directory just means nobody published a port.
    const DirHandle directory(::opendir(_portMap.portDirectory().c_str()));
    if (!directory) {
        return;
    }
    for (const std::string& name : entryNames(directory.get())) {
        const unsigned port = PortMap::parsePortName(toWide(name));
        const fs::path link = fs::path(_portMap.portDirectory()) / name;
        // Only the spelling PortMap looks up ("COM7", not "com7" or "COM07") opens
        // this link; a dangling link is a port that has gone.
        if (port == PortMap::kNoPort || _portMap.devicePathForPort(port) != link.string() ||
            !targetExists(link)) {
            continue;
        }
        ports.push_back(
            {static_cast<std::int32_t>(port), displayText("Linked port (" + linkTarget(link) + ")")});
    }
}

void SerialPortEnumerator::_addKernelPort(const std::string& name,
                                          std::vector<SerialPortEntry>& ports) const {
    // Virtual terminals, the console and pseudo-terminals have no device behind them.
    if (!entryExists(fs::path(_sysfsRoot) / "class" / "tty" / name / "device")) {
        return;
    }
    // Devices outside PortMap's numbering (ttyUSB32, rfcomm0, ttyGS0 ...) cannot be
    // addressed by a COM number, so they are not listed.
    const unsigned port = PortMap::kernelPortNumber("/dev/" + name);
    if (port == PortMap::kNoPort) {
        return;
    }
    // A link in the port directory takes the number: COM n would not open this device.
    if (_portMap.devicePathForPort(port) != PortMap::kernelDevicePath(port)) {
        return;
    }
    // Containers see the host's sysfs but not necessarily its device nodes.
    if (!targetExists(fs::path(_devRoot) / name)) {
        return;
    }
    if (name.compare(0, 4, "ttyS") == 0 && !_uartTypeKnown(name)) {
        return;
    }
    ports.push_back({static_cast<std::int32_t>(port), _describe(name)});
}

// Legacy ports are registered for every possible UART whether fitted or not; the
// UART type tells them apart. The type attribute comes first because opening a
// real port raises its modem lines, and the probe must not disturb equipment on
// ports it merely lists. Without the attribute (old kernels) the port is asked.
bool SerialPortEnumerator::_uartTypeKnown(const std::string& name) const {
    std::string text;
    if (readAttribute(fs::path(_sysfsRoot) / "class" / "tty" / name / "type", text)) {
        int type = PORT_UNKNOWN;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), type);
        if (error == std::errc() && end == text.data() + text.size()) {
            return type != PORT_UNKNOWN;
        }
    }
    const fs::path node = fs::path(_devRoot) / name;
    const Descriptor port(::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    serial_struct info{};
    return port && ::ioctl(port.get(), TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
}

std::wstring SerialPortEnumerator::_describe(const std::string& name) const {
    std::error_code error;
    const fs::path root = fs::canonical(_sysfsRoot, error);
    if (error) {
        return {};
    }
    const fs::path device = fs::canonical(fs::path(_sysfsRoot) / "class" / "tty" / name / "device", error);
    if (error || !isUnder(device, root)) {
        return {};
    }

    // The nearest USB device above the port (hubs further up have strings too).
    fs::path dir = device;
    for (int level = 0; level < kMaxClimb && isUnder(dir, root); ++level, dir = dir.parent_path()) {
        if (!entryExists(dir / "idVendor")) {
            continue;
        }
        std::string product;
        std::string manufacturer;
        const bool hasProduct = readAttribute(dir / "product", product) && !product.empty();
        const bool hasManufacturer =
            readAttribute(dir / "manufacturer", manufacturer) && !manufacturer.empty();
        if (hasProduct && hasManufacturer) {
            return displayText(product + " (" + manufacturer + ")");
        }
        if (hasProduct || hasManufacturer) {
            return displayText(hasProduct ? product : manufacturer);
        }
        break;
    }

    // Else the driver of the port's device; the serial core's own port and
    // controller devices in between say nothing about the hardware.
    dir = device;
    for (int level = 0; level < kMaxClimb && isUnder(dir, root); ++level, dir = dir.parent_path()) {
        if (fs::path(linkTarget(dir / "subsystem")).filename() == "serial-base") {
            continue;
        }
        return displayText(fs::path(linkTarget(dir / "driver")).filename().string());
    }
    return {};
}

} // namespace device
